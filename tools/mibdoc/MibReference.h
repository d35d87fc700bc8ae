// The reference of every SNMP object pvx serves, written from the object
// tables themselves: numbers, wire types, access, bounds, names and meanings
// come from the tree's groups (and from the description of the agent's own
// objects); the few nodes outside them (subtrees, the agent's group) take
// their texts from a list keyed by OID. Nodes and texts must cover each other
// exactly, so the reference cannot silently fall behind the tree.
#pragma once

#include "ups/MIBTree.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pvx::mibdoc {

// Name and meaning of one node. The key is the dotted OID without instance
// arc: "1.3.6.1.2.1.33.1.1.1" for a scalar, the group's or table's own OID,
// and "<table OID>.*.<column arc>" for a table column.
struct SObjectText {
    std::string oid;
    std::string_view name;
    std::string_view meaning;
};

// An object the SNMP agent answers itself, before the tree is asked.
struct SAgentObject {
    const COid* name; // the instance, ending with .0
    SMIBKind kind;
    bool writable;
    std::string_view mibName {}; // as SObjectText::name
    std::string_view meaning {};
};

enum class ENodeKind { Subtree, Group, Scalar, Table, Column };

// One line of the reference, everything but the texts.
struct SNode {
    ENodeKind kind;
    std::string key; // as SObjectText::oid
    std::string shown; // the name a manager uses
    std::string type; // on the wire; "table" for tables, empty for subtrees and groups
    std::string access;
    std::string range;
    std::string notes; // facts of the tree added after the meaning
    std::string parent; // key of the enclosing subtree, group or table
    // A table cell's name with SNMP/StandardNames=1 (RFC 1628's entry.column.
    // index); empty where both namings agree.
    std::string standard;
};

struct SCollected {
    std::vector<SNode> nodes; // subtrees, groups, objects and columns in walk order
    std::vector<std::string> problems; // inconsistencies of the tables, each naming its OID
    std::string walkStart; // first object a GET-NEXT walk from 1.3.6.1 answers
    std::string walkEnd; // last object before the walk ends with noSuchName
};

// Dotted form with the 1.3.6.1 prefix of arcs after it.
std::string Dotted(std::span<const std::uint32_t> arcs);

// The BER type the agent puts on the wire for values of `kind`, found by
// encoding one, or empty for a kind the tree cannot build.
std::string WireType(const SMIBKind& kind);

// Walks the groups (in walk order, each `following` the next group) and the
// agent's objects (which form one group of their own after the tree).
SCollected Collect(std::span<const SGroup* const> groups, std::span<const SAgentObject> agentObjects);

// The names and meanings the group tables and the agent's objects carry, keyed
// as their nodes; nodes with neither are left out.
std::vector<SObjectText> TextsOf(std::span<const SGroup* const> groups, std::span<const SAgentObject> agentObjects);

// Every node without a text, every text without a node, duplicates and empty
// fields, each as one message naming the OID.
std::vector<std::string> CheckTexts(std::span<const SNode> nodes, std::span<const SObjectText> texts);

// The Markdown reference; `maxLines` is the most rows a line table holds.
std::string Render(const SCollected& collected, std::span<const SObjectText> texts, std::uint32_t maxLines);

} // namespace pvx::mibdoc
