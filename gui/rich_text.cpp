#include "gui/rich_text.h"

namespace {

int32_t IntValue(const WideString& value) {
    int32_t v = 0;
    value.ToInt(v);  // leaves 0 when the value is not wholly a number
    return v;
}

bool HasAttribute(const RichTextNode& node, const char16_t* name) {
    const AttributeMap::Node* n = node.attributes.first();
    for (int32_t i = 0; i < node.attributes.count(); ++i, n = n->next) {
        if (WideStringEqualsText(n->key, name)) return true;
    }
    return false;
}

void UpdateOne(RichTextNode& node) {
    ResolveStyle(node);
    node.floating = !node.textNode && HasAttribute(node, u"TextFloat");
}

}  // namespace

MarkupNode::~MarkupNode() { DeleteChildren(); }

void MarkupNode::DeleteChildren() {
    // Each child is deleted only once it has no children of its own: its children move up into
    // this list first. Every node moves at most once, so this stays linear.
    while (children_.count() > 0) {
        children_.SetCursor(children_.first());
        RichTextNode* child = children_.Pop();
        ChildList& grandchildren = child->children_;
        while (grandchildren.count() > 0) {
            grandchildren.SetCursor(grandchildren.first());
            children_.Append(grandchildren.Pop());
        }
        delete child;
    }
}

void RichTextNode::AppendChild(RichTextNode* child) {
    if (children_.count() > 0) children_.SetCursor(children_.first()->prev);
    children_.Append(child);
    child->parent_ = this;
    child->link_ = children_.cursor();
}

void RichTextNode::Detach() {
    if (parent_ == nullptr) return;
    parent_->children_.SetCursor(link_);
    parent_->children_.Take();
    parent_ = nullptr;
    link_ = nullptr;
}

RichTextNode* RichTextNode::NextSibling() const {
    if (parent_ == nullptr) return nullptr;
    const ChildList::Node* next = link_->next;
    return next == parent_->children_.first() ? nullptr : next->element;
}

RichTextNode* RichTextNode::FirstChild() const {
    return children_.count() > 0 ? children_.first()->element : nullptr;
}

void RichTextNode::SetText(const WideString& newText) {
    text = newText;
    UpdateNode(*this, false);
}

bool NextNode(RichTextNode*& node, bool& descending) {
    if (descending) {
        if (RichTextNode* child = node->FirstChild()) {
            node = child;
            return true;
        }
    }
    if (node->parent() == nullptr) return false;
    if (descending) {
        descending = false;
        return true;
    }
    if (RichTextNode* sibling = node->NextSibling()) {
        node = sibling;
        descending = true;
        return true;
    }
    node = node->parent();
    return true;
}

RichTextNode* NextNodeInOrder(RichTextNode* node) {
    if (node == nullptr) return nullptr;
    bool descending = true;
    while (NextNode(node, descending)) {
        if (descending) return node;
    }
    return nullptr;
}

RichTextNode* NextNodeOfKind(RichTextNode* node, NodeKind kind) {
    if (node == nullptr) return nullptr;
    bool descending = true;
    while (NextNode(node, descending)) {
        if (descending && node->GetKind() == kind) return node;
    }
    return nullptr;
}

RichTextNode* FindNodeOfKind(RichTextNode* node, NodeKind kind) {
    if (node != nullptr && node->GetKind() == kind) return node;
    return NextNodeOfKind(node, kind);
}

void TextPosition::Start() {
    offset = 0;
    node = NextNodeInOrder(node);
}

bool TextPosition::Advance(int32_t n) {
    if (n < 0 || node == nullptr) return false;
    if (!node->textNode) {
        RichTextNode* next = NextNodeOfKind(node, NodeKind::kText);
        if (next == nullptr) return false;
        node = next;
        offset = 0;
    }
    for (;;) {
        int32_t rest = node->TextLength() - offset;
        if (rest < 0) rest = 0;
        if (n < rest) {
            offset += n;
            return true;
        }
        RichTextNode* next = NextNodeOfKind(node, NodeKind::kText);
        if (next == nullptr) {
            offset = node->TextLength();
            return false;
        }
        n -= rest;
        node = next;
        offset = 0;
    }
}

char16_t TextPosition::Char() const {
    if (node == nullptr || !node->textNode || offset < 0 || offset >= node->TextLength()) return 0;
    return node->text.data()[offset];
}

void ResolveStyle(RichTextNode& node) {
    if (node.parent() != nullptr) node.style = node.parent()->style;
    FontStyle& style = node.style;
    bool bold = WideStringEqualsText(node.tag, u"B");
    bool italic = WideStringEqualsText(node.tag, u"I");
    bool normal = WideStringEqualsText(node.tag, u"N");
    // One pass over the attributes, each compared with the names in place: a node has few, and
    // looking each name up would build a key string per name.
    const AttributeMap::Node* a = node.attributes.first();
    for (int32_t i = 0; i < node.attributes.count(); ++i, a = a->next) {
        const WideString& key = a->key;
        if (WideStringEqualsText(key, u"Size")) {
            style.size = IntValue(a->value);
        } else if (WideStringEqualsText(key, u"CharSpace")) {
            style.charSpacing = IntValue(a->value);
        } else if (WideStringEqualsText(key, u"RowSpace")) {
            style.rowSpacing = IntValue(a->value);
        } else if (WideStringEqualsText(key, u"FontName")) {
            style.fontName = a->value;
        } else if (WideStringEqualsText(key, u"Bold")) {
            bold = true;
        } else if (WideStringEqualsText(key, u"Italic")) {
            italic = true;
        } else if (WideStringEqualsText(key, u"Normal")) {
            normal = true;
        } else if (WideStringEqualsText(key, u"Color")) {
            style.color = ArgbColor(static_cast<unsigned>(IntValue(a->value)));
        } else if (WideStringEqualsText(key, u"BGColor")) {
            style.background = ArgbColor(static_cast<unsigned>(IntValue(a->value)));
        }
    }
    if (bold) style.flags |= kFontBold;
    if (italic) style.flags |= kFontItalic;
    if (normal) style.flags &= ~(kFontBold | kFontItalic);
}

void UpdateNode(RichTextNode& node, bool recursive) {
    UpdateOne(node);
    if (!recursive) return;
    // The subtree in document order without recursion: the walk is back at `node` exactly when
    // it leaves it.
    RichTextNode* current = &node;
    bool descending = true;
    while (NextNode(current, descending) && current != &node) {
        if (descending) UpdateOne(*current);
    }
}
