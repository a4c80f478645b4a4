#include "gui/markup_parser.h"

#include "gui/tokenizer.h"

#include <memory>

namespace {

// One parse: the markup tokenizer over the text, the attribute tokenizer (made at the first tag
// with attributes and kept for the rest), and the flags every level shares.
struct MarkupParse {
    explicit MarkupParse(const WideString& source) : text(source) {
        MakeMarkupTokenizer(markup);
        markup.SetText(text.data(), text.length());
    }

    const WideString& text;
    Tokenizer markup;
    std::unique_ptr<Tokenizer> attributes;
    bool ok = true;
    bool stopped = false;  // the nesting bound was reached: every level ends its children
};

WideString Slice(const WideString& text, int32_t first, int32_t end) {
    return end > first ? WideString(text.data() + first, end - first, true) : WideString();
}

bool ReadAttributes(Tokenizer& t, RichTextNode& node, const char16_t* chars, int32_t count) {
    t.SetText(chars, count);
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
            node.attributes.Insert(name, token.text, 1);
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
    Token name;
    if (p.markup.NextToken(name, false) != TokenResult::kRead) return false;
    // At the top level no element is open, so a closing tag there is stray whatever it names
    // (the root's own tag "root" included).
    if (depth == 1 || !WideStringsEqual(node.parent()->tag, name.text)) p.ok = false;
    int32_t id = 0;
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
        if (!p.attributes) {
            p.attributes = std::make_unique<Tokenizer>();
            MakeCLikeTokenizer(*p.attributes);
        }
        ReadAttributes(*p.attributes, node, p.text.data() + afterName, beforeEnd - afterName);
    }
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
    if (id == kMarkupRawOpen) return ParseRaw(p, node);
    return ParseRun(p, node);
}

void ResetRoot(RichTextNode& root) {
    root.DeleteChildren();
    root.Detach();
    root.tag = WideString(u"root");
    root.textNode = false;
}

}  // namespace

bool ParseDocument(RichTextNode& root, const WideString& text) {
    ResetRoot(root);
    MarkupParse p(text);
    ParseChildren(p, root, 1);
    return p.ok;
}

bool ParseMarkupText(RichTextNode& root, const WideString& text) {
    const bool ok = ParseDocument(root, text);
    UpdateNode(root, true);
    return ok;
}

void BuildPlainDocument(RichTextNode& root, const WideString& text) {
    ResetRoot(root);
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
