// Scanning rules of the configuration file. The reader mimics line-oriented
// reading in 255-character pieces, case-insensitive names, and a key search
// that runs on past the next section header (except into or out of the
// sections listed below); the writer copies the file with the key replaced
// or added.
#include "config/INIFile.h"

#include "events/PVXException.h"
#include "platform/Portability.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>
#include <vector>

namespace pvx {

namespace {

// Configuration files are a few hundred bytes; larger ones are read only this far,
// and never rewritten (rewriting would lose the rest).
constexpr std::size_t kMaxFileBytes = 1 << 20;
// Lines are read in pieces of at most this many characters.
constexpr std::size_t kLinePiece = 255;
constexpr int kEnd = -1;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// A character stream over the file's contents, in the manner of a stdio reader.
class CTextReader {
public:
    explicit CTextReader(std::string_view text, std::size_t offset = 0) : m_text(text), m_offset(offset) {}

    int Get() { return m_offset < m_text.size() ? static_cast<unsigned char>(m_text[m_offset++]) : kEnd; }
    std::size_t Offset() const { return m_offset; }

    // Reads one piece of a line: up to 255 characters, ending after a newline.
    bool ReadPiece(std::string_view& piece, std::size_t limit = kLinePiece)
    {
        if (m_offset >= m_text.size())
            return false;
        std::size_t start = m_offset;
        while (m_offset < m_text.size() && m_offset - start < limit) {
            if (m_text[m_offset++] == '\n')
                break;
        }
        piece = m_text.substr(start, m_offset - start);
        return true;
    }

private:
    std::string_view m_text;
    std::size_t m_offset;
};

// "[name]" with no blanks, compared case-insensitively; anything after "]" is ignored.
bool IsHeaderOf(std::string_view line, std::string_view section)
{
    if (line.empty() || line[0] != '[' || line.size() < section.size() + 2)
        return false;
    for (std::size_t i = 0; i < section.size(); ++i)
        if (Upper(line[i + 1]) != Upper(section[i]))
            return false;
    return line[section.size() + 1] == ']';
}

// Sections whose keys are looked up within the section only, and which a
// search for another section's key does not run into. Their keys share
// names with older sections' (Enabled, Command), and a key left out of one
// must never be read from the next: a [Notify] without Command would run
// [Shutdown]'s, a [Shutdown] without Enabled would take [NUT]'s.
constexpr std::string_view kSectionsReadAlone[] = {"Notify", "Shutdown", "NUT"};

bool IsSectionReadAlone(std::string_view section)
{
    return std::any_of(std::begin(kSectionsReadAlone), std::end(kSectionsReadAlone), [section](std::string_view name) {
        return name.size() == section.size()
            && std::equal(name.begin(), name.end(), section.begin(), [](char a, char b) { return Upper(a) == Upper(b); });
    });
}

bool IsHeaderReadAlone(std::string_view line)
{
    return std::any_of(std::begin(kSectionsReadAlone), std::end(kSectionsReadAlone),
        [line](std::string_view name) { return IsHeaderOf(line, name); });
}

bool StartsWithKeyAndEquals(std::string_view line, std::string_view key)
{
    if (line.size() < key.size() + 1)
        return false;
    for (std::size_t i = 0; i < key.size(); ++i)
        if (Upper(line[i]) != Upper(key[i]))
            return false;
    return line[key.size()] == '=';
}

// Reads a decimal number the way "%d"/"%u" would (leading white space and
// line ends skipped, an optional sign, digits up to the first other
// character), saturating instead of overflowing.
bool ParseNumber(std::string_view text, std::size_t offset, bool& negative, unsigned long long& magnitude)
{
    while (offset < text.size() && IsSpace(static_cast<unsigned char>(text[offset])))
        ++offset;
    negative = false;
    if (offset < text.size() && (text[offset] == '-' || text[offset] == '+'))
        negative = text[offset++] == '-';
    magnitude = 0;
    bool any = false;
    constexpr unsigned long long kCap = 1ull << 40; // far beyond any 32-bit value
    while (offset < text.size() && text[offset] >= '0' && text[offset] <= '9') {
        any = true;
        magnitude = magnitude * 10 + static_cast<unsigned>(text[offset++] - '0');
        if (magnitude > kCap)
            magnitude = kCap;
    }
    return any;
}

} // namespace

bool CINIFile::FindKey(const std::string& section, const std::string& key, std::string& contents,
                       std::size_t& offset) const
{
    if (!ReadFileBounded(m_path, kMaxFileBytes, false, contents))
        return false;
    CTextReader reader(contents);
    std::string_view piece;
    bool inSection = false;
    while (reader.ReadPiece(piece)) {
        if (IsHeaderOf(piece, section)) {
            inSection = true;
            break;
        }
    }
    if (!inSection)
        return false;
    const bool readAlone = IsSectionReadAlone(section);
    for (;;) {
        int c = reader.Get();
        while (c == '\n' || c == '\r')
            c = reader.Get();
        if (c == kEnd)
            return false;
        if (c == '[') {
            std::string_view rest(contents.data() + reader.Offset() - 1, contents.size() - reader.Offset() + 1);
            if (readAlone || IsHeaderReadAlone(rest))
                return false;
        }
        std::size_t matched = 0;
        while (matched < key.size() && c != kEnd && Upper(static_cast<char>(c)) == Upper(key[matched])) {
            ++matched;
            c = reader.Get();
        }
        // White space here includes line ends: a line holding only a prefix
        // of the key runs into the next line, which is then passed over.
        while (c != kEnd && IsSpace(c))
            c = reader.Get();
        if (c == '=' && matched == key.size()) {
            offset = reader.Offset();
            return true;
        }
        if (c == kEnd)
            return false;
        if (c != '\n')
            reader.ReadPiece(piece);
    }
}

std::string CINIFile::GetString(const std::string& section, const std::string& key,
                                const std::string& defaultValue, std::size_t lineLimit) const
{
    std::string contents;
    std::size_t offset = 0;
    if (!FindKey(section, key, contents, offset))
        return defaultValue;
    CTextReader reader(contents, offset);
    std::string_view piece;
    if (!reader.ReadPiece(piece, std::max(lineLimit, kLinePiece)))
        return defaultValue;
    if (!piece.empty() && piece.back() == '\n')
        piece.remove_suffix(1);
    return std::string(piece);
}

bool CINIFile::FindNumber(
    const std::string& section, const std::string& key, bool& negative, unsigned long long& magnitude) const
{
    std::string contents;
    std::size_t offset = 0;
    return FindKey(section, key, contents, offset) && ParseNumber(contents, offset, negative, magnitude);
}

int CINIFile::GetInt(const std::string& section, const std::string& key, int defaultValue) const
{
    bool negative = false;
    unsigned long long magnitude = 0;
    if (!FindNumber(section, key, negative, magnitude))
        return defaultValue;
    if (negative)
        return magnitude >= static_cast<unsigned long long>(INT_MAX) + 1 ? INT_MIN : -static_cast<int>(magnitude);
    return magnitude > static_cast<unsigned long long>(INT_MAX) ? INT_MAX : static_cast<int>(magnitude);
}

unsigned CINIFile::GetUInt(const std::string& section, const std::string& key, unsigned defaultValue) const
{
    bool negative = false;
    unsigned long long magnitude = 0;
    if (!FindNumber(section, key, negative, magnitude))
        return defaultValue;
    if (magnitude > UINT_MAX)
        return UINT_MAX;
    // A minus sign wraps the way unsigned input always has: -1 reads 4294967295.
    auto value = static_cast<unsigned>(magnitude);
    return negative ? 0u - value : value;
}

void CINIFile::RequireReadable() const
{
    std::string contents;
    if (IsMissingFile(m_path) || ReadFileBounded(m_path, 1, false, contents))
        return;
    CPVXException event(EVENT_CONFIG_UNREADABLE, {m_path});
    event.SetDetail(m_path);
    throw event;
}

bool CINIFile::WriteString(const std::string& section, const std::string& key, const std::string& value) const
{
    std::string contents;
    if (!ReadFileBounded(m_path, kMaxFileBytes + 1, true, contents)) {
        // Only a missing file is created: one that exists but cannot be read
        // or written stays as it is, and the write fails.
        if (!IsMissingFile(m_path))
            return false;
        contents.clear();
    }
    if (contents.size() > kMaxFileBytes) {
        errno = EFBIG;
        return false;
    }

    const std::string keyLine = key + "=" + value + "\n";
    std::string output;
    output.reserve(contents.size() + keyLine.size() + section.size() + 4);
    auto appendLine = [&output](std::string_view line) {
        // A last line without its newline must not run into what follows it.
        if (!output.empty() && output.back() != '\n')
            output.push_back('\n');
        output.append(line);
    };

    enum class EState { Searching, InSection, Done } state = EState::Searching;
    std::size_t start = 0;
    while (start < contents.size()) {
        std::size_t end = contents.find('\n', start);
        end = end == std::string::npos ? contents.size() : end + 1;
        std::string_view line(contents.data() + start, end - start);
        start = end;
        if (line == "\n")
            continue; // blank lines do not survive a rewrite
        if (state == EState::InSection) {
            if (StartsWithKeyAndEquals(line, key)) {
                appendLine(keyLine);
                state = EState::Done;
                continue;
            }
            if (line[0] == '[') {
                appendLine(keyLine);
                state = EState::Done;
            }
        } else if (state == EState::Searching && IsHeaderOf(line, section)) {
            appendLine(line);
            state = EState::InSection;
            continue;
        }
        appendLine(line);
    }
    if (state == EState::InSection)
        appendLine(keyLine);
    else if (state == EState::Searching)
        appendLine("[" + section + "]\n" + keyLine);
    return ReplaceFileContents(m_path, output);
}

bool CINIFile::WriteInt(const std::string& section, const std::string& key, int value) const
{
    return WriteString(section, key, std::to_string(value));
}

std::uint32_t ReadAddressKey(const CINIFile& file, const std::string& section, const std::string& key,
                             std::uint32_t defaultAddress)
{
    std::string text = file.GetString(section, key, "");
    if (text.empty())
        return defaultAddress;
    // A dotted address is what the operator means, with or without a name
    // in the reverse lookup; only a name is looked up.
    std::uint32_t address = 0;
    if (ParseDottedAddress(text, address) || LookUpHostName(text, address))
        return address;
    // Falling back to the default would bind every interface, or send no
    // traps, without a word: the operator must hear which key is wrong.
    CPVXException event(EVENT_ADDRESS_UNRESOLVED, {section + "/" + key, text});
    event.SetDetail(section + "/" + key + ": \"" + text + "\"");
    throw event;
}

SIpAddress ReadIpAddressKey(const CINIFile& file, const std::string& section, const std::string& key)
{
    std::string text = file.GetString(section, key, "");
    SIpAddress address;
    if (text.empty() || ResolveIpHost(text, address))
        return address;
    CPVXException event(EVENT_ADDRESS_UNRESOLVED, {section + "/" + key, text});
    event.SetDetail(section + "/" + key + ": \"" + text + "\"");
    throw event;
}

} // namespace pvx
