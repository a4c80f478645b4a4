#include "gui/rich_text_view.h"

#include "gui/font_manager.h"
#include "gui/gui_root.h"
#include "gui/markup_parser.h"
#include "render/geometry.h"
#include "render/mesh.h"
#include "render/texture.h"
#include "render/texture_registry.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace {

constexpr int32_t kGlyphStride = 28;  // x, y, z, rhw, colour, u, v
constexpr int32_t kBackStride = 20;   // x, y, z, rhw, colour
constexpr int32_t kDikHome = 199;
constexpr int32_t kDikUp = 200;
constexpr int32_t kDikLeft = 203;
constexpr int32_t kDikRight = 205;
constexpr int32_t kDikEnd = 207;
constexpr int32_t kDikDown = 208;
constexpr int32_t kDikDelete = 211;

// Moves the position onto the next character or picture: past elements without a picture and
// past the end of text nodes. False at the end of the document.
bool Normalize(TextPosition& p) {
    while (p.node != nullptr) {
        const NodeKind kind = p.node->GetKind();
        if (kind == NodeKind::kPicture) return true;
        if (kind == NodeKind::kText && p.offset < p.node->TextLength()) return true;
        p.node = NextNodeInOrder(p.node);
        p.offset = 0;
    }
    return false;
}

// Writes the six corners of a rectangle (left-top, right-top, left-bottom; right-top,
// right-bottom, left-bottom); pixel centres lie on integer coordinates, so corners sit at -0.5.
template <typename WriteVertex>
void WriteQuad(float l, float t, float r, float b, WriteVertex write) {
    write(l - 0.5f, t - 0.5f, 0);
    write(r - 0.5f, t - 0.5f, 1);
    write(l - 0.5f, b - 0.5f, 2);
    write(r - 0.5f, t - 0.5f, 1);
    write(r - 0.5f, b - 0.5f, 3);
    write(l - 0.5f, b - 0.5f, 2);
}

}  // namespace

// ---- TextCaret ----

TextCaret::TextCaret() {
    SkinWindow::SetAlphaMode(1);
    SkinWindow::SetOpacity(0.8f);
    SetSize(kWidth, kHeight);
}

TextCaret::~TextCaret() {
    if (texture_ != nullptr) {
        if (texture_->Parent() != nullptr) texture_->Parent()->Release();
        texture_->Release();
    }
}

bool TextCaret::OnUpdate() {
    if (!made_) {
        made_ = true;
        TextureRequest request;
        request.locator = FileRef("Media/Stolb01.jpg");
        texture_ = g_textureRegistry.Get(request, nullptr);
        auto* tile = new ImageTile();
        tile->SetName("caret");
        tile->SetTexture(texture_);
        tile->SetRect(0, 0, kWidth, kHeight);
        tile->SetAlphaMode(alphaMode());
        tile->SetOpacity(opacity());
        AddTile(tile, String());
        SetSize(kWidth, kHeight);
    }
    return SkinWindow::OnUpdate();
}

// ---- RichTextView ----

RichTextView::RichTextView() : document_(std::make_unique<RichTextNode>()), caret_(std::make_unique<TextCaret>()) {
    SetResizable(false);
    ReserveOwnSlots(2);
    GuiWindow::SetAlphaMode(2);
    ParseMarkupText(*document_, WideString());
    selectionStyle_.color = ArgbColor(255, 200, 0, 0);
    selectionStyle_.background = ArgbColor(255, 0, 0, 100);
    AddChild(caret_.get(), false);
    Relayout();
}

RichTextView::~RichTextView() {
    ReleaseRenderBatches();
    RemoveChild(caret_.get());
    caret_.reset();
    document_.reset();
}

void RichTextView::AdoptPictures() {
    for (RichTextNode* n = FindNodeOfKind(document_.get(), NodeKind::kPicture); n != nullptr;
         n = NextNodeOfKind(n, NodeKind::kPicture)) {
        AddChild(n->GetPicture(), true);
    }
}

bool RichTextView::SetMarkup(const WideString& markup) {
    // The new document is parsed beside the old one, so the markup may be one of its texts.
    auto fresh = std::make_unique<RichTextNode>();
    fresh->style = document_->style;
    const bool ok = ParseMarkupText(*fresh, markup);
    lines_.clear();
    document_ = std::move(fresh);
    RequestUpdate(true, true);
    AdoptPictures();
    Relayout();
    SetCaret(0, 0);
    return ok;
}

void RichTextView::SetText(const WideString& text, RichTextNode* node) {
    if (node != nullptr) {
        node->SetText(text);
        RequestUpdate(true, false);
        return;
    }
    // The text node is built directly: wrapped in a raw section, a text holding "</RAW>"
    // would break out of it into markup.
    auto fresh = std::make_unique<RichTextNode>();
    fresh->style = document_->style;
    BuildPlainDocument(*fresh, text);
    lines_.clear();
    document_ = std::move(fresh);
    RequestUpdate(true, true);
    Relayout();
    SetCaret(0, 0);
}

void RichTextView::SetStyle(const FontStyle& style) {
    document_->style = style;
    UpdateNode(*document_, true);
    RequestUpdate(true, true);
}

Point RichTextView::CharSize(const RichTextNode& node, int32_t offset, char16_t c) {
    const Charset* charset = node.RunCharset(offset);
    if (charset == nullptr) return Point(0, 0);
    const Point size = FontManager::GlyphSize(*charset, c);
    const float scale = node.style.scale > 0.0f ? node.style.scale : 0.0f;
    const float w = static_cast<float>(size.x) * scale;
    const float h = static_cast<float>(size.y) * scale;
    // Truncated, and held to what an int holds.
    return Point(w < 1.0e9f ? static_cast<int32_t>(w) : 1000000000, h < 1.0e9f ? static_cast<int32_t>(h) : 1000000000);
}

int32_t RichTextView::SpaceHeight(const RichTextNode* node) {
    static const FontStyle kDefault;
    const FontStyle& style = node != nullptr ? node->style : kDefault;
    if (const Charset* space = g_fontManager.FindCharset(32, style)) {
        const float scale = style.scale > 0.0f ? style.scale : 0.0f;
        const float h = static_cast<float>(FontManager::GlyphSize(*space, 32).y) * scale;
        return h < 1.0e9f ? static_cast<int32_t>(h) : 1000000000;
    }
    if (const Charset* fallback = g_fontManager.DefaultCharset()) return fallback->cellHeight;
    return 0;
}

int32_t RichTextView::MeasureWord(TextPosition& position, TextPosition& wordStart, int32_t& width,
                                  int32_t& height, int32_t maxWidth, int32_t& count) {
    width = 0;
    height = 0;
    count = 0;
    TextPosition p = position;
    if (!Normalize(p)) {
        position = TextPosition{};
        wordStart = position;
        return kEnd;
    }
    wordStart = p;
    if (p.node->GetKind() == NodeKind::kPicture) {
        const Point size = p.node->GetPicture()->GetSize();
        width = size.x;
        height = size.y;
        position = TextPosition{NextNodeInOrder(p.node), 0};
        return kWord;
    }
    for (;;) {
        if (!Normalize(p) || p.node->GetKind() == NodeKind::kPicture) {
            position = p;
            return count > 0 ? kWord : kEnd;
        }
        const RichTextNode& node = *p.node;
        const char16_t c = node.text.data()[p.offset];
        const int32_t spacing = node.style.charSpacing;
        if (c == 10) {
            if (count == 0) {
                ++p.offset;
                count = 1;
                position = p;
                return kLineBreak;
            }
            position = p;
            return kWord;
        }
        if (c == 32 || c == 9) {
            if (count == 0) {
                const Point size = CharSize(node, p.offset, c);
                width = size.x + spacing;
                height = std::max(height, size.y);
                ++p.offset;
                count = 1;
            }
            position = p;
            return kWord;
        }
        const Point size = CharSize(node, p.offset, c);
        if (int64_t{width} + size.x <= maxWidth) {
            width += size.x + spacing;
            height = std::max(height, size.y);
            ++p.offset;
            ++count;
            continue;
        }
        if (count > 0) {
            position = p;
            return kNoFit;
        }
        // A character wider than the room left is a word of its own.
        width = size.x + spacing;
        height = size.y;
        ++p.offset;
        count = 1;
        position = p;
        return kWord;
    }
}

void RichTextView::Relayout() {
    lines_.clear();
    pictures_.clear();
    widestLine_ = 0;
    const int32_t viewWidth = rect().right;
    TextPosition pos{document_.get(), 0};
    Normalize(pos);
    int32_t charIndex = 0;
    int32_t top = 0;
    int32_t floatWidth = 0;
    int64_t floatBottom = INT_MIN;
    LineEntry current;
    current.start = pos;
    int32_t x = 0;
    int32_t height = 0;
    auto lineLeft = [&](int32_t lineTop) { return lineTop < floatBottom ? floatWidth : 0; };
    current.line.left = x = lineLeft(top);
    auto finish = [&]() {
        if (height == 0) height = SpaceHeight(current.start.node != nullptr ? current.start.node : document_.get());
        current.line.bottom = top + height;
        current.line.height = height;
        current.line.right = x;
        widestLine_ = std::max(widestLine_, x);
        const RichTextNode* styled = current.start.node != nullptr ? current.start.node : document_.get();
        lines_.push_back(current);
        top = current.line.bottom + styled->style.rowSpacing;
        current = LineEntry{};
        current.start = pos;
        Normalize(current.start);
        height = 0;
        current.line.left = x = lineLeft(top);
    };
    for (;;) {
        TextPosition wordStart;
        int32_t w = 0, h = 0, count = 0;
        const int32_t room = static_cast<int32_t>(std::max<int64_t>(int64_t{viewWidth} - x, 0));
        const int32_t code = MeasureWord(pos, wordStart, w, h, room, count);
        if (code == kEnd) {
            finish();
            break;
        }
        if (wordStart.node != nullptr && wordStart.node->GetKind() == NodeKind::kPicture) {
            GuiWindow* picture = wordStart.node->GetPicture();
            if (wordStart.node->IsFloating()) {
                // A floating picture starts a line of its own; the lines beside it move right.
                if (current.line.first >= 0 || x > current.line.left) finish();
                floatWidth = w;
                floatBottom = int64_t{top} + h;
                pictures_.push_back(PicturePlace{picture, static_cast<int32_t>(lines_.size()), 0, top, true});
                current.line.left = x = lineLeft(top);
                current.start = pos;
                Normalize(current.start);
            } else {
                pictures_.push_back(PicturePlace{picture, static_cast<int32_t>(lines_.size()), x, 0, false});
                x = static_cast<int32_t>(std::min<int64_t>(int64_t{x} + w, INT_MAX / 2));
                height = std::max(height, h);
            }
            continue;
        }
        if (count > 0) {
            if (current.line.first < 0) current.line.first = charIndex;
            current.line.last = charIndex + count - 1;
            charIndex += count;
        }
        if (code == kLineBreak) {
            finish();
            continue;
        }
        x = static_cast<int32_t>(std::min<int64_t>(int64_t{x} + w, INT_MAX / 2));
        height = std::max(height, h);
    }
    charCount_ = charIndex;
}

Mesh* RichTextView::BatchMesh(const Texture* texture) const {
    for (const auto& b : batches_) {
        if (b->texture == texture) return b->mesh;
    }
    return nullptr;
}

BufferBlock* RichTextView::BatchBlock(const Texture* texture) const {
    for (const auto& b : batches_) {
        if (b->texture == texture) return b->block;
    }
    return nullptr;
}

MultiMaterial* RichTextView::BatchMaterial(const Texture* texture) {
    for (auto& b : batches_) {
        if (b->texture == texture) return &b->material;
    }
    return nullptr;
}

void RichTextView::BuildGlyphBoxes() {
    Relayout();
    for (const PicturePlace& place : pictures_) place.window->Hide();
    caret_->SetPosition(-1000, -1000);
    glyphRows_.clear();
    clipMarks_.clear();
    visibleChars_.clear();
    rowLines_.clear();
    textureTriangles_.clear();
    firstVisible_ = 0;
    Rect unclipped, clip;
    if (!ScreenRect(unclipped, clip)) return;
    const int64_t clipLeft = clip.left, clipTop = clip.top;
    const int64_t clipRight = int64_t{clip.left} + clip.right, clipBottom = int64_t{clip.top} + clip.bottom;
    bool firstFound = false;
    for (size_t li = 0; li < lines_.size(); ++li) {
        const TextLine& line = lines_[li].line;
        const int64_t lineBottom = int64_t{unclipped.top} + line.bottom - scroll_.y;
        const int64_t lineTop = lineBottom - line.height;
        if (lineBottom <= clipTop) continue;
        if (lineTop >= clipBottom) break;
        if (!firstFound) {
            firstFound = true;
            firstVisible_ = static_cast<int32_t>(li);
        }
        std::vector<GlyphBox> row;
        CharRange mark{lineTop < clipTop || lineBottom > clipBottom ? -2 : -1, -1};
        CharRange visible{-1, -1};
        const int32_t n = line.first < 0 ? 0 : line.last - line.first + 1;
        TextPosition p = lines_[li].start;
        int64_t x = int64_t{unclipped.left} + line.left - scroll_.x;
        for (int32_t k = 0; k < n; ++k) {
            // Pictures inside the line take their room.
            while (Normalize(p) && p.node->GetKind() == NodeKind::kPicture) {
                if (!p.node->IsFloating()) x += p.node->GetPicture()->GetSize().x;
                p = TextPosition{NextNodeInOrder(p.node), 0};
            }
            if (p.node == nullptr) break;
            const RichTextNode& node = *p.node;
            const char16_t c = node.text.data()[p.offset];
            const int32_t index = line.first + k;
            ++p.offset;
            if (c == 10) continue;  // a line feed has no glyph
            const Point size = CharSize(node, p.offset - 1, c);
            const int32_t spacing = node.style.charSpacing;
            if (x + size.x <= clipLeft && size.x > 0) {
                x += size.x + spacing;
                continue;
            }
            GlyphBox box;
            box.left = static_cast<int32_t>(std::clamp<int64_t>(x, INT_MIN / 2, INT_MAX / 2));
            box.right = static_cast<int32_t>(std::clamp<int64_t>(x + size.x, INT_MIN / 2, INT_MAX / 2));
            box.bottom = static_cast<int32_t>(std::clamp<int64_t>(lineBottom, INT_MIN / 2, INT_MAX / 2));
            box.top = box.bottom - size.y;
            box.code = c;
            box.charset = node.RunCharset(p.offset - 1);
            const bool selected = selStart_ <= index && index < selEnd_;
            const FontStyle& style = selected ? selectionStyle_ : node.style;
            box.color = style.color.ToARGB();
            box.background = style.background.ToARGB();
            box.spacing = spacing;
            box.lineHeight = line.height;
            const int32_t glyph = static_cast<int32_t>(row.size());
            if (box.left < clipLeft && mark.first == -1) mark.first = glyph;
            if (visible.first < 0) visible.first = index;
            visible.last = index;
            row.push_back(box);
            if (box.charset != nullptr && box.charset->GetTexture() != nullptr) {
                Texture* texture = box.charset->GetTexture();
                auto it = std::find_if(textureTriangles_.begin(), textureTriangles_.end(),
                                       [&](const auto& e) { return e.first == texture; });
                if (it == textureTriangles_.end()) {
                    textureTriangles_.emplace_back(texture, 2);
                } else {
                    it->second += 2;
                }
            }
            if (box.right > clipRight) {
                mark.last = glyph;
                break;
            }
            x += size.x + spacing;
        }
        if (visible.first < 0) visible = CharRange{line.first, line.first};
        glyphRows_.push_back(std::move(row));
        clipMarks_.push_back(mark);
        visibleChars_.push_back(visible);
        rowLines_.push_back(static_cast<int32_t>(li));
    }
    // Embedded windows at their place: on the line's baseline, or floating at the left.
    for (const PicturePlace& place : pictures_) {
        if (place.line < 0 || place.line >= static_cast<int32_t>(lines_.size())) continue;
        const TextLine& line = lines_[static_cast<size_t>(place.line)].line;
        const Point size = place.window->GetSize();
        const int32_t y = place.floating ? place.top : line.bottom - size.y;
        place.window->SetPosition(place.x - scroll_.x, y - scroll_.y);
        place.window->Show();
    }
    PlaceCaret();
}

void RichTextView::ReleaseBatch(Batch& batch) {
    if (batch.block != nullptr) batch.block->Free();
    batch.block = nullptr;
    if (batch.mesh != nullptr) g_guiRoot.ReleaseRenderGroup(this, batch.mesh, &batch.material);
    batch.mesh = nullptr;
}

void RichTextView::ReleaseRenderBatches() {
    for (auto& b : batches_) ReleaseBatch(*b);
    batches_.clear();
    ReleaseBatch(back_);
}

bool RichTextView::EnsureBatch(Batch& batch, bool background, int32_t triangles) {
    if (batch.mesh != nullptr && batch.mesh->IsHidden()) ReleaseBatch(batch);
    const int32_t stride = background ? kBackStride : kGlyphStride;
    if (batch.mesh == nullptr) {
        batch.material = MultiMaterial();
        batch.context = RenderContext();
        batch.context.world = IdentityMatrix();
        batch.context.view = IdentityMatrix();
        batch.material.SetRenderContext(&batch.context);
        SubMaterial& sub = batch.material.sub(0);
        sub.opacity = opacity();
        // The vertex colour carries the style's colours: the text colour modulates the glyph
        // picture, the background colour is the quad's.
        sub.vertexColor = true;
        if (background) {
            // Nothing textures the background, so its alpha never comes from a texture.
            const int32_t preset = alphaMode() | 4;
            sub.stages[0].SetAlphaSource(preset == 6 ? 4 : preset);
        } else {
            sub.maps[kDiffuseMap].texture = batch.texture;
            sub.stages[0].map.texture = batch.texture;
            sub.stages[0].map.addressU = D3DTADDRESS_CLAMP;
            sub.stages[0].map.addressV = D3DTADDRESS_CLAMP;
            sub.maps[kDiffuseMap].addressU = D3DTADDRESS_CLAMP;
            sub.maps[kDiffuseMap].addressV = D3DTADDRESS_CLAMP;
            // Glyphs are drawn from the top level of the picture: a blend with smaller levels
            // would bleed neighbouring cells into the glyph's edges.
            sub.stages[0].map.mipFilter = D3DTEXF_NONE;
            sub.maps[kDiffuseMap].mipFilter = D3DTEXF_NONE;
            sub.stages[0].SetAlphaSource(alphaMode() | 2);
        }
        GeometryDesc desc;
        desc.primitiveType = D3DPT_TRIANGLELIST;
        desc.format.SetFromFVF(background ? (D3DFVF_XYZRHW | D3DFVF_DIFFUSE)
                                          : (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1));
        desc.streams[0].format = desc.format;
        desc.streams[0].stride = stride;
        desc.streams[0].size = triangles * 3 * stride;
        desc.streams[0].usage = D3DUSAGE_DYNAMIC;
        desc.streams[0].pool = D3DPOOL_SYSTEMMEM;
        desc.streams[0].flags = kBufferPoolGiven | kBufferUsageGiven;
        batch.mesh = g_guiRoot.CreateRenderGroup(this, desc, &batch.material);
        if (batch.mesh == nullptr) return false;
    }
    batch.mesh->properties().SetIntProperty("z", background ? DepthBelowTop() : DepthBelowTop() + 1);
    batch.triangles = triangles;
    const int32_t size = triangles * 3 * stride;
    if (batch.block != nullptr && batch.block->size() == size) return true;
    if (batch.block != nullptr) batch.block->Free();
    batch.block = nullptr;
    Geometry* geometry = batch.mesh->GetGeometry().Get();
    GrowableBuffer* buffer = geometry != nullptr ? geometry->streamBuffer(0) : nullptr;
    if (buffer == nullptr || size <= 0) return false;
    batch.block = buffer->AllocateBlock(size, 0, this);
    return batch.block != nullptr;
}

bool RichTextView::BuildBatches() {
    for (auto& b : batches_) b->used = false;
    int32_t total = 0;
    for (const auto& [texture, triangles] : textureTriangles_) {
        Batch* batch = nullptr;
        for (auto& b : batches_) {
            if (b->texture == texture) batch = b.get();
        }
        if (batch == nullptr) {
            batches_.push_back(std::make_unique<Batch>());
            batch = batches_.back().get();
            batch->texture = texture;
        }
        batch->used = true;
        EnsureBatch(*batch, false, triangles);
        total += triangles;
    }
    for (size_t i = 0; i < batches_.size();) {
        if (!batches_[i]->used) {
            ReleaseBatch(*batches_[i]);
            batches_.erase(batches_.begin() + static_cast<ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    // A background quad of alpha 0 draws nothing: its alpha comes from the vertex colour alone
    // (times the opacity) and the material alpha-tests it against 1, so its fragments are
    // dropped before colour or depth is written. Without a visible one (labels over the scene
    // usually have none) the view keeps no background group, which saves a draw with a
    // program and vertex layout of its own.
    bool visibleBackground = false;
    for (const std::vector<GlyphBox>& row : glyphRows_) {
        for (const GlyphBox& box : row) {
            if (box.charset != nullptr && box.charset->GetTexture() != nullptr && (box.background >> 24) != 0) {
                visibleBackground = true;
            }
        }
    }
    if (total > 0 && visibleBackground) {
        EnsureBatch(back_, true, total);
    } else {
        ReleaseBatch(back_);
    }
    return true;
}

bool RichTextView::WriteVertices() {
    const DWORD flags = alphaMode() != 0 ? D3DLOCK_DISCARD : D3DLOCK_NOOVERWRITE;
    struct Target {
        Batch* batch;
        uint8_t* at;
    };
    std::vector<Target> targets;
    uint8_t* backAt = nullptr;
    bool ok = true;
    for (auto& b : batches_) {
        void* data = nullptr;
        if (b->block == nullptr || !b->block->Lock(flags, &data)) {
            ok = false;
            break;
        }
        targets.push_back(Target{b.get(), static_cast<uint8_t*>(data)});
    }
    bool backLocked = false;
    if (ok && back_.block != nullptr) {
        void* data = nullptr;
        if (back_.block->Lock(flags, &data)) {
            backAt = static_cast<uint8_t*>(data);
            backLocked = true;
        } else {
            ok = false;
        }
    }
    if (!ok) {
        for (Target& t : targets) t.batch->block->Unlock();
        if (backLocked) back_.block->Unlock();
        return false;
    }
    const float zText = g_guiRoot.DepthToZ(AbsoluteDepth() - 1);
    const float zBack = g_guiRoot.DepthToZ(AbsoluteDepth());
    Rect unclipped, clip;
    ScreenRect(unclipped, clip);
    const int32_t clipLeft = clip.left, clipTop = clip.top;
    const int32_t clipRight = clip.left + clip.right, clipBottom = clip.top + clip.bottom;
    for (size_t r = 0; r < glyphRows_.size(); ++r) {
        const CharRange mark = clipMarks_[r];
        const std::vector<GlyphBox>& row = glyphRows_[r];
        for (size_t g = 0; g < row.size(); ++g) {
            const GlyphBox& box = row[g];
            if (box.charset == nullptr || box.charset->GetTexture() == nullptr) continue;
            Texture* texture = box.charset->GetTexture();
            Target* target = nullptr;
            for (Target& t : targets) {
                if (t.batch->texture == texture) target = &t;
            }
            if (target == nullptr) continue;
            const int32_t glyph = static_cast<int32_t>(g);
            float l = static_cast<float>(box.left), t = static_cast<float>(box.top);
            float rt = static_cast<float>(box.right), b = static_cast<float>(box.bottom);
            UvRect uv = FontManager::GlyphRect(*box.charset, box.code);
            if (mark.first == -2 || glyph == mark.first || glyph == mark.last) {
                const int32_t cl = std::max(box.left, clipLeft), ct = std::max(box.top, clipTop);
                const int32_t cr = std::min(box.right, clipRight), cb = std::min(box.bottom, clipBottom);
                if (cr <= cl || cb <= ct) {
                    l = rt = static_cast<float>(box.left);
                    t = b = static_cast<float>(box.top);
                } else {
                    // The insets in the picture's pixels: the box is the glyph scaled.
                    const Point glyphSize = FontManager::GlyphSize(*box.charset, box.code);
                    const float sx = box.right > box.left ? static_cast<float>(glyphSize.x) / (box.right - box.left) : 0.0f;
                    const float sy = box.bottom > box.top ? static_cast<float>(glyphSize.y) / (box.bottom - box.top) : 0.0f;
                    uv = FontManager::GlyphUV(*box.charset, box.code, (cl - box.left) * sx, (ct - box.top) * sy,
                                              (box.right - cr) * sx, (box.bottom - cb) * sy);
                    l = static_cast<float>(cl);
                    t = static_cast<float>(ct);
                    rt = static_cast<float>(cr);
                    b = static_cast<float>(cb);
                }
            }
            const float us[4] = {uv.left, uv.right, uv.left, uv.right};
            const float vs[4] = {uv.top, uv.top, uv.bottom, uv.bottom};
            WriteQuad(l, t, rt, b, [&](float x, float y, int corner) {
                const float head[4] = {x, y, zText, 1.0f};
                std::memcpy(target->at, head, sizeof head);
                const uint32_t colour = box.color;
                std::memcpy(target->at + 16, &colour, 4);
                const float tex[2] = {us[corner], vs[corner]};
                std::memcpy(target->at + 20, tex, sizeof tex);
                target->at += kGlyphStride;
            });
            // The background, inside the view.
            if (backAt == nullptr) continue;
            int32_t bl = std::max(box.left, clipLeft);
            int32_t br = static_cast<int32_t>(std::min<int64_t>(int64_t{box.right} + box.spacing, clipRight));
            int32_t bt = static_cast<int32_t>(std::max<int64_t>(int64_t{box.bottom} - box.lineHeight, clipTop));
            int32_t bb = std::min(box.bottom, clipBottom);
            if (br <= bl || bb <= bt) br = bl, bb = bt;
            WriteQuad(static_cast<float>(bl), static_cast<float>(bt), static_cast<float>(br), static_cast<float>(bb),
                      [&](float x, float y, int) {
                          const float head[4] = {x, y, zBack, 1.0f};
                          std::memcpy(backAt, head, sizeof head);
                          const uint32_t colour = box.background;
                          std::memcpy(backAt + 16, &colour, 4);
                          backAt += kBackStride;
                      });
        }
    }
    bool unlocked = true;
    for (Target& t : targets) unlocked = t.batch->block->Unlock() && unlocked;
    if (backLocked) unlocked = back_.block->Unlock() && unlocked;
    return unlocked;
}

bool RichTextView::OnUpdate() {
    // The caret shows only while the view has the focus: its picture is missing, so it would
    // otherwise stand as a bar in every label.
    const bool caretWanted = focused() && IsShown();
    if (caretWanted && !caret_->shown()) {
        caret_->Show();
    } else if (!caretWanted && caret_->shown()) {
        caret_->Hide();
    }
    BuildGlyphBoxes();
    BuildBatches();
    if (!WriteVertices()) return false;
    CancelUpdate();
    return true;
}

void RichTextView::SetAlphaMode(int32_t mode) {
    if (mode != alphaMode()) {
        ReleaseRenderBatches();
        RequestUpdate(true, false);
    }
    GuiWindow::SetAlphaMode(mode);
}

void RichTextView::SetOpacity(float value) {
    if (alphaMode() == 1) {
        for (auto& b : batches_) b->material.sub(0).opacity = value;
        back_.material.sub(0).opacity = value;
    }
    GuiWindow::SetOpacity(value);
}

void RichTextView::Hide() {
    ReleaseRenderBatches();
    FrameWindow::Hide();
}

// ---- caret ----

int32_t RichTextView::LineStartIndex(int32_t line) const {
    for (int32_t i = line; i >= 0; --i) {
        const TextLine& l = lines_[static_cast<size_t>(i)].line;
        if (l.first >= 0) return i == line ? l.first : l.last + 1;
    }
    return 0;
}

void RichTextView::SetCaret(int32_t line, int32_t index) {
    caretAfter_ = false;
    if (lines_.empty()) {
        caretIndex_ = 0;
        caretLine_ = 0;
        return;
    }
    line = std::clamp<int32_t>(line, 0, static_cast<int32_t>(lines_.size()) - 1);
    caretLine_ = line;
    const TextLine& l = lines_[static_cast<size_t>(line)].line;
    if (l.first < 0) {
        caretIndex_ = LineStartIndex(line);
        return;
    }
    if (index > l.last) {
        caretIndex_ = l.last;
        TextPosition p = PositionOfIndex(l.last);
        caretAfter_ = p.Char() != 10;
        return;
    }
    caretIndex_ = std::max(index, l.first);
}

TextPosition RichTextView::PositionOfIndex(int32_t index) const {
    TextPosition p{document_.get(), 0};
    if (index < 0 || !p.Advance(index)) return TextPosition{};
    return p;
}

void RichTextView::NormalizeCaret() {
    caretIndex_ = std::clamp(caretIndex_, 0, charCount_);
    int32_t line = static_cast<int32_t>(lines_.size()) - 1;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const TextLine& l = lines_[i].line;
        if (l.first >= 0 && l.first <= caretIndex_ && caretIndex_ <= l.last) {
            line = static_cast<int32_t>(i);
            break;
        }
    }
    SetCaret(line, caretIndex_ + (caretAfter_ ? 1 : 0));
}

void RichTextView::CaretLeft() {
    if (caretAfter_) {
        caretAfter_ = false;
        return;
    }
    if (caretIndex_ <= 0) return;  // the start of the document
    if (!lines_.empty() && caretIndex_ == lines_[static_cast<size_t>(caretLine_)].line.first) caretAfter_ = true;
    --caretIndex_;
}

void RichTextView::CaretRight() {
    if (lines_.empty()) return;
    const TextLine& l = lines_[static_cast<size_t>(caretLine_)].line;
    if (caretIndex_ == l.last && !caretAfter_ && PositionOfIndex(caretIndex_).Char() != 10) {
        caretAfter_ = true;
        return;
    }
    caretAfter_ = false;
    if (caretIndex_ < charCount_) ++caretIndex_;
}

void RichTextView::CaretHome() {
    if (lines_.empty()) return;
    SetCaret(caretLine_, lines_[static_cast<size_t>(caretLine_)].line.first);
}

void RichTextView::CaretEnd() {
    if (lines_.empty()) return;
    SetCaret(caretLine_, lines_[static_cast<size_t>(caretLine_)].line.last);
    caretAfter_ = true;
}

void RichTextView::CaretUp() {
    if (caretLine_ <= 0 || lines_.empty()) return;
    const TextLine& previous = lines_[static_cast<size_t>(caretLine_ - 1)].line;
    const Point at = ClientToScreen(0, previous.bottom - scroll_.y - 1);
    CaretToPoint(CaretScreenX(), at.y);
}

void RichTextView::CaretDown() {
    if (caretLine_ + 1 >= static_cast<int32_t>(lines_.size())) return;
    const TextLine& next = lines_[static_cast<size_t>(caretLine_ + 1)].line;
    const Point at = ClientToScreen(0, next.bottom - scroll_.y - 1);
    CaretToPoint(CaretScreenX(), at.y);
}

int32_t RichTextView::CaretScreenX() const {
    Rect unclipped, clipped;
    ScreenRect(unclipped, clipped);
    return unclipped.left + caret_->rect().left;
}

void RichTextView::CaretToPoint(int32_t x, int32_t y) {
    if (lines_.empty()) return;
    // Glyph boxes are on the screen; lines are in the view.
    Rect unclipped, clipped;
    ScreenRect(unclipped, clipped);
    const int64_t localY = int64_t{y} - unclipped.top;
    for (size_t r = 0; r < glyphRows_.size(); ++r) {
        const int32_t li = rowLines_[r];
        const TextLine& line = lines_[static_cast<size_t>(li)].line;
        if (int64_t{line.bottom} - scroll_.y < localY) continue;
        const std::vector<GlyphBox>& row = glyphRows_[r];
        for (size_t g = 0; g < row.size(); ++g) {
            if (row[g].right >= x) {
                SetCaret(li, visibleChars_[r].first + static_cast<int32_t>(g));
                return;
            }
        }
        SetCaret(li, INT_MAX);
        return;
    }
    SetCaret(static_cast<int32_t>(lines_.size()) - 1, INT_MAX);
}

void RichTextView::PlaceCaret() {
    Rect unclipped, clipped;
    ScreenRect(unclipped, clipped);
    for (size_t r = 0; r < glyphRows_.size(); ++r) {
        const int32_t li = rowLines_[r];
        if (li != caretLine_) continue;
        const TextLine& line = lines_[static_cast<size_t>(li)].line;
        const std::vector<GlyphBox>& row = glyphRows_[r];
        const int32_t g = caretIndex_ - visibleChars_[r].first;
        int64_t x = 0;
        int64_t bottom = 0;
        if (line.first >= 0 && g >= 0 && g < static_cast<int32_t>(row.size())) {
            const GlyphBox& box = row[static_cast<size_t>(g)];
            x = caretAfter_ ? int64_t{box.right} + box.spacing : box.left;
            bottom = box.bottom;
        } else if (!row.empty() && g >= static_cast<int32_t>(row.size())) {
            // At the line feed, after the last glyph.
            x = int64_t{row.back().right} + row.back().spacing;
            bottom = row.back().bottom;
        } else {
            x = int64_t{unclipped.left} + line.left - scroll_.x;
            bottom = int64_t{unclipped.top} + line.bottom - scroll_.y;
        }
        const int64_t top = bottom - caret_->GetSize().y + 3;
        // The caret is a child: its position is the view's, not the screen's.
        caret_->SetPosition(static_cast<int32_t>(std::clamp<int64_t>(x - unclipped.left, INT_MIN / 2, INT_MAX / 2)),
                            static_cast<int32_t>(std::clamp<int64_t>(top - unclipped.top, INT_MIN / 2, INT_MAX / 2)));
        return;
    }
}

void RichTextView::DeleteAtCaret() {
    const int32_t index = caretIndex_ + (caretAfter_ ? 1 : 0);
    TextPosition p = PositionOfIndex(index);
    if (p.node == nullptr || !p.node->textNode || p.offset < 0 || p.offset >= p.node->TextLength()) return;
    const WideString& text = p.node->GetText();
    std::u16string joined(text.data(), static_cast<size_t>(p.offset));
    joined.append(text.data() + p.offset + 1, static_cast<size_t>(text.length() - p.offset - 1));
    p.node->SetText(WideString(joined.data(), static_cast<int32_t>(joined.size()), true));
    RequestUpdate(true, false);
}

bool RichTextView::HandleEvent(GuiEvent event) {
    switch (event.type()) {
        case GuiEventType::kLeftButtonDown: {
            const Point p = event.Position();
            CaretToPoint(p.x, p.y);
            selStart_ = selEnd_ = -1;
            lastButton_ = 6;
            anchorIndex_ = caretIndex_ + (caretAfter_ ? 1 : 0);
            SetFocus();
            break;
        }
        case GuiEventType::kPointerMoved:
            if (lastButton_ == 6) {
                const Point p = event.Position();
                CaretToPoint(p.x, p.y);
                const int32_t at = caretIndex_ + (caretAfter_ ? 1 : 0);
                selStart_ = std::min(anchorIndex_, at);
                selEnd_ = std::max(anchorIndex_, at);
            }
            break;
        case GuiEventType::kLeftButtonUp: {
            const Point p = event.Position();
            CaretToPoint(p.x, p.y);
            lastButton_ = 7;
            break;
        }
        case GuiEventType::kKeyDown:
            switch (event.KeyCode()) {
                case kDikHome: CaretHome(); break;
                case kDikUp: CaretUp(); break;
                case kDikLeft: CaretLeft(); break;
                case kDikRight: CaretRight(); break;
                case kDikEnd: CaretEnd(); break;
                case kDikDown: CaretDown(); break;
                case kDikDelete:
                    DeleteAtCaret();
                    Relayout();
                    break;
                default: break;
            }
            SetFocus();
            break;
        default:
            break;
    }
    NormalizeCaret();
    RequestUpdate(true, true);
    return FrameWindow::HandleEvent(event);
}
