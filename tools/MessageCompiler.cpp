// pvx-msgc: compiles the plain-text message list into the binary message
// table that the event reporting reads (little-endian block count, block
// records {lowest, highest, offset}, then entries {length, flags, text}).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void SetU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool ParseSource(std::istream& in, std::map<std::uint32_t, std::string>& messages)
{
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::size_t blank = line.find(' ');
        std::size_t used = 0;
        unsigned long code = 0;
        try {
            code = std::stoul(line.substr(0, blank), &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (blank == std::string::npos || blank == 0 || used != blank || code > 0xFFFFFFFFul) {
            std::cerr << "pvx-msgc: line " << number << ": expected a code, a blank and a text\n";
            return false;
        }
        if (!messages.emplace(static_cast<std::uint32_t>(code), line.substr(blank + 1)).second) {
            std::cerr << "pvx-msgc: line " << number << ": code given twice\n";
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> Compile(const std::map<std::uint32_t, std::string>& messages)
{
    // Consecutive codes share a block.
    std::vector<std::vector<std::pair<std::uint32_t, std::string>>> blocks;
    for (const auto& [code, text] : messages) {
        if (blocks.empty() || blocks.back().back().first + 1 != code)
            blocks.emplace_back();
        blocks.back().emplace_back(code, text);
    }
    std::vector<std::uint8_t> out;
    PutU32(out, static_cast<std::uint32_t>(blocks.size()));
    std::size_t recordsAt = out.size();
    out.resize(out.size() + 12 * blocks.size());
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        std::size_t record = recordsAt + 12 * b;
        SetU32(out, record, blocks[b].front().first);
        SetU32(out, record + 4, blocks[b].back().first);
        SetU32(out, record + 8, static_cast<std::uint32_t>(out.size()));
        for (const auto& entry : blocks[b]) {
            std::string text = entry.second + "\r\n";
            std::size_t length = 4 + text.size() + 1;
            length = (length + 3) & ~std::size_t{3};
            PutU16(out, static_cast<std::uint16_t>(length));
            PutU16(out, 0);
            out.insert(out.end(), text.begin(), text.end());
            out.resize(out.size() + (length - 4 - text.size()), 0);
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "Usage: pvx-msgc source.txt messages\n"
                     "Compiles a message list (one \"code text\" a line, # starts a comment)\n"
                     "into the binary message catalog that pvx reads.\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << "pvx-msgc: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::map<std::uint32_t, std::string> messages;
    if (!ParseSource(in, messages))
        return 1;
    for (const auto& [code, text] : messages) {
        if (text.size() > 60000) {
            std::cerr << "pvx-msgc: text of 0x" << std::hex << code << " is too long\n";
            return 1;
        }
    }
    auto bytes = Compile(messages);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::cerr << "pvx-msgc: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
