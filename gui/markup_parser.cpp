#include "gui/markup_parser.h"

#include "gui/tokenizer.h"

#include <cstring>
#include <memory>
#include <optional>

namespace {

// One parse: the markup tokenizer over the text, the attribute tokenizer (made at the first tag
// with attributes and kept for the rest), and the flags every level shares.
struct MarkupParse {
    MarkupParse(const WideString& source, bool resolveStyles) : text(source), resolve(resolveStyles) {
        MakeMarkupTokenizer(markup);
        markup.ShowText(text.data(), text.length());
    }

    const WideString& text;
    Tokenizer markup;
    // On the stack with the parse: a tokenizer is over 1 KB, and a heap request that large makes
    // the allocator sweep up every small block the previous document freed.
    std::optional<Tokenizer> attributes;
    // Each node is updated as soon as its tag, attributes or text are known: its parent is
    // complete by then, so this gives what UpdateNode over the finished tree gives, while the
    // node is still at hand.
    const bool resolve;
    bool ok = true;
    bool stopped = false;  // the nesting bound was reached: every level ends its children
};

WideString Slice(const WideString& text, int32_t first, int32_t end) {
    return end > first ? WideString(text.data() + first, end - first, true) : WideString();
}

bool ReadAttributes(Tokenizer& t, RichTextNode& node, const char16_t* chars, int32_t count) {
    t.ShowText(chars, count);
    WideString name;
    bool pending = false;
    Token token;
    while (t.NextToken(token, false) == TokenResult::kRead) {
        if (token.id == kCLikeAssign) {
            if (!pending) return false;
            if (t.NextToken(token, false) != TokenResult::kRead) return false;
            if (token.id != kCLikeDoubleQuoted && token.id != kCLikeSingleQuoted &&
                token.id != kTokenNumber && token.id != kTokenWord) {
                return false;
            }
            // The value moves into the entry instead of being copied.
            node.attributes.GetOrInsert(name)->value = std::move(token.text);
            pending = false;
            continue;
        }
        if (pending) node.attributes.Insert(name, WideString(), 1);
        name = std::move(token.text);
        pending = true;
    }
    if (pending) node.attributes.Insert(name, WideString(), 1);
    return true;
}

bool ParseElement(MarkupParse& p, RichTextNode& node, int32_t depth);

// Parses children into the node until one fails to parse (a closing tag, the end of the text).
void ParseChildren(MarkupParse& p, RichTextNode& node, int32_t depth) {
    while (!p.stopped) {
        auto child = std::make_unique<RichTextNode>();
        // The child learns its parent before it is parsed: a closing tag compares with its tag.
        node.AppendChild(child.get());
        if (!ParseElement(p, *child, depth)) {
            child->Detach();
            return;
        }
        child.release();
    }
}

// A closing tag: its name, then ">". It always ends the children of the element being parsed.
bool ParseClosingTag(MarkupParse& p, RichTextNode& node, int32_t depth) {
    int32_t id = 0;
    if (p.markup.SkipToken(id) != TokenResult::kRead) return false;
    // At the top level no element is open, so a closing tag there is stray whatever it names
    // (the root's own tag "root" included). The name is compared where it stands in the text.
    const WideString& tag = node.parent()->tag;
    const int32_t nameLength = p.markup.Position() - p.markup.TokenStart();
    if (depth == 1 || nameLength != tag.length() ||
        std::memcmp(tag.data(), p.text.data() + p.markup.TokenStart(),
                    static_cast<size_t>(nameLength) * sizeof(char16_t)) != 0) {
        p.ok = false;
    }
    if (p.markup.SkipToken(id) != TokenResult::kRead || id != kMarkupEnd) p.ok = false;
    return false;
}

bool ParseOpeningTag(MarkupParse& p, RichTextNode& node, int32_t depth) {
    Token name;
    if (p.markup.NextToken(name, false) != TokenResult::kRead) return false;
    node.tag = std::move(name.text);
    node.textNode = false;
    const int32_t afterName = p.markup.Position();
    int32_t beforeEnd;
    int32_t id = 0;
    do {
        beforeEnd = p.markup.Position();
        if (p.markup.SkipToken(id) != TokenResult::kRead) return false;
    } while (id != kMarkupEnd && id != kMarkupEmptyEnd);
    if (beforeEnd != afterName) {
        if (!p.attributes) MakeCLikeTokenizer(p.attributes.emplace());
        ReadAttributes(*p.attributes, node, p.text.data() + afterName, beforeEnd - afterName);
    }
    if (p.resolve) UpdateNode(node, false);
    if (id == kMarkupEnd) ParseChildren(p, node, depth + 1);
    return true;
}

// A raw section: everything up to the next "</RAW>" is text. Without one the node is dropped.
bool ParseRaw(MarkupParse& p, RichTextNode& node) {
    const int32_t start = p.markup.Position();
    int32_t id = 0;
    do {
        if (p.markup.SkipToken(id) != TokenResult::kRead) return false;
    } while (id != kMarkupRawClose);
    node.text = Slice(p.text, start, p.markup.TokenStart());
    return true;
}

// A text run from the token just read up to the next "<", "</" or "<RAW>", which is left for
// the next element.
bool ParseRun(MarkupParse& p, RichTextNode& node) {
    const int32_t start = p.markup.TokenStart();
    int32_t end = p.text.length();
    int32_t id = 0;
    while (p.markup.SkipToken(id) == TokenResult::kRead) {
        if (id == kMarkupOpen || id == kMarkupClose || id == kMarkupRawOpen) {
            end = p.markup.TokenStart();
            p.markup.SeekTo(end);
            break;
        }
    }
    node.text = Slice(p.text, start, end);
    return true;
}

// Parses one element, text run or raw section into the node, at the given depth below the
// root. False when there was none: the text ended, or a closing tag came.
bool ParseElement(MarkupParse& p, RichTextNode& node, int32_t depth) {
    int32_t id = 0;
    if (p.markup.SkipToken(id) != TokenResult::kRead) return false;
    if (id == kMarkupClose) return ParseClosingTag(p, node, depth);
    if (depth > kMaxMarkupDepth) {
        p.ok = false;
        p.stopped = true;
        return false;
    }
    if (id == kMarkupOpen) return ParseOpeningTag(p, node, depth);
    node.textNode = true;
    if (!(id == kMarkupRawOpen ? ParseRaw(p, node) : ParseRun(p, node))) return false;
    if (p.resolve) UpdateNode(node, false);
    return true;
}

// Moves the root's children into `previous` (deleted by its owner once the new document
// stands: the new text may be the text of one of the old nodes) and resets the root.
void ResetRoot(RichTextNode& root, RichTextNode& previous) {
    while (RichTextNode* child = root.FirstChild()) {
        child->Detach();
        previous.AppendChild(child);
    }
    root.Detach();
    root.tag = WideString(u"root");
    root.textNode = false;
}

bool Parse(RichTextNode& root, const WideString& text, bool resolveStyles) {
    RichTextNode previous;
    ResetRoot(root, previous);
    if (resolveStyles) UpdateNode(root, false);
    MarkupParse p(text, resolveStyles);
    ParseChildren(p, root, 1);
    return p.ok;
}

}  // namespace

bool ParseDocument(RichTextNode& root, const WideString& text) { return Parse(root, text, false); }

bool ParseMarkupText(RichTextNode& root, const WideString& text) { return Parse(root, text, true); }

void BuildPlainDocument(RichTextNode& root, const WideString& text) {
    RichTextNode previous;
    ResetRoot(root, previous);
    auto* node = new RichTextNode;
    node->textNode = true;
    node->text = text;
    root.AppendChild(node);
    UpdateNode(root, true);
}

bool ParseAttributes(RichTextNode& node, const WideString& text) {
    Tokenizer t;
    MakeCLikeTokenizer(t);
    return ReadAttributes(t, node, text.data(), text.length());
}
