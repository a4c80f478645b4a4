// The markup parser over any 16-bit text. Input: the markup as UTF-16 little-endian units (an
// odd last byte is dropped). Besides what ASan sees, each property below aborts when it breaks:
// no node lies deeper than the nesting bound, the text nodes together hold no more characters
// than the markup, every child knows its parent, and a text position walks exactly the text
// nodes' characters, in document order. The same markup is then laid out by a rich text view
// with the baked fonts (no device, so the charsets have sizes but no pictures; run in an empty
// folder, so an IMG "Src" opens nothing): every line holds the characters after the line before,
// and no line is wider than the widest.

#include "fuzz/fuzz_input.h"
#include "gui/font_manager.h"
#include "gui/markup_parser.h"
#include "gui/rich_text_view.h"

#include <cstdint>
#include <vector>

using fuzz_input::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    std::vector<char16_t> units(in.Left() / 2);
    for (char16_t& c : units) c = static_cast<char16_t>(in.Number(2));
    const WideString markup(units.data(), static_cast<int32_t>(units.size()), true);

    RichTextNode root;
    ParseMarkupText(root, markup);
    Check(root.parent() == nullptr && WideStringEqualsText(root.tag, u"root"));

    int64_t characters = 0;
    std::vector<char16_t> walked;
    for (RichTextNode* n = NextNodeInOrder(&root); n != nullptr; n = NextNodeInOrder(n)) {
        int32_t depth = 0;
        for (RichTextNode* up = n; up != &root; up = up->parent()) {
            Check(up->parent() != nullptr);
            ++depth;
        }
        Check(depth <= kMaxMarkupDepth);
        if (n->textNode) {
            Check(n->children().count() == 0 && n->TextLength() <= markup.length());
            characters += n->TextLength();
            walked.insert(walked.end(), n->text.data(), n->text.data() + n->TextLength());
        }
        for (RichTextNode* c = n->FirstChild(); c != nullptr; c = c->NextSibling()) {
            Check(c->parent() == n);
        }
    }
    Check(characters <= markup.length());

    TextPosition p{&root, 0};
    size_t at = 0;
    for (bool ok = p.Advance(0); ok; ok = p.Advance(1)) {
        Check(at < walked.size() && p.Char() == walked[at]);
        ++at;
    }
    Check(at == walked.size());

    static const bool fontsLoaded = [] {
        g_fontManager.Paths().Add(FileRef(RIMEHOLT_MEDIA_DIR "/Media/Fonts"));
        g_fontManager.LoadFont(FileRef("sylfaen.fs"));
        g_fontManager.LoadFont(FileRef("64font.fs"));
        return g_fontManager.Styles().count() == 2;
    }();
    Check(fontsLoaded);
    static RichTextView* view = new RichTextView();
    for (const int32_t size : {14, 64}) {
        FontStyle style;
        style.size = size;
        view->SetRect(0, 0, size == 14 ? 300 : 20, 100);
        view->SetStyle(style);
        view->SetMarkup(markup);
        int32_t next = 0;
        for (int32_t i = 0; i < view->LineCount(); ++i) {
            const TextLine& line = view->Line(i);
            Check(line.height >= 0 && line.right <= view->widestLine() && line.left <= line.right);
            if (line.first < 0) continue;
            Check(line.first == next && line.last >= line.first);
            next = line.last + 1;
        }
        Check(next <= markup.length());
    }
    return 0;
}
