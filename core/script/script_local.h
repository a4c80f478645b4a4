// What the script node and both dialects share and nobody else needs: a growable stack of node
// pointers, the state of one parse, and the text scanning rules and the statement executor,
// each written once for bytes and for 16-bit units.
#pragma once

#include "core/script/script_node.h"

#include <cstdint>
#include <cstring>

class SearchPaths;
class Stream;

namespace script_detail {

// A stack of pointers that doubles its block: work lists of tree walks hold up to one entry
// per node, so growth must stay amortised O(1).
template <typename T>
class PtrStack {
public:
    PtrStack() = default;
    PtrStack(const PtrStack&) = delete;
    PtrStack& operator=(const PtrStack&) = delete;
    ~PtrStack() { delete[] items_; }

    void Push(T* item) {
        if (count_ == capacity_) {
            const int32_t capacity = capacity_ == 0 ? 16 : capacity_ * 2;
            T** items = new T*[capacity];
            if (count_ > 0) std::memcpy(items, items_, sizeof(T*) * static_cast<size_t>(count_));
            delete[] items_;
            items_ = items;
            capacity_ = capacity;
        }
        items_[count_++] = item;
    }
    // Only when not Empty().
    T* Pop() { return items_[--count_]; }
    bool Empty() const { return count_ == 0; }

private:
    T** items_ = nullptr;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

using NodeStack = PtrStack<ScriptNode>;

// Moves node's children onto `out` and unlinks them from node.
void TakeChildren(ScriptNode* node, NodeStack& out);
// Deletes every node on `nodes` and all below them. A node equal to *watch is among them:
// *watch becomes null, so a caller's scope never points at freed memory.
void FreeNodes(NodeStack& nodes, ScriptNode** watch);
// What a reference copy of `node` would make: the nodes below it, and the bytes the copy takes
// -- node's value and, for every node below it, its own memory, its name (held twice: as the
// map key and as the name) and its value. The walk stops as soon as either figure passes its
// limit, so a refusal costs no more than the budget it checks.
struct CopyCost {
    int64_t nodes = 0;
    int64_t bytes = 0;
};
CopyCost MeasureCopy(const ScriptNode* node, int64_t nodeLimit, int64_t byteLimit);
// Deep copies of other's children (in list order) pushed onto `out` in reverse, so popping
// gives them in order.
void CopyChildren(const ScriptNode& other, NodeStack& out);
// Adds the nodes popped from `copies` to target, in the order popped.
void AdoptChildren(ScriptNode* target, NodeStack& copies);

// Bounds that keep a hostile or broken file from exhausting the stack, time or memory.
inline constexpr int32_t kMaxIncludeDepth = 16;  // included files nested inside each other
inline constexpr int32_t kMaxNesting = 256;      // array(...)/object(...) values nested
inline constexpr int64_t kCopyBudget = 1 << 20;  // nodes a parse may make by reference copies
// Bytes a parse may spend on reference copies (see MeasureCopy): a node count alone lets a
// short script copy one long value a million times, or fill a million nodes of 300 bytes each.
inline constexpr int64_t kCopyByteBudget = int64_t(64) << 20;

// The state of one parse, shared with the files it includes.
struct ScriptContext {
    ScriptContext() = default;
    ScriptContext(const ScriptContext&) = delete;
    ScriptContext& operator=(const ScriptContext&) = delete;
    ~ScriptContext() { FreeNodes(buried, nullptr); }

    // A reassigned node's old children are only unlinked during a parse and freed when it
    // ends: a statement can reassign an ancestor of a scope that an enclosing array(...) or
    // the statement loop still holds ("using a.b; x = array(using, a = 1), 5;"), and such a
    // scope must stay valid memory. What is written below it then goes nowhere.
    NodeStack buried;
    int64_t copyBudget = kCopyBudget;          // nodes reference copies may still make
    int64_t copyByteBudget = kCopyByteBudget;  // bytes they may still take
    int32_t includeDepth = 0;
    int32_t nesting = 0;

    // Unlinks target's children onto the buried list and resets its nextIndex.
    void ResetChildren(ScriptNode* target) {
        TakeChildren(target, buried);
        target->nextIndex = 0;
    }
};

// The free-form parse of Stream with the shared state (the line dialect's include uses it).
bool ParseScriptIn(Stream* stream, ScriptNode* root, SearchPaths* paths, ScriptContext& context);
// The stream of an include's file name, resolved against paths when there are any; null when
// the name is empty or the file does not open.
Stream* OpenIncludeStream(const String& fileName, SearchPaths* paths);
// Runs ParseScriptIn on the included stream within the nesting limit and deletes the stream.
bool ParseIncluded(Stream* stream, ScriptNode* root, SearchPaths* paths, ScriptContext& context);
// The first decimal name from scope's nextIndex on that is not a child's name; nextIndex moves
// past every number tried.
String NextAutoKey(ScriptNode* scope);

// ---------------------------------------------------------------------------------------------
// Text rules, for C = char (bytes) and C = char16_t (the line dialect's units).

template <typename C>
bool IsLineBreak(C c) {
    return c == C('\n') || c == C('\r');
}

// Bytes count as 0..255 whatever the signedness of char.
inline uint32_t UnitValue(char c) { return static_cast<unsigned char>(c); }
inline uint32_t UnitValue(char16_t c) { return c; }

template <typename C, typename P>
bool StartsWith(const C* text, int32_t length, const P* prefix, int32_t prefixLength) {
    if (length < prefixLength) return false;
    for (int32_t i = 0; i < prefixLength; ++i) {
        if (UnitValue(text[i]) != UnitValue(prefix[i])) return false;
    }
    return true;
}

// [first, last) of the text without leading and trailing blanks and tabs.
template <typename C>
void TrimRange(const C* text, int32_t& first, int32_t& last) {
    while (first < last && (text[first] == C(' ') || text[first] == C('\t'))) ++first;
    while (last > first && (text[last - 1] == C(' ') || text[last - 1] == C('\t'))) --last;
}

// The position after the rest of the line and the line breaks that follow it.
template <typename C>
int32_t SkipLineFrom(const C* text, int32_t length, int32_t position) {
    while (position < length && !IsLineBreak(text[position])) ++position;
    while (position < length && IsLineBreak(text[position])) ++position;
    return position;
}

// The length of the group at the start of the text (delimiters included; an unclosed group
// runs to the end), 0 when the text does not begin with `open`. The closer is tested first,
// so for quotes the next quote closes.
template <typename C>
int32_t GroupLength(const C* text, int32_t length, C open, C close) {
    if (length <= 0 || text[0] != open) return 0;
    int32_t depth = 1;
    int32_t i = 1;
    while (i < length && depth > 0) {
        if (text[i] == close) {
            --depth;
        } else if (text[i] == open) {
            ++depth;
        }
        ++i;
    }
    return i;
}

// The length of the leading part up to the first separator that lies outside quoted,
// bracketed and parenthesised groups (the whole length when there is none).
template <typename C, typename P>
int32_t TokenLength(const C* text, int32_t length, const P* separator, int32_t separatorLength) {
    int32_t i = 0;
    while (i < length && !StartsWith(text + i, length - i, separator, separatorLength)) {
        const C c = text[i];
        int32_t step = 1;
        if (c == C('"')) {
            step = GroupLength(text + i, length - i, C('"'), C('"'));
        } else if (c == C('\'')) {
            step = GroupLength(text + i, length - i, C('\''), C('\''));
        } else if (c == C('[')) {
            step = GroupLength(text + i, length - i, C('['), C(']'));
        } else if (c == C('(')) {
            step = GroupLength(text + i, length - i, C('('), C(')'));
        }
        i += step;
    }
    return i;
}

// True with `count` = the number of units between the opener at text[0] and the first closer
// not preceded by an unpaired backslash; false when the text does not begin with the opener
// or the closer is missing (the caller then keeps the text unchanged).
template <typename C>
bool UnquotedLength(const C* text, int32_t length, C open, C close, int32_t& count) {
    if (length <= 0 || text[0] != open) return false;
    bool escaped = false;
    for (int32_t i = 1; i < length; ++i) {
        if (text[i] == close && !escaped) {
            count = i - 1;
            return true;
        }
        // A doubled backslash protects nothing after it.
        escaped = text[i] == C('\\') && !escaped;
    }
    return false;
}

// The path walk of FindOrCreateNode for either unit type; makeName turns a component
// (pointer, length) into the narrow child name.
template <typename C, typename MakeName>
ScriptNode* FindOrCreatePath(ScriptNode* root, const C* path, int32_t length, ScriptNode* scope,
                             MakeName makeName) {
    int32_t at = 0;
    int32_t end = length;
    TrimRange(path, at, end);
    ScriptNode* node = scope != nullptr ? scope : root;
    // The next '.' and '[' are remembered, so a path of many components is scanned once.
    int32_t dot = -1;
    int32_t bracket = -1;
    for (;;) {
        if (dot < at) {
            dot = at;
            while (dot < end && path[dot] != C('.')) ++dot;
        }
        const int32_t bracketFrom = at < end && path[at] == C('[') ? at + 1 : at;
        if (bracket < bracketFrom) {
            bracket = bracketFrom;
            while (bracket < end && path[bracket] != C('[')) ++bracket;
        }
        int32_t componentEnd = end;
        int32_t next = end;
        int32_t kind = -1;  // -1: the last component
        if (bracket < end && bracket < dot) {
            componentEnd = bracket;
            next = bracket;
            kind = ScriptNode::kArray;
        } else if (dot < end) {
            componentEnd = dot;
            next = dot + 1;
            kind = ScriptNode::kObject;
        }
        int32_t first = at;
        int32_t last = componentEnd;
        TrimRange(path, first, last);
        int32_t count = 0;
        if (UnquotedLength(path + first, last - first, C('['), C(']'), count)) {
            first += 1;
            last = first + count;
        }
        if (UnquotedLength(path + first, last - first, C('"'), C('"'), count)) {
            first += 1;
            last = first + count;
        }
        const String name = makeName(path + first, last - first);
        const ScriptNode::Node* entry = node->FindNode(name);
        ScriptNode* child = entry != nullptr ? entry->value : nullptr;
        if (child == nullptr) {
            child = new ScriptNode;
            child->name = name;
            node->AddChild(name, child);
        }
        node = child;
        if (kind < 0) return node;
        node->kind = kind;
        at = next;
    }
}

// Runs each element of an array(...)/object(...) value's inner text -- the pieces between
// commas outside groups -- with run(pointer, length), one nesting level deeper; answers the AND
// of the results, or false without running anything when the nesting bound is reached.
template <typename C, typename Run>
bool ForEachElement(const C* text, int32_t length, ScriptContext& context, Run run) {
    if (context.nesting >= kMaxNesting) return false;
    ++context.nesting;
    bool ok = true;
    for (int32_t at = 0; at < length;) {
        const int32_t n = TokenLength(text + at, length - at, ",", 1);
        ok = run(text + at, n) && ok;
        at += n;
        if (at < length) ++at;  // the ','
    }
    --context.nesting;
    return ok;
}

// The first position of needle (ASCII) in text, or -1.
template <typename C, typename P>
int32_t FindText(const C* text, int32_t length, const P* needle, int32_t needleLength) {
    for (int32_t i = 0; i + needleLength <= length; ++i) {
        if (StartsWith(text + i, length - i, needle, needleLength)) return i;
    }
    return -1;
}

// [from, to) of the units first..last (inclusive) of a text of `length` units, with the
// clamping of String::Mid: last -1 means the end, and a range that is empty after clamping
// gives from == to.
inline void MidRange(int32_t length, int32_t first, int32_t last, int32_t& from, int32_t& to) {
    from = to = 0;
    if (length == 0 || first > length - 1) return;
    if (last == -1 || last > length - 1) last = length - 1;
    if (last < first) return;
    if (first < 0) first = 0;
    if (last < first) return;
    from = first;
    to = last + 1;
}

// ---------------------------------------------------------------------------------------------
// The statement executor of both dialects. They differ only where a Dialect says so:
//
//   using Unit;                        char (free-form) or char16_t (line dialect)
//   static constexpr bool kEmptyFails; an empty statement answers false instead of being run
//   static constexpr bool kReferences; a value that is not array(...), object(...), quoted
//                                      text or a number is a reference (see AssignValue)
//   static String Narrow(const Unit* text, int32_t length);
//                                      the text as stored in the tree (names, values, files)
//   and, with kReferences:
//   static bool IsNumber(const Unit* text, int32_t length);
//   static bool AssignReference(ScriptNode* root, ScriptNode* target, const Unit* path,
//                               int32_t length, ScriptContext& context);
//
// Statements are ranges of the caller's text, which must stay unchanged while they run; the
// tree never points into it.

template <typename Dialect>
bool ExecuteUnits(ScriptNode* root, const typename Dialect::Unit* text, int32_t length,
                  ScriptNode*& scope, SearchPaths* paths, ScriptContext& context);

// Runs the elements of an array(...)/object(...) value -- from after its first '(' up to, not
// including, its last unit -- as statements with target as their scope.
template <typename Dialect>
bool RunElements(ScriptNode* root, ScriptNode* target, const typename Dialect::Unit* value,
                 int32_t length, SearchPaths* paths, ScriptContext& context) {
    using C = typename Dialect::Unit;
    const int32_t open = FindText(value, length, "(", 1);
    if (open < 0) return true;
    int32_t first = 0;
    int32_t last = 0;
    MidRange(length, open + 1, length - 2, first, last);
    TrimRange(value, first, last);
    ScriptNode* scope = target;
    return ForEachElement(value + first, last - first, context,
                          [&](const C* element, int32_t n) {
                              return ExecuteUnits<Dialect>(root, element, n, scope, paths,
                                                           context);
                          });
}

// Gives target the (trimmed) value.
template <typename Dialect>
bool AssignValue(ScriptNode* root, ScriptNode* target, const typename Dialect::Unit* value,
                 int32_t length, SearchPaths* paths, ScriptContext& context) {
    using C = typename Dialect::Unit;
    const bool isArray = StartsWith(value, length, "array", 5);
    const bool isObject = !isArray && StartsWith(value, length, "object", 6);
    const bool quoted = length > 0 && (value[0] == C('"') || value[0] == C('\''));
    if constexpr (Dialect::kReferences) {
        if (length > 0 && !isArray && !isObject && !quoted &&
            !Dialect::IsNumber(value, length)) {
            // The copy is taken before target changes: the source may lie below it.
            return Dialect::AssignReference(root, target, value, length, context);
        }
    }
    context.ResetChildren(target);
    if (isArray || isObject) {
        // The value text is left as it was.
        target->kind = isArray ? ScriptNode::kArray : ScriptNode::kObject;
        return RunElements<Dialect>(root, target, value, length, paths, context);
    }
    int32_t count = 0;
    if (quoted && UnquotedLength(value, length, value[0], value[0], count)) {
        target->value = Dialect::Narrow(value + 1, count);
    } else {
        target->value = Dialect::Narrow(value, length);
    }
    target->kind = ScriptNode::kText;
    return true;
}

// One statement: "using", "include", an assignment by "=>" or "=", or a bare value appended
// to the scope under the next free number.
template <typename Dialect>
bool ExecuteUnits(ScriptNode* root, const typename Dialect::Unit* text, int32_t length,
                  ScriptNode*& scope, SearchPaths* paths, ScriptContext& context) {
    using C = typename Dialect::Unit;
    int32_t first = 0;
    int32_t last = length;
    TrimRange(text, first, last);
    const C* s = text + first;
    const int32_t n = last - first;
    if (Dialect::kEmptyFails && n == 0) return false;

    if (StartsWith(s, n, "using", 5)) {
        int32_t from = 5;
        int32_t to = n;
        TrimRange(s, from, to);
        if (from == to) {
            scope = nullptr;
        } else {
            scope = FindOrCreatePath(root, s + from, to - from, nullptr, Dialect::Narrow);
            scope->kind = ScriptNode::kObject;
        }
        return true;
    }
    if (StartsWith(s, n, "include", 7)) {
        // The file name: the quoted group at the start of what lies between the first '(' and
        // the first ')'. A file that does not open leaves an ordinary statement.
        int32_t from = 0;
        int32_t to = 0;
        MidRange(n, FindText(s, n, "(", 1) + 1, FindText(s, n, ")", 1) - 1, from, to);
        TrimRange(s, from, to);
        int32_t nameAt = from;
        int32_t nameLength = GroupLength(s + from, to - from, C('"'), C('"'));
        int32_t count = 0;
        if (UnquotedLength(s + from, nameLength, C('"'), C('"'), count)) {
            nameAt = from + 1;
            nameLength = count;
        }
        if (Stream* stream = OpenIncludeStream(Dialect::Narrow(s + nameAt, nameLength), paths)) {
            return ParseIncluded(stream, root, paths, context);
        }
    }

    // The operator: the first "=>" when it lies outside groups, else the first "=" under the
    // same test. Only the first occurrence of each is tried.
    int32_t op = FindText(s, n, "=>", 2);
    int32_t opLength = 2;
    if (op < 0 || TokenLength(s, n, "=>", 2) != op) {
        op = FindText(s, n, "=", 1);
        opLength = 1;
        if (op >= 0 && TokenLength(s, n, "=", 1) != op) op = -1;
    }
    ScriptNode* target = nullptr;
    int32_t valueFrom = 0;
    int32_t valueTo = n;
    if (op >= 0) {
        target = FindOrCreatePath(root, s, op, scope, Dialect::Narrow);
        valueFrom = op + opLength;
    } else {
        if (scope == nullptr) return true;
        // A fresh decimal name: no path to walk, and no child of that name yet.
        const String key = NextAutoKey(scope);
        target = new ScriptNode;
        target->name = key;
        scope->AddChild(key, target);
    }
    TrimRange(s, valueFrom, valueTo);
    return AssignValue<Dialect>(root, target, s + valueFrom, valueTo - valueFrom, paths,
                                context);
}

}  // namespace script_detail
