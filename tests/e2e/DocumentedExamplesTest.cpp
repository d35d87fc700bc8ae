// Every command example of README.md, pvx(8) and pvx.ini(5) that asks pvx
// something (snmpget, snmpwalk, snmpbulkwalk, snmpset, curl) or makes a
// stored secret (pvx-passwd) is run as written against pvx started with the
// shipped sample pvx.ini, with only the host and port of the running test
// daemon put in place of the documents' ones. The examples' own additions to
// the sample are made too: HTTP on, and the README's SNMPv3 user, whose keys
// come from the README's own pvx-passwd lines for its engine ID.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

const std::string kSource = PVX_SOURCE_DIR;
const std::string kReadmeEngine = "8000021605a1b2c3d4e5f60718"; // the README's example

struct SExample {
    std::string where; // file:line of the block's end
    std::string command;
    std::string expected; // the output a document shows after "$ command", or empty
};

// The manual pages' escapes, as groff prints them.
std::string Unescape(std::string text)
{
    static const std::pair<std::string, std::string> kEscapes[] = {
        {"\\-", "-"}, {"\\(aq", "'"}, {"\\(dq", "\""}, {"\\e", "\\"}, {"\\&", ""}, {"\\fI", ""}, {"\\fP", ""},
    };
    for (const auto& [from, to] : kEscapes)
        for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
            text.replace(at, from.size(), to);
    return text;
}

// The commands of a block that ask pvx something, with continued lines
// joined and comments cut; "$ command" lines take the next line as output.
void CollectBlock(const std::string& where, const std::vector<std::string>& block, std::vector<SExample>& examples)
{
    static const std::regex kQuery("^(snmpget|snmpwalk|snmpbulkwalk|snmpset) .*(localhost|ups\\.example\\.net)"
                                   "|^curl .*localhost:8080|^(build/)?pvx-passwd ");
    for (std::size_t i = 0; i < block.size(); ++i) {
        std::string line = block[i];
        while (!line.empty() && line.back() == '\\' && i + 1 < block.size())
            line.pop_back(), line += block[++i];
        bool prompted = line.starts_with("$ ");
        line = std::regex_replace(line.substr(prompted ? 2 : 0), std::regex("\\s{2,}#.*|\\s+$"), "");
        line = std::regex_replace(line, std::regex("\\s{2,}"), " ");
        if (!std::regex_search(line, kQuery))
            continue;
        bool shown = prompted && i + 1 < block.size() && !block[i + 1].starts_with("$ ");
        examples.push_back({where, line, shown ? block[i + 1] + "\n" : ""});
    }
}

std::vector<SExample> DocumentedExamples()
{
    std::vector<SExample> examples;
    for (const char* document : {"README.md", "docs/pvx.8", "docs/pvx.ini.5"}) {
        const bool markdown = std::string(document).ends_with(".md");
        std::istringstream in(ReadFile(kSource + "/" + document));
        std::vector<std::string> block;
        bool inBlock = false;
        std::size_t number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            const std::string where = std::string(document) + ":" + std::to_string(number);
            if (inBlock && line == (markdown ? "```" : ".EE")) {
                CollectBlock(where, block, examples);
                inBlock = false;
            } else if (inBlock) {
                block.push_back(markdown ? line : Unescape(line));
            } else if (line == (markdown ? "```sh" : ".EX")) {
                block.clear();
                inBlock = true;
            } else if (markdown) {
                // Queries inline in the prose (a pvx-passwd there names options only).
                static const std::regex kInline("`((snmp|curl)[^`]+)`");
                for (std::sregex_iterator it(line.begin(), line.end(), kInline), end; it != end; ++it)
                    CollectBlock(where, {(*it)[1].str()}, examples);
            } else if (line.starts_with(".B snmp")) {
                CollectBlock(where, {Unescape(line.substr(3))}, examples);
            }
        }
    }
    return examples;
}

// The sample with one key changed inside its own section.
std::string SetKey(const std::string& ini, const std::string& section, const std::string& key,
                   const std::string& value)
{
    std::istringstream in(ini);
    std::string out;
    bool inside = false, done = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[')
            inside = line == "[" + section + "]";
        if (inside && !done && (line.rfind(key + "=", 0) == 0 || line.rfind("#" + key + "=", 0) == 0)) {
            line = key + "=" + value;
            done = true;
        }
        out += line + "\n";
    }
    EXPECT_TRUE(done) << section << "/" << key;
    return out;
}

std::string RunShell(const std::string& command, int& status)
{
    SRunResult result = RunProgram("/bin/sh", "sh", {"-c", command + " 2>&1"}, 60s);
    status = result.status;
    return result.out;
}

} // namespace

TEST(DocumentedExamples, WorkAsWrittenAgainstTheShippedSample)
{
    std::vector<SExample> examples = DocumentedExamples();
    ASSERT_GE(examples.size(), 10u) << "the examples were not found";
    for (const SExample& example : examples)
        std::printf("%s: %s\n", example.where.c_str(), example.command.c_str());

    // The README's SNMPv3 keys, made by its own commands for its engine ID.
    std::vector<std::string> keys;
    for (const SExample& example : examples)
        if (example.command.find("-e " + kReadmeEngine) != std::string::npos) {
            int status = 0;
            std::string out = RunShell(PVX_BINARY_DIR "/" + example.command, status);
            keys.push_back(out.substr(0, out.find('\n')));
        }
    ASSERT_EQ(keys.size(), 2u) << "the README's worked SNMPv3 example changed";

    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    const unsigned short snmp = FreeUdpPort(), relay = FreeUdpPort(), http = FreeTcpPort();
    std::string ini = ReadFile(kSource + "/packaging/pvx.ini");
    ini = SetKey(ini, "Communications", "CommunicationsPort", ups.DevicePath());
    ini = SetKey(ini, "SNMP", "AgentPort", std::to_string(snmp));
    ini = SetKey(ini, "NetXCP", "AgentPort", std::to_string(relay));
    ini = SetKey(ini, "HTTP", "Enabled", "1");
    ini = SetKey(ini, "HTTP", "Port", std::to_string(http));
    ini = SetKey(ini, "SNMPv3", "Enabled", "1");
    ini = SetKey(ini, "SNMPv3", "User1", "ops,authPriv,SHA," + keys[0] + ",AES," + keys[1] + ",write");
    WriteTextFile(folder.File("pvx-engine.state"), "EngineID=" + kReadmeEngine + "\nEngineBoots=1\n");
    SDaemonOptions options;
    options.iniText = ini;
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    ASSERT_TRUE(pvx.WaitForStdout("UPS found is [", 30s)) << pvx.Stderr();
    EXPECT_EQ(pvx.Stderr().find("not localized"), std::string::npos);

    const std::string snmpTarget = "127.0.0.1:" + std::to_string(snmp);
    for (const SExample& example : examples) {
        SCOPED_TRACE(example.where + ": " + example.command);
        std::string command = example.command;
        command = std::regex_replace(command, std::regex("^(build/)?pvx-passwd"), PVX_BINARY_DIR "/pvx-passwd");
        command = std::regex_replace(command, std::regex("localhost:8080"), "127.0.0.1:" + std::to_string(http));
        command = std::regex_replace(command, std::regex("(localhost|ups\\.example\\.net)(:[0-9]+)?"), snmpTarget);
        int status = 0;
        std::string out = RunShell(command, status);
        EXPECT_EQ(status, 0) << out;
        for (const char* failure : {"No Such", "noSuchName", "Timeout", "rror", "endOfMibView"}) {
            EXPECT_EQ(out.find(failure), std::string::npos) << out;
        }
        if (!example.expected.empty()) {
            EXPECT_EQ(out, example.expected);
        }
    }
}
