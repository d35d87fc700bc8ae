// The key table against the documents: the README's key table and pvx.ini(5)
// name exactly the keys pvx reads, with the same types and defaults, so that
// a key is added in the table and described in the documents, and nothing is
// forgotten or left behind.
#include "config/ConfigKeys.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using pvx::EConfigType;
using pvx::SConfigKey;

std::vector<std::string> SourceLines(const std::string& relativePath)
{
    std::ifstream in(std::string(PVX_SOURCE_DIR) + "/" + relativePath, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Trim(std::string text)
{
    const char* blanks = " \t";
    text.erase(0, text.find_first_not_of(blanks));
    text.erase(text.find_last_not_of(blanks) + 1);
    return text;
}

// A key as a document describes it. The key is the file's name for it; a
// numbered family is written "User1 ... User8" or "User1 to User8" and
// recorded as its stem and count.
struct SDocumentedKey {
    std::string type;
    std::string defaultValue;
    std::size_t count = 1;
};
using CDocumentedKeys = std::map<std::string, SDocumentedKey>; // "Section/Key"

// "User1 ... User8" -> stem "User", count 8; any other name stays as it is.
std::pair<std::string, std::size_t> SplitFamily(const std::string& name, const std::string& separator)
{
    std::size_t at = name.find(separator);
    if (at == std::string::npos)
        return { name, 1 };
    std::string first = Trim(name.substr(0, at));
    std::string last = Trim(name.substr(at + separator.size()));
    std::size_t digits = last.find_first_of("0123456789");
    if (digits == std::string::npos || first.find_first_of("0123456789") == std::string::npos)
        return { name, 1 };
    return { last.substr(0, digits), std::stoul(last.substr(digits)) };
}

// What the documents write for a default, in the table's form: "empty ..."
// is the empty text, and an address's default stops at its first comma.
std::string NormalisedDefault(std::string text)
{
    text = Trim(text);
    if (text.starts_with("empty"))
        return "";
    if (std::size_t comma = text.find(','); comma != std::string::npos)
        text = text.substr(0, comma);
    return text;
}

// The README's table: "| Section | Key | Type | Default | Meaning |".
CDocumentedKeys ReadmeKeys()
{
    CDocumentedKeys keys;
    bool inTable = false;
    for (const std::string& line : SourceLines("README.md")) {
        if (line.starts_with("| Section | Key | Type | Default |")) {
            inTable = true;
            continue;
        }
        if (!inTable || line.starts_with("|---"))
            continue;
        if (!line.starts_with("|"))
            break;
        std::vector<std::string> cells;
        std::istringstream row(line.substr(1));
        for (std::string cell; std::getline(row, cell, '|');)
            cells.push_back(Trim(cell));
        if (cells.size() < 5)
            continue;
        auto [key, count] = SplitFamily(cells[1], " ... ");
        keys[cells[0] + "/" + key] = { cells[2], NormalisedDefault(cells[3]), count };
    }
    return keys;
}

// Roman text of a roff line: the macro and its quotes gone, "\-" as "-".
std::string RoffText(std::string line)
{
    if (line.starts_with(".")) {
        std::size_t space = line.find(' ');
        line = space == std::string::npos ? "" : line.substr(space + 1);
    }
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            continue;
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '-') {
            text += '-';
            ++i;
            continue;
        }
        text += line[i];
    }
    return Trim(text);
}

// pvx.ini(5)'s KEYS section: under ".SS [Section]", each key is a ".TP"
// paragraph whose tag names it, followed by "(type, default ...)".
CDocumentedKeys ManualKeys()
{
    CDocumentedKeys keys;
    const std::vector<std::string> lines = SourceLines("docs/pvx.ini.5");
    std::string section;
    bool inKeys = false;
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.starts_with(".SH ")) {
            inKeys = line == ".SH KEYS";
            continue;
        }
        if (!inKeys)
            continue;
        if (line.starts_with(".SS [")) {
            section = line.substr(5, line.find(']') - 5);
            continue;
        }
        if (line != ".TP" || section.empty() || !lines[i + 2].starts_with(".RI ("))
            continue;
        auto [key, count] = SplitFamily(RoffText(lines[i + 1]), " to ");
        // "(type," then "default" and its value up to the closing parenthesis.
        std::string type = RoffText(lines[i + 2].substr(lines[i + 2].find('(') + 1));
        if (type.ends_with(","))
            type.pop_back();
        std::string rest;
        for (std::size_t j = i + 3; j < lines.size(); ++j) {
            rest += " " + RoffText(lines[j]);
            if (rest.find(')') != std::string::npos)
                break;
        }
        rest = Trim(rest.substr(0, rest.find(')')));
        std::string defaultText = rest.starts_with("default") ? rest.substr(7) : "<none given>";
        keys[section + "/" + key] = { Trim(type), NormalisedDefault(defaultText), count };
    }
    return keys;
}

std::string TypeName(EConfigType type)
{
    switch (type) {
    case EConfigType::String:
        return "string";
    case EConfigType::Unsigned:
        return "unsigned";
    case EConfigType::Address:
        return "address";
    case EConfigType::AddressList:
        return "address list";
    }
    return "?";
}

std::map<std::string, const SConfigKey*> TableKeys()
{
    std::map<std::string, const SConfigKey*> keys;
    for (const SConfigKey* entry : pvx::keys::kAll)
        keys[std::string(entry->section) + "/" + entry->key] = entry;
    return keys;
}

} // namespace

TEST(DocumentedKeysTest, TableIsWellFormed)
{
    // Names are matched without regard to case, so two entries differing
    // only in case would be one key.
    std::map<std::string, std::string> folded;
    for (const SConfigKey* entry : pvx::keys::kAll) {
        std::string name = std::string(entry->section) + "/" + entry->key;
        std::string lower;
        for (char c : name)
            lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        EXPECT_TRUE(folded.emplace(lower, name).second) << name << " twice";
        EXPECT_FALSE(std::string(entry->meaning).empty()) << name;
        EXPECT_GE(entry->count, 1u) << name;
        std::string value = entry->defaultValue;
        switch (entry->type) {
        case EConfigType::Unsigned:
            EXPECT_TRUE(!value.empty() && value.find_first_not_of("0123456789") == std::string::npos) << name;
            break;
        case EConfigType::Address:
            EXPECT_EQ(value, "0.0.0.0") << name << ": the reader gives 0.0.0.0";
            break;
        case EConfigType::AddressList:
            EXPECT_EQ(value, "") << name << ": the reader gives the empty list";
            break;
        case EConfigType::String:
            break;
        }
    }
}

TEST(DocumentedKeysTest, DocumentsDescribeExactlyTheTable)
{
    const auto table = TableKeys();
    const std::map<std::string, CDocumentedKeys> documents = {
        { "README.md", ReadmeKeys() },
        { "docs/pvx.ini.5", ManualKeys() },
    };
    for (const auto& [document, documented] : documents) {
        SCOPED_TRACE(document);
        ASSERT_GE(documented.size(), 10u) << "the key list was not found";
        for (const auto& [name, entry] : table) {
            auto it = documented.find(name);
            if (it == documented.end()) {
                ADD_FAILURE() << name << " is not documented";
                continue;
            }
            EXPECT_EQ(it->second.type, TypeName(entry->type)) << name;
            EXPECT_EQ(it->second.defaultValue, entry->defaultValue) << name;
            EXPECT_EQ(it->second.count, entry->count) << name;
        }
        for (const auto& [name, key] : documented)
            EXPECT_TRUE(table.contains(name)) << name << " is documented but pvx does not read it";
    }
}

TEST(DocumentedKeysTest, ManualExampleUsesOnlyKeysPvxReads)
{
    const auto table = TableKeys();
    std::string section;
    bool inExample = false;
    std::size_t keyLines = 0;
    for (const std::string& line : SourceLines("docs/pvx.ini.5")) {
        if (line.starts_with(".SH "))
            inExample = line == ".SH EXAMPLE";
        if (!inExample || line.empty() || line[0] == '.' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        ++keyLines;
        std::string key = line.substr(0, line.find('='));
        EXPECT_TRUE(table.contains(section + "/" + key)) << section << "/" << key;
    }
    EXPECT_GE(keyLines, 10u) << "the example was not found";
}

TEST(DocumentedKeysTest, ReadsGiveTheTableDefaults)
{
    // A file without the keys: every read gives its entry's default.
    const pvx::CINIFile missing(std::string(PVX_BINARY_DIR) + "/no-such-folder/pvx.ini");
    for (const SConfigKey* entry : pvx::keys::kAll) {
        SCOPED_TRACE(std::string(entry->section) + "/" + entry->key);
        switch (entry->type) {
        case EConfigType::String:
            for (std::size_t i = 0; i < entry->count; ++i)
                EXPECT_EQ(pvx::ReadString(missing, *entry, i), entry->defaultValue);
            break;
        case EConfigType::Unsigned:
            EXPECT_EQ(pvx::ReadUnsigned(missing, *entry), std::stoul(entry->defaultValue));
            break;
        case EConfigType::Address:
            EXPECT_EQ(pvx::ReadAddress(missing, *entry), 0u);
            break;
        case EConfigType::AddressList:
            EXPECT_TRUE(pvx::ReadAddressList(missing, *entry).AdmitsEverySource());
            break;
        }
    }
    EXPECT_EQ(pvx::KeyName(pvx::keys::kSNMPv3User, 0), "User1");
    EXPECT_EQ(pvx::KeyName(pvx::keys::kSNMPv3User, 7), "User8");
    EXPECT_EQ(pvx::KeyName(pvx::keys::kTrapCommunity), "TrapCommnity");
}
