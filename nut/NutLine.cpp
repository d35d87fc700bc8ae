// Splitting request lines into words, and quoting reply values.
#include "nut/NutLine.h"

#include <algorithm>

namespace pvx::nut {

namespace {

bool IsControl(unsigned char c)
{
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

ESplit SplitWords(std::string_view line, SWords& words)
{
    words.count = 0;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() > words.storage.size())
        return ESplit::Malformed;
    std::size_t in = 0;
    std::size_t out = 0;
    while (true) {
        while (in < line.size() && IsBlank(line[in]))
            ++in;
        if (in == line.size())
            break;
        if (words.count == words.word.size())
            return ESplit::Malformed;
        // A word never takes more room than its bytes in the line, so the
        // words together fit the storage.
        const std::size_t start = out;
        bool quoted = false;
        if (line[in] == '"') {
            quoted = true;
            ++in;
        }
        bool closed = !quoted;
        while (in < line.size()) {
            const char c = line[in];
            if (IsControl(static_cast<unsigned char>(c)))
                return ESplit::Malformed;
            if (quoted && c == '"') {
                closed = true;
                ++in;
                break;
            }
            if (!quoted && IsBlank(c))
                break;
            if (c == '\\') {
                if (++in == line.size())
                    return ESplit::Malformed;
                if (IsControl(static_cast<unsigned char>(line[in])))
                    return ESplit::Malformed;
            }
            words.storage[out++] = line[in++];
        }
        if (!closed)
            return ESplit::Malformed;
        // A closing quote must end the word.
        if (quoted && in < line.size() && !IsBlank(line[in]))
            return ESplit::Malformed;
        words.word[words.count++] = std::string_view(words.storage.data() + start, out - start);
    }
    return words.count == 0 ? ESplit::Blank : ESplit::Words;
}

void AppendQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += IsControl(static_cast<unsigned char>(c)) || c == '\t' ? '?' : c;
    }
    out += '"';
}

bool SameWord(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return std::ranges::equal(a, b, [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace pvx::nut
