#include "gui/rich_text.h"

#include "gui/font_manager.h"
#include "gui/skin_window.h"
#include "render/texture.h"
#include "render/texture_registry.h"

#include <cstring>
#include <new>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPoolNodes = false;  // the sanitizer must see every node's own block
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPoolNodes = false;
#else
constexpr bool kPoolNodes = true;
#endif
#else
constexpr bool kPoolNodes = true;
#endif

// Node blocks are carved from slabs and recycled through a free list; slabs are kept for the
// life of the process (they stay reachable from here), so a node may be deleted at any time,
// even during static destruction. Whenever every node has been given back (a document being
// replaced), the free list is laid out again in address order, so that the next document's
// nodes lie in the order it is parsed and walked rather than in the order the last was
// deleted. Not thread-safe, like the rest of the GUI.
struct FreeBlock {
    FreeBlock* next;
};

struct NodePool {
    static constexpr size_t kBlock = (sizeof(RichTextNode) + alignof(std::max_align_t) - 1) /
                                     alignof(std::max_align_t) * alignof(std::max_align_t);
    static constexpr size_t kSlabBlocks = 256;

    struct Slab {
        Slab* next;
        alignas(std::max_align_t) unsigned char blocks[kBlock * kSlabBlocks];
    };

    FreeBlock* free = nullptr;
    Slab* slabs = nullptr;
    size_t live = 0;
    size_t capacity = 0;  // blocks in all slabs
    size_t taken = 0;     // blocks handed out since the list was last laid out

    void* Take() {
        if (free == nullptr) {
            Slab* slab = static_cast<Slab*>(::operator new(sizeof(Slab)));
            slab->next = slabs;
            slabs = slab;
            capacity += kSlabBlocks;
            Push(slab);
        }
        FreeBlock* block = free;
        free = block->next;
        ++live;
        ++taken;
        return block;
    }
    void Give(void* block) {
        free = ::new (block) FreeBlock{free};
        // Laying the list out costs a step per block, so it waits until at least half as
        // many blocks were handed out: one node made and deleted again and again stays cheap.
        if (--live == 0 && taken * 2 >= capacity) {
            free = nullptr;
            for (Slab* slab = slabs; slab != nullptr; slab = slab->next) Push(slab);
            taken = 0;
        }
    }
    // Puts every block of the slab on the free list, the lowest address first in line.
    void Push(Slab* slab) {
        for (size_t i = kSlabBlocks; i-- > 0;) free = ::new (slab->blocks + i * kBlock) FreeBlock{free};
    }
};

NodePool& Pool() {
    static NodePool* pool = new NodePool;  // never destroyed: see NodePool
    return *pool;
}

int32_t IntValue(const WideString& value) {
    int32_t v = 0;
    value.ToInt(v);  // leaves 0 when the value is not wholly a number
    return v;
}

// The key equals the name (case-sensitive; a key with a zero unit in it equals no name).
template <size_t N>
bool Is(const WideString& key, const char16_t (&name)[N]) {
    constexpr int32_t kLength = static_cast<int32_t>(N) - 1;
    return key.length() == kLength &&
           std::memcmp(key.data(), name, kLength * sizeof(char16_t)) == 0;
}

// Exact equality, zero units included.
bool SameText(const WideString& a, const WideString& b) {
    return a.length() == b.length() &&
           (a.length() == 0 ||
            std::memcmp(a.data(), b.data(), static_cast<size_t>(a.length()) * sizeof(char16_t)) == 0);
}

bool Floats(const RichTextNode& node) {
    const AttributeMap::Node* n = node.attributes.first();
    for (int32_t i = 0; i < node.attributes.count(); ++i, n = n->next) {
        if (Is(n->key, u"TextFloat")) return true;
    }
    return false;
}

// The attribute's value, or null.
const WideString* Attribute(const RichTextNode& node, const char16_t* name, int32_t length) {
    const AttributeMap::Node* n = node.attributes.first();
    for (int32_t i = 0; i < node.attributes.count(); ++i, n = n->next) {
        if (n->key.length() == length &&
            std::memcmp(n->key.data(), name, static_cast<size_t>(length) * sizeof(char16_t)) == 0) {
            return &n->value;
        }
    }
    return nullptr;
}

// A picture window that holds its texture: the reference the registry gave goes back with it.
class PictureWindow : public SkinWindow {
public:
    explicit PictureWindow(Texture* texture) : texture_(texture) {}
    ~PictureWindow() override {
        if (texture_ != nullptr) {
            if (texture_->Parent() != nullptr) texture_->Parent()->Release();
            texture_->Release();
        }
    }

private:
    Texture* texture_;
};

void UpdateOne(RichTextNode& node) {
    ResolveStyle(node);
    if (node.textNode) {
        node.floating = false;
        node.BuildGlyphRuns();
        node.DeletePicture();
    } else {
        node.floating = Floats(node);
        if (node.GetPicture() == nullptr) BuildImage(node);
    }
}

}  // namespace

MarkupNode::~MarkupNode() { DeleteChildren(); }

RichTextNode::~RichTextNode() { DeletePicture(); }

void RichTextNode::DeletePicture() {
    if (picture_ == nullptr) return;
    GuiWindow* picture = picture_;
    picture_ = nullptr;
    if (picture->parent() != nullptr) picture->parent()->RemoveChild(picture);
    delete picture;
}

void RichTextNode::SetPicture(GuiWindow* picture) {
    if (picture == picture_) return;
    DeletePicture();
    picture_ = picture;
}

Charset* RichTextNode::RunCharset(int32_t index) const {
    GlyphRuns::Node* floor = nullptr;
    GlyphRuns::Node* ceiling = nullptr;
    glyphRuns_.FindBounds(index, floor, ceiling);
    return floor != nullptr ? floor->value : nullptr;
}

void RichTextNode::BuildGlyphRuns() {
    glyphRuns_.Clear();
    const int32_t length = text.length();
    if (length == 0) return;
    // The style's charsets are looked up once; each character then takes the first charset
    // of the list that holds it, as FontManager::FindCharset does.
    CharsetList* list = g_fontManager.FindStyle(style);
    const char16_t* chars = text.data();
    Charset* last = nullptr;
    for (int32_t i = 0; i < length; ++i) {
        Charset* found = nullptr;
        if (list != nullptr) {
            const int32_t code = chars[i];
            const CharsetList::Node* n = list->first();
            for (int32_t k = 0; k < list->count(); ++k, n = n->next) {
                if (n->element->start <= code && code <= n->element->end) {
                    found = n->element;
                    break;
                }
            }
        }
        if (i == 0 || found != last) {
            glyphRuns_.Insert(i, found, 1);
            last = found;
        }
    }
}

GuiWindow* BuildImage(RichTextNode& node) {
    node.DeletePicture();
    int32_t width = 20;
    int32_t height = 20;
    if (const WideString* w = Attribute(node, u"Width", 5)) width = IntValue(*w);
    if (const WideString* h = Attribute(node, u"Height", 6)) height = IntValue(*h);
    if (!Is(node.tag, u"IMG")) return nullptr;
    // An absent "Src" names no file: the tile stays without texture rather than asking the
    // registry for an empty one.
    Texture* texture = nullptr;
    if (const WideString* src = Attribute(node, u"Src", 3); src != nullptr && src->length() > 0) {
        // A name that narrows to nothing names no file either.
        const String name(*src);
        if (name.length() > 0) {
            TextureRequest request;
            request.locator = FileRef(name);
            request.locator.flags = FileRef::kDisk;
            texture = g_textureRegistry.Get(request, nullptr);
        }
    }
    auto* picture = new PictureWindow(texture);
    auto* tile = new ImageTile();
    tile->SetTexture(texture);
    // The window's size limits hold the picture to 1..2000 pixels a side, whatever was asked.
    const Point least = picture->minSize();
    const Point most = picture->maxSize();
    width = width < least.x ? least.x : (width > most.x ? most.x : width);
    height = height < least.y ? least.y : (height > most.y ? most.y : height);
    tile->SetRect(0, 0, width, height);
    picture->AddTile(tile, String());
    node.SetPicture(picture);
    picture->Show();
    picture->SetSize(width, height);
    return picture;
}

void* RichTextNode::operator new(size_t size) {
    if (!kPoolNodes || size != sizeof(RichTextNode)) return ::operator new(size);
    return Pool().Take();
}

void RichTextNode::operator delete(void* block, size_t size) {
    if (block == nullptr) return;
    if (!kPoolNodes || size != sizeof(RichTextNode)) {
        ::operator delete(block);
        return;
    }
    Pool().Give(block);
}

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
    FontStyle& style = node.style;
    if (node.parent() != nullptr) {
        const FontStyle& from = node.parent()->style;
        // Member by member, so that an equal font name (nearly always) is not copied again.
        style.size = from.size;
        style.flags = from.flags;
        style.scale = from.scale;
        style.charSpacing = from.charSpacing;
        style.rowSpacing = from.rowSpacing;
        style.color = from.color;
        style.background = from.background;
        if (!SameText(style.fontName, from.fontName)) style.fontName = from.fontName;
    }
    const char16_t tag = node.tag.length() == 1 ? node.tag.data()[0] : 0;
    bool bold = tag == u'B';
    bool italic = tag == u'I';
    bool normal = tag == u'N';
    // One pass over the attributes, each compared with the names in place: a node has few, and
    // looking each name up would build a key string per name.
    const AttributeMap::Node* a = node.attributes.first();
    for (int32_t i = 0; i < node.attributes.count(); ++i, a = a->next) {
        const WideString& key = a->key;
        if (Is(key, u"Size")) {
            style.size = IntValue(a->value);
        } else if (Is(key, u"CharSpace")) {
            style.charSpacing = IntValue(a->value);
        } else if (Is(key, u"RowSpace")) {
            style.rowSpacing = IntValue(a->value);
        } else if (Is(key, u"FontName")) {
            style.fontName = a->value;
        } else if (Is(key, u"Bold")) {
            bold = true;
        } else if (Is(key, u"Italic")) {
            italic = true;
        } else if (Is(key, u"Normal")) {
            normal = true;
        } else if (Is(key, u"Color")) {
            style.color = ArgbColor(static_cast<unsigned>(IntValue(a->value)));
        } else if (Is(key, u"BGColor")) {
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
