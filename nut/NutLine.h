// The words of one request line of RFC 9271 and the quoting of values in
// replies. A line is at most kMaxLineLength bytes before its line end; its
// words are separated by blanks, a word in double quotes may hold blanks,
// and a backslash takes the next character as it is ("\"", "\\").
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace pvx::nut {

constexpr std::size_t kMaxLineLength = 512;
// The longest request, SET VAR <ups> <var> "<value>", has five words.
constexpr std::size_t kMaxWords = 8;

enum class ESplit {
    Words, // count words, at least one
    Blank, // nothing but blanks: no reply is due
    Malformed, // too long, too many words, an open quote, a control character
};

// The words point into `storage`, so they stay valid until the next split.
struct SWords {
    std::array<std::string_view, kMaxWords> word {};
    std::size_t count = 0;
    std::array<char, kMaxLineLength> storage {};

    std::string_view operator[](std::size_t i) const { return i < count ? word[i] : std::string_view(); }
};

// Splits `line` (without its line end; a final carriage return is dropped).
ESplit SplitWords(std::string_view line, SWords& words);

// Appends `"text"` with '"' and '\' escaped; control characters, which no
// value may carry into a line protocol, become '?'.
void AppendQuoted(std::string& out, std::string_view text);

// Case-insensitive comparison of ASCII words, as commands are matched.
bool SameWord(std::string_view a, std::string_view b);

} // namespace pvx::nut
