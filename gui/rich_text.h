// The rich text document: a tree of nodes under a root tagged "root", made by the markup parser
// (gui/markup_parser.h). Elements carry a tag and attributes; text nodes carry the characters
// of a run. Every node resolves its text style from its parent's, its tag and its attributes.
// Readers walk the tree depth-first and address characters by TextPosition.
#pragma once

#include "core/containers/linked_list.h"
#include "core/containers/ordered_map.h"
#include "core/text/wide_string.h"
#include "gui/font_style.h"

#include <cstddef>
#include <cstdint>

class Charset;
class GuiWindow;
class RichTextNode;

// Attribute names compare case-sensitively; the map lists them in insertion order.
using AttributeMap = OrderedMap<WideString, WideString, WideStringCompare>;

// The tree part of a node: children, parent, tag, attributes and text.
class MarkupNode {
public:
    using ChildList = LinkedList<RichTextNode*>;

    MarkupNode() = default;
    MarkupNode(const MarkupNode&) = delete;
    MarkupNode& operator=(const MarkupNode&) = delete;
    // Deletes the whole subtree below the node. The subtree is taken apart level by level
    // rather than recursively, so no depth of tree can exhaust the stack.
    virtual ~MarkupNode();

    // The owned children in document order.
    const ChildList& children() const { return children_; }
    // Null for the root.
    RichTextNode* parent() const { return parent_; }
    // Deletes every child (and their subtrees).
    void DeleteChildren();

    bool textNode = false;  // a text run; otherwise an element
    AttributeMap attributes{false};
    WideString tag;   // the element name; "root" for the document root
    WideString text;  // the characters of a text node

protected:
    friend class RichTextNode;

    ChildList children_;
    RichTextNode* parent_ = nullptr;
    // This node's entry in its parent's child list, which makes the next sibling one step away.
    ChildList::Node* link_ = nullptr;
};

// Node kinds, as the layout asks for them.
enum class NodeKind : int {
    kText = 0,
    kPicture = 1,  // an element that shows a picture window
    kElement = 2,  // any other element
};

class RichTextNode : public MarkupNode {
public:
    // Glyph runs: the index of the first character of each run drawn from one charset, mapped to
    // that charset (null: no charset holds the characters), in key order.
    using GlyphRuns = OrderedMap<int32_t, Charset*>;

    RichTextNode() = default;
    // A picture is taken out of the window it was shown in and deleted.
    ~RichTextNode() override;

    // A document is made of many nodes of one size, made and deleted together whenever its
    // markup changes: they come from a free list of their own rather than the general heap.
    static void* operator new(size_t size);
    static void operator delete(void* block, size_t size);

    // Takes ownership of child, which must have no parent, and appends it after the last child.
    void AppendChild(RichTextNode* child);
    // Detaches the node from its parent (a no-op for a node without one); the caller owns it.
    void Detach();
    // The next child of the same parent, or null for the last child and the root.
    RichTextNode* NextSibling() const;
    RichTextNode* FirstChild() const;

    NodeKind GetKind() const {
        return textNode ? NodeKind::kText : (picture_ != nullptr ? NodeKind::kPicture : NodeKind::kElement);
    }
    // The text replaced, then UpdateNode(this, not recursive).
    void SetText(const WideString& newText);
    const WideString& GetText() const { return text; }
    int32_t TextLength() const { return text.length(); }
    bool IsFloating() const { return floating; }
    GuiWindow* GetPicture() const { return picture_; }
    // Deletes the picture (taken out of its parent window first).
    void DeletePicture();
    // Takes ownership of a picture window (the old one is deleted).
    void SetPicture(GuiWindow* picture);
    const GlyphRuns& glyphRuns() const { return glyphRuns_; }
    // The charset of the run holding character `index`; null before the first run or where no
    // charset holds the characters.
    Charset* RunCharset(int32_t index) const;
    // Rebuilds the glyph runs from the text and the style (the global font manager).
    void BuildGlyphRuns();

    bool floating = false;  // an element with the attribute "TextFloat" (any value)
    FontStyle style;        // the resolved style

private:
    GlyphRuns glyphRuns_{true};
    GuiWindow* picture_ = nullptr;
};

// One step of the depth-first walk. The walk state is a node and a direction: descending means
// the node has just been entered, ascending that it is being left. Answers false, changing
// nothing, when the walk ends (the root is left).
bool NextNode(RichTextNode*& node, bool& descending);
// The next node entered after `node` in document order (its first child, else the next node
// after its subtree), or null. A null node gives null.
RichTextNode* NextNodeInOrder(RichTextNode* node);
// The next node entered after `node` whose kind is the given one, or null.
RichTextNode* NextNodeOfKind(RichTextNode* node, NodeKind kind);
// The node itself when it has the kind, else NextNodeOfKind.
RichTextNode* FindNodeOfKind(RichTextNode* node, NodeKind kind);

// A character position in the document: a node and an offset in that node's text.
struct TextPosition {
    RichTextNode* node = nullptr;
    int32_t offset = 0;

    // Offset 0 at the node after the current one in document order (from the root: the first
    // node of the document).
    void Start();
    // Moves n characters forward through the text nodes. A position on an element first moves
    // to the next text node. False when the document ends first; the position is then left at
    // the end of the last text node reached (or where it was, when it reached none). n < 0
    // fails and changes nothing.
    bool Advance(int32_t n);
    // The character at the offset; 0 when there is none (no node, an element, outside the text).
    char16_t Char() const;

    bool operator==(const TextPosition&) const = default;
};

// Sets the node's style from its parent's resolved style (a node without a parent keeps its
// own), then from its tag and attributes:
//   "Size", "CharSpace", "RowSpace": size, char spacing, row spacing;
//   "FontName": the font name;
//   tag "B" or attribute "Bold": bold; tag "I" or "Italic": italic; tag "N" or "Normal": neither,
//   applied after bold and italic;
//   "Color", "BGColor": text and background colour, as a packed 0xAARRGGBB.
// Numbers go through WideString::ToInt: a value that is not wholly a decimal number gives 0,
// one outside the int range INT32_MIN (so a colour above 0x7FFFFFFF is written as its negative
// decimal). Tags and keys compare case-sensitively; the values of Bold, Italic and Normal do
// not matter.
void ResolveStyle(RichTextNode& node);

// The picture of an "IMG" element: the old picture is deleted; a skin window with one tile
// showing the texture of the disk file named by "Src", sized by "Width" and "Height" (20 by
// 20 when absent; held to the window size limits), shown. Null, and no picture, for any other
// tag.
GuiWindow* BuildImage(RichTextNode& node);

// Resolves the node's style; a text node rebuilds its glyph runs, an element notes whether it
// floats ("TextFloat") and builds its picture when it has none; with
// `recursive`, then does the same for its whole subtree in document order, so every child sees
// its parent's new style.
void UpdateNode(RichTextNode& node, bool recursive);
