// pvx-mibdoc: writes the reference of every SNMP object pvx serves
// (docs/mib-reference.md) from the object tables themselves. It refuses, with
// a message naming each OID, when the tables and the names and meanings kept
// here no longer cover each other.
#include "snmp/agent/SNMPAgent.h"
#include "tools/mibdoc/ObjectTexts.h"
#include "ups/AbstractUPS.h"

#include <fstream>
#include <iostream>
#include <limits>
#include <string>

namespace {

using namespace pvx;

int Usage()
{
    std::cerr << "Usage: pvx-mibdoc [-o FILE]\n"
                 "Writes the Markdown reference of the SNMP objects pvx serves to FILE, or to standard output.\n";
    return 2;
}

// The agent answers its trap-control objects before asking the tree: signed
// INTEGERs over the whole 32-bit range, per manager, readable and writable.
constexpr SMIBKind kTrapControlKind { MIB_SIGNED, std::numeric_limits<std::int32_t>::min(),
    std::numeric_limits<std::int32_t>::max() };

} // namespace

int main(int argc, char** argv)
{
    std::string outputPath;
    if (argc == 3 && std::string(argv[1]) == "-o")
        outputPath = argv[2];
    else if (argc != 1)
        return Usage();

    const mibdoc::SAgentObject agentObjects[] = {
        { &kTrapLevelOid, kTrapControlKind, true },
        { &kTrapTypeOid, kTrapControlKind, true },
    };
    auto collected = mibdoc::Collect(CMIBTree::AllGroups(), agentObjects);
    auto problems = collected.problems;
    auto textProblems = mibdoc::CheckTexts(collected.nodes, mibdoc::ObjectTexts());
    problems.insert(problems.end(), textProblems.begin(), textProblems.end());
    if (!problems.empty()) {
        for (const auto& problem : problems)
            std::cerr << "pvx-mibdoc: " << problem << "\n";
        std::cerr << "pvx-mibdoc: the object tables and tools/mibdoc/ObjectTexts.cpp disagree; nothing written\n";
        return 1;
    }

    const std::string reference = mibdoc::Render(collected, mibdoc::ObjectTexts(), CAbstractUPS::kMaxLines);
    if (outputPath.empty()) {
        std::cout << reference;
        return std::cout.flush() ? 0 : 1;
    }
    std::ofstream out(outputPath, std::ios::binary | std::ios::trunc);
    out << reference;
    out.close();
    if (!out) {
        std::cerr << "pvx-mibdoc: cannot write " << outputPath << "\n";
        return 1;
    }
    return 0;
}
