// Event objects, message lookup in the compiled catalog, and reporting.
#include "events/PVXException.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <span>
#include <string_view>
#include <syslog.h>

char g_szMessagesPath[256] = "";

namespace pvx {

namespace {

bool g_bLogToSyslog = false;
bool g_bJournalPrefixes = false;

constexpr char kUnknownError[] = "Unknown Error";

// A catalog is a few kilobytes; anything past this is not read, so a hostile
// file cannot make the lookup allocate without bound.
constexpr std::size_t kMaxCatalogBytes = 1 << 20;

bool ReadCatalog(std::vector<std::uint8_t>& bytes)
{
    if (g_szMessagesPath[0] == '\0')
        return false;
    std::ifstream file(g_szMessagesPath, std::ios::binary | std::ios::ate);
    if (!file)
        return false;
    // Sized by the file, so that each lookup does not allocate and clear the whole bound.
    std::streamoff size = file.tellg();
    if (size < 0 || !file.seekg(0))
        return false;
    bytes.resize(std::min(static_cast<std::size_t>(size), kMaxCatalogBytes));
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return true;
}

// Reads `width` bytes (at most 4) little-endian at `offset` and moves past
// them. Events sit below the byte cursor's layer, so the catalog, a file from
// outside, is read with these few checked steps instead: a read that would
// leave the data fails and moves nothing.
bool ReadLittleEndian(std::span<const std::uint8_t> bytes, std::size_t& offset, std::size_t width, std::uint32_t& value)
{
    if (offset > bytes.size() || bytes.size() - offset < width)
        return false;
    value = 0;
    for (std::size_t i = width; i > 0; --i)
        value = (value << 8) | bytes[offset + i - 1];
    offset += width;
    return true;
}

// Walks the message-table layout: block count, block records {lowest,
// highest, offset}, then entries {length, flags, text}. Any read that fails
// stops the lookup with what it has.
void LookUpCatalog(std::uint32_t code, std::string& text)
{
    std::vector<std::uint8_t> bytes;
    if (!ReadCatalog(bytes))
        return;
    std::size_t at = 0;
    std::uint32_t blockCount = 0;
    if (!ReadLittleEndian(bytes, at, 4, blockCount) || blockCount == 0)
        return;
    std::uint32_t lowest = 0, highest = 0, offset = 0;
    bool found = false;
    for (std::uint32_t i = 0; i < blockCount && at < bytes.size(); ++i) {
        if (!ReadLittleEndian(bytes, at, 4, lowest) || !ReadLittleEndian(bytes, at, 4, highest)
            || !ReadLittleEndian(bytes, at, 4, offset))
            break;
        if (lowest <= code && code <= highest) {
            found = true;
            break;
        }
    }
    if (!found || offset > bytes.size())
        return;
    at = offset;
    for (std::uint32_t skip = code - lowest; skip > 0; --skip) {
        std::uint32_t length = 0;
        // An entry shorter than its own header would never move forward.
        if (!ReadLittleEndian(bytes, at, 2, length) || length < 4 || bytes.size() - at < length - 2u)
            return;
        at += length - 2u;
    }
    std::uint32_t length = 0, flags = 0;
    if (!ReadLittleEndian(bytes, at, 2, length) || !ReadLittleEndian(bytes, at, 2, flags))
        return;
    const std::size_t available = std::min<std::size_t>(length, bytes.size() - at);
    if (available == 0)
        return;
    std::string entry;
    for (std::size_t i = at; i < at + available && bytes[i] != 0; ++i)
        entry.push_back(static_cast<char>(bytes[i]));
    text.clear();
    for (std::size_t i = 0; i < entry.size(); ++i) {
        if (entry[i] == '\r' && i + 1 < entry.size() && entry[i + 1] == '\n')
            continue;
        text.push_back(entry[i]);
    }
}

// Text from outside (a configuration value) may hold any byte; what is not
// printable is shown as \xNN so that a line stays one line.
std::string Printable(const std::string& text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

// Writes `text` to standard error; with journal prefixes every line gets
// its priority in front, so that a detail line keeps its event's priority.
void WriteStandardError(std::string_view text, EPriority priority)
{
    if (g_bJournalPrefixes) {
        const char prefix[] = { '<', static_cast<char>('0' + static_cast<int>(priority)), '>' };
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find('\n', start);
            end = end == std::string_view::npos ? text.size() : end + 1;
            std::fwrite(prefix, 1, sizeof prefix, stderr);
            std::fwrite(text.data() + start, 1, end - start, stderr);
            start = end;
        }
    } else {
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
    std::fflush(stderr);
}

int SyslogPriority(EPriority priority) { return static_cast<int>(priority) | LOG_DAEMON; }

} // namespace

void GetMessageText(std::uint32_t code, std::string& text)
{
    if (code < 0x10000) {
        text = std::strerror(static_cast<int>(code));
        text += '\n';
        return;
    }
    text = kUnknownError;
    LookUpCatalog(code, text);
}

CPVXException::CPVXException(std::uint32_t code, std::vector<std::string> arguments)
    : m_arguments(std::move(arguments)), m_code(code)
{
}

void ThrowEvent(std::uint32_t code)
{
    throw CPVXException(code);
}

CPVXException CPVXException::FromSystemError()
{
    return CPVXException(static_cast<std::uint32_t>(errno));
}

void CPVXException::GetText(std::string& text) const
{
    GetMessageText(GetCode(), text);
}

void CPVXException::Report(EPriority priority) const
{
    if (GetCode() < 0x10000) {
        // The system's own text, reported without allocating: this is how
        // exhausted memory (code 12) is told.
        const char* system = std::strerror(static_cast<int>(GetCode()));
        if (g_bLogToSyslog) {
            syslog(SyslogPriority(priority), "%s\n", system);
        } else {
            // One line: the prefix (if any) is written once, before it.
            WriteStandardError(system, priority);
            std::fputc('\n', stderr);
            std::fflush(stderr);
        }
        return;
    }
    std::string text;
    if (!g_bLogToSyslog) {
        GetText(text);
        if (!m_detail.empty()) {
            // The detail goes on a line of its own, even after a text
            // without a line end (no catalog).
            if (!text.empty() && text.back() != '\n')
                text += '\n';
            text += Printable(m_detail) + '\n';
        }
        // The text is data: written as it stands, never used as a format.
        WriteStandardError(text, priority);
        return;
    }
    GetMessageText(GetCode(), text);
    if (text != kUnknownError)
        syslog(SyslogPriority(priority), "%s", text.c_str());
    // Logged even without a catalog: it alone names what to mend.
    if (!m_detail.empty())
        syslog(SyslogPriority(priority), "%s", Printable(m_detail).c_str());
}

void CPVXException::SetLogToSyslog(bool toSyslog)
{
    g_bLogToSyslog = toSyslog;
}

void CPVXException::SetJournalPrefixes(bool on)
{
    g_bJournalPrefixes = on;
}

void ReportNotice(std::uint32_t code)
{
    CPVXException(code).Report(EPriority::Warning);
}

void ReportLine(const std::string& line, EPriority priority)
{
    std::string text = Printable(line);
    if (g_bLogToSyslog) {
        syslog(SyslogPriority(priority), "%s", text.c_str());
        return;
    }
    text += '\n';
    WriteStandardError(text, priority);
}

} // namespace pvx
