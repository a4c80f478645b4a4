// Property lookup in scene descriptions. Nodes of a scene file keep their settings in a child
// compound named "Props": text leaves ("Blend" "additive") and compounds of text leaves for
// lists ("AlphaUse" with children "0", "1", ...). A property a node does not set is inherited
// from the nearest enclosing node whose "Props" sets it, so a group can set "Lit" or "Usage"
// for everything below it. A node without a "Props" of its own inherits nothing.
//
// Property names compare without regard to case; the compound's own name "Props" compares
// exactly. Works on any loaded DataNode tree (nodes know their parents). Trees come from files:
// a lookup gives up (not found) after 4,096 climbing steps, as parent links of a forged file
// can run in a circle, and one copy stops at 256 levels, 65,536 entries made and 2^20 entries
// looked at, with a DebugTrace line.
//
// The loader does not climb: it reads a file from the root down and so knows each node's
// enclosing "Props" compounds already (PropsChain, CopyChainedProperties). Where a file's parent
// links follow its nesting (no link entries to blocks listed elsewhere) that gives what
// LoadNodeProperties with inherit gives; a forged file's parent links cannot make it climb.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/text/string.h"

class DataNode;
class PropertyNode;

// A set of words in insertion order, keys without regard to case; the values are not used.
using PropertyWordSet = OrderedMap<String, bool, StringCompareNoCase>;

// The DataNode of property `name` as seen from `node` (null gives null), or null when no
// "Props" on the way sets it. `node` may be a scene node or a node inside a "Props" compound;
// in the latter case the lookup is relative to that compound. With inherit the lookup climbs
// to the enclosing scene nodes that have a "Props", nearest first.
DataNode* FindProperty(DataNode* node, const String& name, bool inherit);

// FindProperty, then out := the found node's bytes as text (empty when its data was not
// loaded). False, out untouched, when the property is absent.
bool FindPropertyText(DataNode* node, const String& name, String& out, bool inherit);

// FindProperty, then adds the property's words to `words`: the text of every child without
// children of its own for a list, or the leaf's own text. A word already in the set (without
// regard to case) is not added again. Afterwards the set's walk position is on its first entry.
// False, the set untouched, when the property is absent.
bool FindPropertyWords(DataNode* node, const String& name, PropertyWordSet& words, bool inherit);

// Copies every child of `data` whose name `props` does not have yet (without regard to case),
// in file order: compounds as new PropertyNode subtrees, leaves as text children. Names
// already present keep their values. Always true.
bool CopyPropertyTree(const DataNode* data, PropertyNode& props);

// Copies the node's own "Props" into `props` (as CopyPropertyTree), then with inherit those of
// every enclosing node that has one, nearest first; values already present win, so the node's
// own and nearer values beat farther ones. A null node copies nothing.
void LoadNodeProperties(DataNode* node, PropertyNode& props, bool inherit);

// The "Props" compounds enclosing a node of a walk down a file, nearest first: one link per
// level, kept on the walk's own stack frames.
struct PropsChain {
    const DataNode* props;
    const PropsChain* next;
};

// The node's own "Props" child, or null (also for a null node).
const DataNode* FindPropsCompound(const DataNode* node);

// Whether `props` is already one of the chain's compounds (a forged file can share one block
// between levels; a compound the chain holds adds nothing when it comes again).
bool PropsChainHolds(const PropsChain* chain, const DataNode* props);

// LoadNodeProperties with inherit for a node reached by a walk down the file: copies `own`
// (the node's "Props"; may be null), then each compound of `inherited` other than `own`, nearest
// first; values already present win. The caller leaves out nodes without "Props" (they inherit
// nothing). `visitsLeft` counts down the entries looked at, made or passed over, and can span a
// whole file; when it runs out copying stops with a DebugTrace line. Each call makes at most
// 65,536 entries.
void CopyChainedProperties(const DataNode* own, const PropsChain* inherited, PropertyNode& props,
                           int64_t& visitsLeft);
