// pvx-mibdoc: writes the reference of every SNMP object pvx serves
// (docs/mib-reference.md) from the object tables themselves, names and
// meanings included. It refuses, with a message naming each OID, when a
// served node has no name and meaning or a text here names nothing served.
#include "snmp/agent/SNMPAgent.h"
#include "tools/mibdoc/MibReference.h"
#include "ups/AbstractUPS.h"

#include <fstream>
#include <iostream>
#include <iterator>
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

// The nodes outside the object tables: the two subtrees and the agent's group.
const mibdoc::SObjectText kOtherTexts[] = {
    { "1.3.6.1.2.1.33.1", "UPS-MIB (RFC 1628), upsObjects",
        "The standard UPS objects, served for every UPS pvx drives." },
    { "1.3.6.1.4.1.534.1", "Extended UPS MIB",
        "More UPS objects in a private enterprise subtree: some UPS-MIB values in other units, the "
        "environment, the UPS's event log, timed controls, and the two trap-control objects of the agent. "
        "The names given here are this reference's labels." },
    { "1.3.6.1.4.1.534.1.11", "extTrapControl",
        "Which traps a manager receives. The agent answers these two objects itself, for the manager that "
        "asks (told apart by its IP address): a SET makes the manager a trap destination with its own level "
        "and type, and the trap host of the configuration is one from the start. A manager without a record "
        "reads level 1 and type 1. The objects are not part of the GET-NEXT walk, a SET takes any value "
        "without a range check, and the records live until pvx stops." },
};

} // namespace

int main(int argc, char** argv)
{
    std::string outputPath;
    if (argc == 3 && std::string(argv[1]) == "-o")
        outputPath = argv[2];
    else if (argc != 1)
        return Usage();

    const mibdoc::SAgentObject agentObjects[] = {
        { &kTrapLevelOid, kTrapControlKind, true, "extTrapLevel",
            "The highest trap level sent to this manager: each trap has a level from 1 to 4, and the manager "
            "receives those whose level is at most this value (0 receives none). A SET of 1 removes the "
            "manager's record, so that it receives no traps any more; any other value creates or changes it. "
            "GET-NEXT of this object answers extTrapType." },
        { &kTrapTypeOid, kTrapControlKind, true, "extTrapType",
            "The families of traps sent to this manager: 1 and 3 the standard traps only, 2 and 4 the extended "
            "traps (enterprises under `1.3.6.1.4.1.534.1`) only, any other value both. A SET creates the "
            "manager's record when it has none." },
    };
    auto collected = mibdoc::Collect(CMIBTree::AllGroups(), agentObjects);
    auto texts = mibdoc::TextsOf(CMIBTree::AllGroups(), agentObjects);
    texts.insert(texts.end(), std::begin(kOtherTexts), std::end(kOtherTexts));
    auto problems = collected.problems;
    auto textProblems = mibdoc::CheckTexts(collected.nodes, texts);
    problems.insert(problems.end(), textProblems.begin(), textProblems.end());
    if (!problems.empty()) {
        for (const auto& problem : problems)
            std::cerr << "pvx-mibdoc: " << problem << "\n";
        std::cerr << "pvx-mibdoc: the served nodes and their names and meanings disagree; nothing written\n";
        return 1;
    }

    const std::string reference = mibdoc::Render(collected, texts, CAbstractUPS::kMaxLines);
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
