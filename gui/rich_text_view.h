// The rich text view: a window that shows a markup document (gui/rich_text.h). It lays the
// document out into lines (no wrapping: a line ends only at a line feed, and what runs past the
// right edge is clipped), turns the visible characters into glyph boxes and writes them as
// pre-transformed screen quads (x and y in pixels, z the depth value, rhw 1) into one render
// group per charset texture plus one group of background quads, which GuiRoot::Draw draws with
// the other GUI meshes. A caret child window, a selection and a scroll offset go with it; the
// left button places the caret and drags a selection, the arrow, Home, End and Delete keys move
// the caret and delete.
#pragma once

#include "core/types/point_rect.h"
#include "gui/frame_window.h"
#include "gui/rich_text.h"
#include "gui/skin_window.h"
#include "render/material.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class Charset;
class Mesh;
class Texture;

// One laid-out line. Coordinates are the content's (before scrolling), relative to the view.
struct TextLine {
    int32_t bottom = 0;
    int32_t height = 0;
    int32_t left = 0;   // beside a floating picture its width, else 0
    int32_t right = 0;  // left plus the widths of the line's words
    int32_t first = -1;  // character indices counted from the start of the document; -1, -1
    int32_t last = -1;   // for an empty line at the end of the document
};

// One laid-out character on the screen.
struct GlyphBox {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t code = 0;
    Charset* charset = nullptr;
    uint32_t background = 0;  // packed 0xAARRGGBB
    uint32_t color = 0;
    int32_t spacing = 0;  // how far the background reaches right of the glyph
    int32_t lineHeight = 0;
};

struct CharRange {
    int32_t first = -1;
    int32_t last = -1;
};

// The caret: a skin window of one 2 x 20 tile, made on its first update. Its picture is not in
// the media, so the tile draws untextured; it does not blink.
class TextCaret : public SkinWindow {
public:
    static constexpr int32_t kWidth = 2;
    static constexpr int32_t kHeight = 20;

    TextCaret();
    ~TextCaret() override;
    bool OnUpdate() override;

private:
    bool made_ = false;
    Texture* texture_ = nullptr;
};

class RichTextView : public FrameWindow {
public:
    // Codes of MeasureWord.
    enum WordCode : int32_t { kEnd = 0, kWord = 1, kNoFit = 2, kLineBreak = 3 };

    // An empty document, no batches, alpha mode 2, the caret hidden, two own depth slots, not
    // resizable, no selection.
    RichTextView();
    // Batches given back, caret and document deleted.
    ~RichTextView() override;

    // Parses markup into a new document (the old root's style kept); the pictures become
    // child windows that follow the view; the caret goes to the start. The parse result.
    bool SetMarkup(const WideString& markup);
    // With a node: that node's text is replaced. Without: the text is shown as it stands,
    // markup characters included.
    void SetText(const WideString& text, RichTextNode* node = nullptr);
    // The root's style, then every node restyled.
    void SetStyle(const FontStyle& style);
    // Lays the document out again.
    void Relayout();
    // Glyph boxes, batches and vertices; false (the update left pending) when a lock failed.
    bool OnUpdate() override;
    void SetAlphaMode(int32_t mode) override;
    void SetOpacity(float opacity) override;
    // Gives the batches back, then hides as frame windows do.
    void Hide() override;
    bool HandleEvent(GuiEvent event) override;
    // Removes the character at the caret.
    void DeleteAtCaret();
    // Every batch's block freed and its mesh given back.
    void ReleaseRenderBatches();

    // Measures the next word from `position` (moved past it): see the codes above. Every call
    // consumes at least one character or ends the document. `count` is the number of
    // characters consumed.
    int32_t MeasureWord(TextPosition& position, TextPosition& wordStart, int32_t& width, int32_t& height,
                        int32_t maxWidth, int32_t& count);

    // Caret.
    void SetCaret(int32_t line, int32_t index);
    void CaretToPoint(int32_t x, int32_t y);
    void PlaceCaret();
    void CaretLeft();
    void CaretRight();
    void CaretUp();
    void CaretDown();
    void CaretHome();
    void CaretEnd();
    void NormalizeCaret();

    // State, for the program and its tests.
    RichTextNode& document() { return *document_; }
    int32_t LineCount() const { return static_cast<int32_t>(lines_.size()); }
    const TextLine& Line(int32_t i) const { return lines_[static_cast<size_t>(i)].line; }
    const TextPosition& LineStart(int32_t i) const { return lines_[static_cast<size_t>(i)].start; }
    const std::vector<std::vector<GlyphBox>>& glyphRows() const { return glyphRows_; }
    const std::vector<CharRange>& clipMarks() const { return clipMarks_; }
    const std::vector<CharRange>& visibleChars() const { return visibleChars_; }
    int32_t widestLine() const { return widestLine_; }
    int32_t caretIndex() const { return caretIndex_; }
    bool caretAfter() const { return caretAfter_; }
    int32_t caretLine() const { return caretLine_; }
    int32_t selStart() const { return selStart_; }
    int32_t selEnd() const { return selEnd_; }
    void SetSelection(int32_t start, int32_t end) {
        selStart_ = start;
        selEnd_ = end;
        RequestUpdate(true, false);
    }
    void SetScroll(Point scroll) {
        scroll_ = scroll;
        RequestUpdate(true, true);
    }
    TextCaret& caret() { return *caret_; }
    const FontStyle& selectionStyle() const { return selectionStyle_; }
    int32_t BatchCount() const { return static_cast<int32_t>(batches_.size()); }
    // The batch of a charset texture (null: none), and the background batch.
    Mesh* BatchMesh(const Texture* texture) const;
    BufferBlock* BatchBlock(const Texture* texture) const;
    MultiMaterial* BatchMaterial(const Texture* texture);
    Mesh* backMesh() const { return back_.mesh; }
    BufferBlock* backBlock() const { return back_.block; }
    MultiMaterial& backMaterial() { return back_.material; }

    // Bytes of one glyph's two triangles, and of one background quad.
    static constexpr int32_t kGlyphBytes = 6 * 28;
    static constexpr int32_t kBackBytes = 6 * 20;

private:
    // A render group: its mesh, the block of this view's vertices, and the material and render
    // context it draws with. Each charset texture gets its own material, since a group draws
    // with the one material it was made with.
    struct Batch {
        Texture* texture = nullptr;
        Mesh* mesh = nullptr;
        BufferBlock* block = nullptr;
        MultiMaterial material;
        RenderContext context;
        int32_t triangles = 0;
        bool used = false;
    };
    struct LineEntry {
        TextPosition start;
        TextLine line;
    };
    // Where layout put an embedded window: the line it sits on and its x (content), or, for a
    // floating one, the top of the line it starts.
    struct PicturePlace {
        GuiWindow* window;
        int32_t line;
        int32_t x;
        int32_t top;
        bool floating;
    };

    void ReleaseBatch(Batch& batch);
    // Makes the batch's group when it has none (or its mesh was hidden) and sizes its block.
    bool EnsureBatch(Batch& batch, bool background, int32_t triangles);
    void BuildGlyphBoxes();
    bool BuildBatches();
    bool WriteVertices();
    // The scaled size of a character of a text node (0 x 0 without a charset).
    static Point CharSize(const RichTextNode& node, int32_t offset, char16_t c);
    // The height of a space in the style of `node` (or the default charset's cell).
    static int32_t SpaceHeight(const RichTextNode* node);
    // The index of a line's first character (an empty line's: where it stands).
    int32_t LineStartIndex(int32_t line) const;
    // The position of a character index; no node when the document is shorter.
    TextPosition PositionOfIndex(int32_t index) const;
    int32_t CaretScreenX() const;
    // After a change of the document: the embedded windows are made children.
    void AdoptPictures();

    std::unique_ptr<RichTextNode> document_;
    std::vector<std::unique_ptr<Batch>> batches_;
    Batch back_;
    std::vector<LineEntry> lines_;
    std::vector<std::vector<GlyphBox>> glyphRows_;
    std::vector<CharRange> clipMarks_;
    std::vector<CharRange> visibleChars_;
    std::vector<int32_t> rowLines_;  // the line of each visible row
    std::vector<PicturePlace> pictures_;
    // Triangles per charset texture of the glyph boxes.
    std::vector<std::pair<Texture*, int32_t>> textureTriangles_;
    int32_t charCount_ = 0;
    int32_t firstVisible_ = 0;
    std::unique_ptr<TextCaret> caret_;
    int32_t caretIndex_ = 0;
    bool caretAfter_ = false;
    int32_t caretLine_ = 0;
    int32_t selStart_ = -1;
    int32_t selEnd_ = -1;
    FontStyle selectionStyle_;
    int32_t lastButton_ = 0;
    int32_t anchorIndex_ = -1;
    Point scroll_{0, 0};
    int32_t widestLine_ = 0;
};
