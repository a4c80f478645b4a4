// The rich text view with the baked fonts on the real layer: word measurement, line layout,
// glyph boxes and clip marks, the saver's labels drawn and compared with a software oracle,
// input through the GUI root, and a device loss.
#include "gui/font_manager.h"
#include "gui/gui_root.h"
#include "gui/markup_parser.h"
#include "gui/rich_text_view.h"
#include "render/mesh.h"
#include "render/state_cache.h"
#include "render/texture.h"
#include "render/texture_registry.h"
#include "gui/frame_window.h"
#include "gui/skin_window.h"
#include "tests/render/support/layer_app.h"
#include "tests/support/png_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using rh::test::LayerApp;

const std::string kFontDir = std::string(RIMEHOLT_MEDIA_DIR) + "/Media/Fonts/";

// One device and the baked fonts for the whole program: the font manager is global.
class RichTextViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        app_ = new LayerApp();
        ASSERT_TRUE(app_->Open(1024, 768));
        // Names are resolved from the media folder, as the saver finds them.
        ASSERT_EQ(chdir(RIMEHOLT_MEDIA_DIR), 0);
        ASSERT_TRUE(g_fontManager.LoadFont(FileRef("Media/Fonts/sylfaen.fs")).Succeeded());
        ASSERT_TRUE(g_fontManager.LoadFont(FileRef("Media/Fonts/64font.fs")).Succeeded());
    }
    static void TearDownTestSuite() {
        delete app_;
        app_ = nullptr;
    }

    static FontStyle Style(int size) {
        FontStyle s;
        s.size = size;
        return s;
    }
    // The width of a character of the size-14 font.
    static int Width14(char16_t c) {
        return FontManager::GlyphSize(*g_fontManager.FindCharset(c, Style(14)), c).x;
    }
    // Draws one frame as the saver does: sampler 0 linear, fog on, a cleared target and depth.
    static std::vector<DWORD> DrawFrame(DWORD clear) {
        app_->PumpMessages();
        EXPECT_TRUE(app_->CheckDevice());
        app_->StartFrame();
        StateCache::SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        StateCache::SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        StateCache::SetRenderState(D3DRS_FOGENABLE, TRUE);
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
        EXPECT_EQ(g_device->BeginScene(), D3D_OK);
        EXPECT_TRUE(g_guiRoot.Draw().Succeeded());
        std::vector<DWORD> frame = app_->ReadFrame();
        g_device->EndScene();
        return frame;
    }

    // Resizes the window and lets the framework reset the device to the new back buffer, as
    // it does when the user has resized the window.
    static bool ResizeBackBuffer(int width, int height) {
        HWND window = app_->GetWindow();
        SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE);
        app_->MsgProc(window, WM_EXITSIZEMOVE, 0, 0);
        app_->PumpMessages();
        return app_->width() == width && app_->height() == height;
    }

    static inline LayerApp* app_ = nullptr;
};

// ---- Word measurement ----

TEST_F(RichTextViewTest, MeasureWordCodes) {
    const int a = Width14(u'a'), b = Width14(u'b'), space = Width14(u' ');
    struct Case {
        const char16_t* text;
        int32_t maxWidth;
        int32_t code, width, count;
        const char* what;
    };
    const Case cases[] = {
        {u"ab cd", 1000, RichTextView::kWord, a + b, 2, "a word ends before a blank"},
        {u" ab", 1000, RichTextView::kWord, space, 1, "a leading blank is a word of its own"},
        {u"\nab", 1000, RichTextView::kLineBreak, 0, 1, "a line feed alone"},
        {u"ab\n", 1000, RichTextView::kWord, a + b, 2, "a word ends before a line feed"},
        {u"ab", a, RichTextView::kNoFit, a, 1, "the second character does not fit"},
        {u"ab", 1, RichTextView::kWord, a, 1, "a character wider than the room is taken alone"},
        {u"ab", -5, RichTextView::kWord, a, 1, "even with no room at all"},
        {u"\u00e9\u00e9", 1000, RichTextView::kWord, 0, 2, "characters without a charset have no size"},
        {u"", 1000, RichTextView::kEnd, 0, 0, "the empty document"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RichTextView view;
        view.SetStyle(Style(14));
        view.SetText(WideString(c.text));
        TextPosition p{&view.document(), 0};
        TextPosition start;
        int32_t width = -1, height = -1, count = -1;
        EXPECT_EQ(view.MeasureWord(p, start, width, height, c.maxWidth, count), c.code);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(count, c.count);
    }
    // Across nodes: a word runs on into the next text node; every call consumes a character
    // or ends the document.
    RichTextView view;
    view.SetStyle(Style(14));
    ASSERT_TRUE(view.SetMarkup(u"ab<B>ba</B><RAW> a</RAW>"));
    TextPosition p{&view.document(), 0};
    TextPosition start;
    int32_t width, height, count;
    EXPECT_EQ(view.MeasureWord(p, start, width, height, 1000, count), RichTextView::kWord);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(width, 2 * a + 2 * b);
    int calls = 0;
    while (view.MeasureWord(p, start, width, height, 0, count) != RichTextView::kEnd) ASSERT_LT(++calls, 10);
    EXPECT_EQ(calls, 2) << "the blank and the last a";
}

// ---- Layout ----

TEST_F(RichTextViewTest, LinesOfALayout) {
    RichTextView view;
    view.SetRect(0, 0, 40, 200);
    FontStyle style = Style(14);
    style.rowSpacing = 3;
    view.SetStyle(style);
    // No wrapping: the long first line stays one line, far wider than the view.
    view.SetText(u"a long line that runs past the edge\n\nend");
    ASSERT_EQ(view.LineCount(), 3);
    const TextLine& first = view.Line(0);
    EXPECT_EQ(first.bottom, 14);
    EXPECT_EQ(first.height, 14);
    EXPECT_EQ(first.first, 0);
    EXPECT_EQ(first.last, 35) << "the line feed belongs to the line";
    EXPECT_GT(first.right, 40);
    EXPECT_EQ(view.widestLine(), first.right);
    const TextLine& empty = view.Line(1);
    EXPECT_EQ(empty.first, 36);
    EXPECT_EQ(empty.last, 36) << "a line of a line feed alone";
    EXPECT_EQ(empty.bottom, 14 + 3 + 14) << "row spacing of the line before, a space's height";
    EXPECT_EQ(view.Line(2).bottom, 31 + 3 + 14);
    EXPECT_EQ(view.Line(2).right, Width14(u'e') + Width14(u'n') + Width14(u'd'));

    // The empty document: one line of a space's height.
    RichTextView none;
    none.SetStyle(Style(64));
    none.SetText(u"");
    ASSERT_EQ(none.LineCount(), 1);
    EXPECT_EQ(none.Line(0).height, 64);
    EXPECT_EQ(none.Line(0).first, -1);
    EXPECT_EQ(none.widestLine(), 0);
}

TEST_F(RichTextViewTest, GlyphBoxesAndClipMarks) {
    RichTextView view;
    view.SetRect(100, 50, 30, 20);
    view.SetStyle(Style(14));
    view.SetText(u"abcdefgh\nxy");
    view.Show();
    ASSERT_TRUE(view.OnUpdate());
    ASSERT_EQ(view.glyphRows().size(), 2u);
    // Line one runs past the right edge: it ends at the glyph that crosses it.
    const std::vector<GlyphBox>& row = view.glyphRows()[0];
    int x = 100;
    size_t crossing = 0;
    for (char16_t c : std::u16string(u"abcdefgh")) {
        if (x + Width14(c) > 130) break;
        x += Width14(c);
        ++crossing;
    }
    ASSERT_EQ(row.size(), crossing + 1);
    EXPECT_EQ(row[0].left, 100);
    EXPECT_EQ(row[0].bottom, 64);
    EXPECT_EQ(row[0].top, 50);
    EXPECT_EQ(row.back().left, x);
    EXPECT_GT(row.back().right, 130);
    EXPECT_EQ(view.clipMarks()[0].first, -1);
    EXPECT_EQ(view.clipMarks()[0].last, static_cast<int32_t>(crossing));
    // Line two (bottom 28) is cut by the view's bottom (20): every glyph is clipped.
    EXPECT_EQ(view.clipMarks()[1].first, -2);
    EXPECT_EQ(view.visibleChars()[1].first, 9);
    EXPECT_EQ(view.visibleChars()[1].last, 10);

    // The clipped glyph's vertices: cut at x = 130 - 0.5 and y = 70 - 0.5, its texture
    // coordinates those of the part inside.
    Texture* texture = row.back().charset->GetTexture();
    BufferBlock* block = view.BatchBlock(texture);
    ASSERT_NE(block, nullptr);
    void* data = nullptr;
    ASSERT_TRUE(block->Lock(0, &data));
    std::vector<float> v(static_cast<size_t>(block->size()) / 4);
    std::memcpy(v.data(), data, static_cast<size_t>(block->size()));
    block->Unlock();
    const size_t base = crossing * 42;  // 6 vertices of 7 floats a glyph
    const GlyphBox& cut = row.back();
    const int inside = 130 - cut.left;
    const UvRect want = FontManager::GlyphUV(*cut.charset, cut.code, 0, 0, static_cast<float>(cut.right - 130), 0);
    EXPECT_FLOAT_EQ(v[base + 0], cut.left - 0.5f);
    EXPECT_FLOAT_EQ(v[base + 7], cut.left + inside - 0.5f) << "right-top x";
    EXPECT_FLOAT_EQ(v[base + 3], 1.0f) << "rhw";
    EXPECT_FLOAT_EQ(v[base + 7 + 5], want.right);
    EXPECT_FLOAT_EQ(v[base + 5], want.left);
    // The cut second line: bottom at the view's bottom.
    const size_t second = (crossing + 1) * 42;
    EXPECT_FLOAT_EQ(v[second + 2 * 7 + 1], 70 - 0.5f) << "left-bottom y";
    const GlyphBox& xBox = view.glyphRows()[1][0];
    const UvRect xUv = FontManager::GlyphUV(*xBox.charset, xBox.code, 0, 0, 0, static_cast<float>(xBox.bottom - 70));
    EXPECT_FLOAT_EQ(v[second + 2 * 7 + 6], xUv.bottom);
    // z: the text one depth in front of the background.
    EXPECT_FLOAT_EQ(v[base + 2], g_guiRoot.DepthToZ(view.AbsoluteDepth() - 1));
    view.Hide();
    EXPECT_EQ(view.BatchCount(), 0) << "a hidden view keeps no batches";
    EXPECT_EQ(view.backMesh(), nullptr);
}

// A view whose top lies above its parent's: the first line is cut at the top, its glyphs'
// quads start at the parent's top edge and their texture coordinates skip the rows cut off.
TEST_F(RichTextViewTest, LineCutAtTheTop) {
    FrameWindow parent;
    parent.SetRect(100, 100, 200, 100);
    RichTextView view;
    parent.AddChild(&view, false);
    view.SetRect(10, -5, 100, 40);
    view.SetStyle(Style(14));
    view.SetText(u"ab");
    parent.Show();
    ASSERT_TRUE(view.OnUpdate());
    ASSERT_EQ(view.glyphRows().size(), 1u);
    const GlyphBox& a = view.glyphRows()[0][0];
    EXPECT_EQ(a.top, 95);
    EXPECT_EQ(view.clipMarks()[0].first, -2) << "the line is cut";
    BufferBlock* block = view.BatchBlock(a.charset->GetTexture());
    ASSERT_NE(block, nullptr);
    void* data = nullptr;
    ASSERT_TRUE(block->Lock(0, &data));
    std::vector<float> v(static_cast<size_t>(block->size()) / 4);
    std::memcpy(v.data(), data, static_cast<size_t>(block->size()));
    block->Unlock();
    const UvRect uv = FontManager::GlyphUV(*a.charset, a.code, 0, 5, 0, 0);
    EXPECT_FLOAT_EQ(v[1], 100 - 0.5f) << "left-top y at the parent's top";
    EXPECT_FLOAT_EQ(v[6], uv.top) << "left-top v past the rows cut off";
    EXPECT_FLOAT_EQ(v[2 * 7 + 1], a.bottom - 0.5f) << "left-bottom y";
    parent.Hide();
    parent.RemoveChild(&view);
}

// IMG pictures: sized by Width and Height (20 by 20 without them), held to the window limits
// 1..2000 whatever the numbers; textured from the disk file "Src" names when it is a picture,
// untextured for any other name; the texture's reference is given back with the document.
TEST_F(RichTextViewTest, ImagePictures) {
    const std::string dir = ::testing::TempDir() + "rich_text_pictures";
    (void)std::system(("mkdir -p '" + dir + "/sub'").c_str());
    ASSERT_TRUE(rh::testing::WritePngFile(dir + "/dot.png", 4, 4, std::vector<uint32_t>(16, 0xFF80FF40u)));
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    struct Case {
        std::u16string markup;
        bool picture;
        int32_t width, height;
        bool textured;
    };
    const Case cases[] = {
        {u"<IMG Src=x.png/>", true, 20, 20, false},
        {u"<IMG Src=x.png Width=64/>", true, 64, 20, false},
        {u"<IMG Src=\"dot.png\" Height=7/>", true, 20, 7, true},
        {u"<IMG Src=\"sub\"/>", true, 20, 20, false},
        {u"<IMG Src=\"\" Width=0 Height=\"-5\"/>", true, 1, 1, false},
        // A name that narrows to nothing (a zero unit first) names no file either.
        {std::u16string(u"<IMG Src=\"") + u'\0' + u"x\"/>", true, 20, 20, false},
        {u"<IMG Width=99999 Height=2000/>", true, 2000, 2000, false},
        {u"<IMG Width=99999999999/>", true, 1, 20, false},
        {u"<P Src=\"dot.png\" Width=30/>", false, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        auto root = std::make_unique<RichTextNode>();
        ParseMarkupText(*root, WideString(c.markup.data(), static_cast<int32_t>(c.markup.size()), true));
        RichTextNode* node = root->FirstChild();
        ASSERT_NE(node, nullptr);
        if (!c.picture) {
            EXPECT_EQ(node->GetKind(), NodeKind::kElement);
            EXPECT_EQ(node->GetPicture(), nullptr);
            continue;
        }
        ASSERT_EQ(node->GetKind(), NodeKind::kPicture);
        auto* picture = dynamic_cast<SkinWindow*>(node->GetPicture());
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->GetSize().x, c.width);
        EXPECT_EQ(picture->GetSize().y, c.height);
        ImageTile* tile = picture->FindTile(String());
        ASSERT_NE(tile, nullptr);
        EXPECT_EQ(tile->rect().right, c.width) << "the tile fills the picture";
        EXPECT_EQ(tile->rect().bottom, c.height);
        EXPECT_EQ(tile->texture() != nullptr, c.textured);
        // The registry keeps the texture it loaded; the picture's reference goes back with it.
        Texture* texture = tile->texture();
        const ULONG held = texture != nullptr ? texture->RefCount() : 0;
        root.reset();
        if (texture != nullptr) {
            EXPECT_EQ(texture->RefCount(), held - 1) << "the picture's reference is given back";
        }
    }
    ASSERT_EQ(chdir(here), 0);
}

TEST_F(RichTextViewTest, PicturesInLines) {
    RichTextView view;
    view.SetRect(0, 0, 300, 200);
    view.SetStyle(Style(14));
    ASSERT_TRUE(view.SetMarkup(u"ab<IMG Width=30 Height=40/>c\n<IMG TextFloat=1 Width=50 Height=20/>d\ne\nf"));
    ASSERT_EQ(view.LineCount(), 4);
    EXPECT_EQ(view.Line(0).height, 40) << "the picture is the line's tallest word";
    EXPECT_EQ(view.Line(0).right, Width14(u'a') + Width14(u'b') + 30 + Width14(u'c'));
    // The floating picture: its own line start, the lines beside it moved right by its width.
    EXPECT_EQ(view.Line(1).left, 50);
    EXPECT_EQ(view.Line(1).right, 50 + Width14(u'd'));
    EXPECT_EQ(view.Line(2).left, 50) << "still beside the picture (top 54, its bottom 60)";
    EXPECT_EQ(view.Line(3).left, 0) << "past the picture's bottom";
    view.Show();
    ASSERT_TRUE(view.OnUpdate());
    RichTextNode* picture = FindNodeOfKind(&view.document(), NodeKind::kPicture);
    ASSERT_NE(picture, nullptr);
    GuiWindow* window = picture->GetPicture();
    EXPECT_EQ(window->parent(), &view);
    EXPECT_EQ(window->GetPosition().x, Width14(u'a') + Width14(u'b'));
    EXPECT_EQ(window->GetPosition().y, 0);
    EXPECT_EQ(window->GetSize().y, 40);
    view.Hide();
}

TEST_F(RichTextViewTest, StyleAlphaModeAndOpacity) {
    RichTextView view;
    view.SetRect(0, 0, 300, 100);
    view.SetStyle(Style(14));
    view.SetText(u"abc");
    EXPECT_EQ(view.Line(0).height, 14);
    view.SetStyle(Style(64));
    view.Relayout();
    EXPECT_EQ(view.Line(0).height, 64) << "the document is restyled";
    view.Show();
    ASSERT_TRUE(view.OnUpdate());
    EXPECT_EQ(view.alphaMode(), 2);
    EXPECT_EQ(view.BatchCount(), 1);
    ASSERT_NE(view.backMesh(), nullptr);
    int z = 0;
    ASSERT_TRUE(view.backMesh()->properties().GetInt("z", z));
    EXPECT_EQ(z, view.DepthBelowTop());
    view.SetAlphaMode(1);
    EXPECT_EQ(view.BatchCount(), 0) << "batches are released on a new mode";
    EXPECT_EQ(view.backMesh(), nullptr);
    EXPECT_TRUE(view.HasPendingUpdate());
    ASSERT_TRUE(view.OnUpdate());
    ASSERT_EQ(view.BatchCount(), 1);
    view.SetOpacity(0.25f);
    Texture* texture = g_fontManager.FindCharset(u'a', Style(64))->GetTexture();
    EXPECT_FLOAT_EQ(view.BatchMaterial(texture)->sub(0).opacity, 0.25f);
    EXPECT_FLOAT_EQ(view.backMaterial().sub(0).opacity, 0.25f);
    view.Hide();
}

// ---- The saver's labels ----

struct Picture {
    int width = 0, height = 0;
    std::vector<DWORD> texels;
};

Picture ReadTexture(Texture* texture) {
    Picture p;
    const Point size = texture->GetSize();
    p.width = size.x;
    p.height = size.y;
    D3DLOCKED_RECT locked{};
    if (!texture->LockLevel(0, D3DLOCK_READONLY, &locked)) return p;
    for (int y = 0; y < p.height; ++y) {
        const auto* row = reinterpret_cast<const DWORD*>(static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch);
        p.texels.insert(p.texels.end(), row, row + p.width);
    }
    texture->UnlockLevel(0);
    return p;
}

// What the Parts' material states make of the glyph boxes: the text colour times the picture,
// alpha from the picture, alpha test from 1, source-alpha blending over the cleared colour.
std::vector<DWORD> Oracle(const std::vector<const RichTextView*>& views, int width, int height, DWORD clear,
                          std::vector<bool>* covered) {
    std::vector<DWORD> out(static_cast<size_t>(width * height), clear);
    covered->assign(out.size(), false);
    for (const RichTextView* view : views) {
        for (const auto& row : view->glyphRows()) {
            for (const GlyphBox& box : row) {
                if (box.charset == nullptr || box.charset->GetTexture() == nullptr) continue;
                const Picture picture = ReadTexture(box.charset->GetTexture());
                const UvRect uv = FontManager::GlyphRect(*box.charset, box.code);
                const int u0 = static_cast<int>(uv.left * picture.width + 0.5f);
                const int v0 = static_cast<int>(uv.top * picture.height + 0.5f);
                for (int y = box.top; y < box.bottom; ++y) {
                    for (int x = box.left; x < box.right; ++x) {
                        if (x < 0 || y < 0 || x >= width || y >= height) continue;
                        const size_t at = static_cast<size_t>(y * width + x);
                        (*covered)[at] = true;
                        // The layer lifts pre-transformed geometry by 1/64 pixel to settle
                        // rasteriser ties (platform/d3d9/clip_space.cpp), so the linear filter
                        // takes 1/64 of the texel row below.
                        const size_t texel = static_cast<size_t>((v0 + y - box.top) * picture.width + u0 + x - box.left);
                        const DWORD t = picture.texels[texel];
                        const DWORD below = texel + static_cast<size_t>(picture.width) < picture.texels.size()
                                                ? picture.texels[texel + static_cast<size_t>(picture.width)]
                                                : t;
                        auto channel = [&](int shift) {
                            return (static_cast<double>((t >> shift) & 0xFF) * 63.0 +
                                    static_cast<double>((below >> shift) & 0xFF)) / 64.0;
                        };
                        const double a = channel(24) / 255.0;
                        if (a * 255.0 < 1.0) continue;
                        DWORD result = 0xFF000000;
                        for (int shift : {0, 8, 16}) {
                            const double src = channel(shift) * static_cast<double>((box.color >> shift) & 0xFF) / 255.0;
                            const double dst = static_cast<double>((out[at] >> shift) & 0xFF);
                            result |= static_cast<DWORD>(src * a + dst * (1.0 - a) + 0.5) << shift;
                        }
                        out[at] = result;
                    }
                }
            }
        }
    }
    return out;
}

// What each glyph box adds to the red channel as drawn: a pixel's red is clear + (texel red -
// clear) * alpha (white glyphs, dark rims); red, the darkest channel of the clear colour, reads
// it most finely. Against it, the same summed over the glyph's rectangle in the picture and
// scaled by the box's area over the glyph's; `cover`, the picture's alpha summed alike, is the
// scale of the glyph's ink and rim.
struct BoxAlpha {
    double drawn = 0.0;
    double want = 0.0;
    double cover = 0.0;
};

std::vector<BoxAlpha> SummedAlpha(const std::vector<const RichTextView*>& views, const std::vector<DWORD>& frame,
                                  int width, int height, DWORD clear) {
    std::vector<BoxAlpha> out;
    const double background = static_cast<double>((clear >> 16) & 0xFF);
    for (const RichTextView* view : views) {
        for (const auto& row : view->glyphRows()) {
            for (const GlyphBox& box : row) {
                BoxAlpha sum;
                for (int y = std::max(box.top, 0); y < std::min(box.bottom, height); ++y) {
                    for (int x = std::max(box.left, 0); x < std::min(box.right, width); ++x) {
                        const double red = static_cast<double>((frame[static_cast<size_t>(y * width + x)] >> 16) & 0xFF);
                        sum.drawn += (red - background) / (255.0 - background);
                    }
                }
                const Picture picture = ReadTexture(box.charset->GetTexture());
                const UvRect uv = FontManager::GlyphRect(*box.charset, box.code);
                const Point glyph = FontManager::GlyphSize(*box.charset, box.code);
                const int u0 = static_cast<int>(uv.left * picture.width + 0.5f);
                const int v0 = static_cast<int>(uv.top * picture.height + 0.5f);
                for (int v = 0; v < glyph.y; ++v) {
                    for (int u = 0; u < glyph.x; ++u) {
                        // What the texel adds to the red channel over the background: its alpha
                        // times its own red's distance from it (the glyphs are white, their rims
                        // dark).
                        const DWORD texel = picture.texels[static_cast<size_t>((v0 + v) * picture.width + u0 + u)];
                        const double red = static_cast<double>((texel >> 16) & 0xFF);
                        sum.want += static_cast<double>(texel >> 24) / 255.0 * (red - background) / (255.0 - background);
                        sum.cover += static_cast<double>(texel >> 24) / 255.0;
                    }
                }
                const double area = static_cast<double>(box.right - box.left) * (box.bottom - box.top) / (glyph.x * glyph.y);
                sum.want *= area;
                sum.cover *= area;
                out.push_back(sum);
            }
        }
    }
    return out;
}

// The saver's two labels as it sets them up: the size-64 style at the GUI scale W / 1024, a
// transparent background, alpha mode 2; the frame counter at (10, 10), the clock in the bottom
// right corner. At scale 1.0 every pixel is held against the oracle; at 1.25 the picture is
// magnified by the linear filter, which the oracle does not model, so what each glyph box adds
// over the clear colour, summed, is compared instead. At both, nothing is drawn outside the glyph boxes, and a device
// loss and reset give the same picture again.
TEST_F(RichTextViewTest, SaverLabelsAtGuiScales) {
    struct Case {
        int width, height;
        bool everyPixel;
        const char* what;
    };
    const Case cases[] = {
        {1024, 768, true, "GUI scale 1.0"},
        {1280, 960, false, "GUI scale 1.25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(ResizeBackBuffer(c.width, c.height));
        const int w = app_->width(), h = app_->height();
        FontStyle label = Style(64);
        label.scale = static_cast<float>(w) / 1024.0f;
        label.background = ArgbColor(0.0f, 0.0f, 0.0f, 0.0f);
        RichTextView fps, clock;
        fps.SetRect(10, 10, 256, 128);
        fps.SetAlphaMode(2);
        fps.SetText(u"60");
        fps.SetStyle(label);
        fps.Show();
        clock.SetStyle(label);
        clock.SetRect(200, 300, static_cast<int>(300 * label.scale), static_cast<int>(74 * label.scale));
        clock.SetAlphaMode(2);
        clock.SetText(u"12:34:56");
        clock.Show();
        const Point size = clock.GetSize();
        clock.SetPosition(w - size.x, h - size.y);
        clock.RequestUpdate(true, false);

        const DWORD clear = 0xFF203040;
        const std::vector<DWORD> frame = DrawFrame(clear);
        ASSERT_EQ(frame.size(), static_cast<size_t>(w * h));
        rh::testing::SavePicture("RH_GUI_TEST_IMAGES", "rich-text-labels-" + std::to_string(w), w, h, frame);
        std::vector<bool> covered;
        const std::vector<DWORD> want = Oracle({&fps, &clock}, w, h, clear, &covered);
        ASSERT_EQ(fps.glyphRows().size(), 1u);
        ASSERT_EQ(fps.glyphRows()[0].size(), 2u);
        ASSERT_EQ(clock.glyphRows()[0].size(), 8u) << "the whole clock fits its label";
        EXPECT_EQ(fps.glyphRows()[0][0].bottom - fps.glyphRows()[0][0].top, static_cast<int>(64 * label.scale));
        int worst = 0, outside = 0, inked = 0, over = 0;
        for (size_t i = 0; i < frame.size(); ++i) {
            if (!covered[i]) {
                if ((frame[i] & 0xFFFFFF) != (clear & 0xFFFFFF)) ++outside;
                continue;
            }
            if (!c.everyPixel) continue;
            if ((want[i] & 0xFFFFFF) != (clear & 0xFFFFFF)) ++inked;
            for (int shift : {0, 8, 16}) {
                const int d = std::abs(static_cast<int>((frame[i] >> shift) & 0xFF) -
                                       static_cast<int>((want[i] >> shift) & 0xFF));
                if (d > 2 && over++ < 5) {
                    ADD_FAILURE() << "at " << i % w << "," << i / w << " got " << std::hex << frame[i] << " want "
                                  << want[i];
                }
                worst = std::max(worst, d);
            }
        }
        EXPECT_EQ(outside, 0) << "pixels drawn outside the glyph boxes";
        if (c.everyPixel) {
            EXPECT_GT(inked, 2000) << "the glyphs have ink";
            EXPECT_LE(worst, 2) << "levels off inside the glyph boxes";
        } else {
            const std::vector<BoxAlpha> sums = SummedAlpha({&fps, &clock}, frame, w, h, clear);
            ASSERT_EQ(sums.size(), 10u);
            for (size_t i = 0; i < sums.size(); ++i) {
                EXPECT_GT(sums[i].want, 50.0) << "glyph " << i << " has ink";
                EXPECT_NEAR(sums[i].drawn, sums[i].want, 0.02 * sums[i].cover) << "glyph " << i;
            }
        }
        if (worst > 2 || outside > 0) {
            const std::string name = ::testing::TempDir() + "rich-text-labels-" + std::to_string(w);
            rh::testing::WritePngFile(name + "-got.png", w, h, frame);
            if (c.everyPixel) rh::testing::WritePngFile(name + "-want.png", w, h, want);
        }

        // After a forced loss and reset the moved blocks ask for updates and the labels read
        // back the same (the font pictures are managed and come back by themselves).
        rh::d3d9::testing::ForceDeviceLoss(g_device, true);
        rh::d3d9::testing::ForceDeviceLoss(g_device, false);
        ASSERT_TRUE(app_->ResetNow());
        EXPECT_TRUE(fps.HasPendingUpdate());
        EXPECT_TRUE(clock.HasPendingUpdate());
        const std::vector<DWORD> again = DrawFrame(clear);
        EXPECT_TRUE(again == frame) << "the labels differ after the reset";
        fps.Hide();
        clock.Hide();
    }
    ASSERT_TRUE(ResizeBackBuffer(1024, 768));
}

std::vector<uint32_t> GlyphColours(RichTextView& view, Texture* texture, uint32_t* background);

// Backgrounds of alpha 0 would draw nothing: the view keeps no background group for them, and
// makes one when a selection gives glyphs a visible background.
TEST_F(RichTextViewTest, TransparentBackgroundsMakeNoGroupUntilASelectionShows) {
    FontStyle style = Style(64);
    style.background = ArgbColor(0.0f, 0.0f, 0.0f, 0.0f);
    RichTextView view;
    view.SetRect(0, 0, 300, 100);
    view.SetStyle(style);
    view.SetText(u"abc");
    view.Show();
    ASSERT_TRUE(view.OnUpdate());
    EXPECT_EQ(view.BatchCount(), 1);
    EXPECT_EQ(view.backMesh(), nullptr);

    view.SetSelection(1, 2);
    ASSERT_TRUE(view.OnUpdate());
    ASSERT_NE(view.backMesh(), nullptr) << "the selected glyph's background shows";
    Texture* texture = g_fontManager.FindCharset(u'a', style)->GetTexture();
    uint32_t backgrounds[3] = {};
    EXPECT_EQ(GlyphColours(view, texture, backgrounds).size(), 3u);
    EXPECT_EQ(backgrounds[0] >> 24, 0u);
    EXPECT_EQ(backgrounds[1], view.selectionStyle().background.ToARGB());
    EXPECT_EQ(backgrounds[2] >> 24, 0u);

    view.SetSelection(-1, -1);
    ASSERT_TRUE(view.OnUpdate());
    EXPECT_EQ(view.backMesh(), nullptr) << "gone with the selection";
    view.Hide();
}

// Colours and a second charset reach the pixels: the text material takes the vertex colour
// (a red glyph is drawn red, not white), and each charset's texture draws with its own
// material. Every pixel against the oracle, which takes the text colour into account.
TEST_F(RichTextViewTest, ColoursAndCharsetsDrawn) {
    const int w = app_->width(), h = app_->height();
    FontStyle style = Style(64);
    style.background = ArgbColor(0.0f, 0.0f, 0.0f, 0.0f);
    RichTextView view;
    view.SetRect(100, 100, 400, 100);
    view.SetStyle(style);
    ASSERT_TRUE(view.SetMarkup(u"<P Color=\"-65536\">8</P><P Size=14>ab</P>8"));
    view.Show();
    const DWORD clear = 0xFF203040;
    const std::vector<DWORD> frame = DrawFrame(clear);
    rh::testing::SavePicture("RH_GUI_TEST_IMAGES", "rich-text-colours", w, h, frame);
    ASSERT_EQ(view.glyphRows().size(), 1u);
    const std::vector<GlyphBox>& row = view.glyphRows()[0];
    ASSERT_EQ(row.size(), 4u);
    EXPECT_NE(row[1].charset->GetTexture(), row[0].charset->GetTexture()) << "two charset pictures";
    EXPECT_EQ(view.BatchCount(), 2);
    std::vector<bool> covered;
    const std::vector<DWORD> want = Oracle({&view}, w, h, clear, &covered);
    int off = 0, outside = 0, red = 0, small = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
        if (!covered[i]) {
            if ((frame[i] & 0xFFFFFF) != (clear & 0xFFFFFF)) ++outside;
            continue;
        }
        for (int shift : {0, 8, 16}) {
            const int d = std::abs(static_cast<int>((frame[i] >> shift) & 0xFF) - static_cast<int>((want[i] >> shift) & 0xFF));
            if (d > 2 && off++ < 5) {
                ADD_FAILURE() << "at " << i % w << "," << i / w << " got " << std::hex << frame[i] << " want " << want[i];
            }
        }
        const int x = static_cast<int>(i % w);
        if (x < row[0].right && ((frame[i] >> 16) & 0xFF) > 0xA0 && ((frame[i] >> 8) & 0xFF) <= 0x30) ++red;
        if (x >= row[1].left && x < row[2].right && (frame[i] & 0xFF) > 0xA0) ++small;
    }
    EXPECT_EQ(off, 0) << "pixels more than 2 levels off";
    EXPECT_EQ(outside, 0) << "pixels drawn outside the glyph boxes";
    EXPECT_GT(red, 200) << "the red glyph is red";
    EXPECT_GT(small, 20) << "the size-14 glyphs have ink";
    if (off > 0 || outside > 0) {
        rh::testing::WritePngFile(::testing::TempDir() + "rich-text-colours-got.png", w, h, frame);
        rh::testing::WritePngFile(::testing::TempDir() + "rich-text-colours-want.png", w, h, want);
    }
    view.Hide();
}

// ---- Input ----

// Reads the text colour of every glyph vertex of the view's batch for `texture`.
std::vector<uint32_t> GlyphColours(RichTextView& view, Texture* texture, uint32_t* background) {
    std::vector<uint32_t> colours;
    BufferBlock* block = view.BatchBlock(texture);
    void* data = nullptr;
    if (block == nullptr || !block->Lock(0, &data)) return colours;
    for (int32_t at = 0; at < block->size(); at += 28 * 6) {
        uint32_t c;
        std::memcpy(&c, static_cast<uint8_t*>(data) + at + 16, 4);
        colours.push_back(c);
    }
    block->Unlock();
    colours.resize(colours.size());
    BufferBlock* back = view.backBlock();
    if (back != nullptr && back->Lock(0, &data)) {
        for (int32_t at = 0; at < back->size(); at += 20 * 6) {
            std::memcpy(background++, static_cast<uint8_t*>(data) + at + 16, 4);
        }
        back->Unlock();
    }
    return colours;
}

TEST_F(RichTextViewTest, PointerSelectsAndKeysMoveTheCaret) {
    RichTextView view;
    view.SetRect(100, 100, 400, 100);
    view.SetStyle(Style(14));
    view.SetText(u"abcdef\nghi");
    view.Show();
    DrawFrame(0xFF000000);
    ASSERT_EQ(view.glyphRows().size(), 2u);
    // Copies: every update builds the boxes anew.
    const std::vector<GlyphBox> row = view.glyphRows()[0];
    // A left press on "c" puts the caret before it and gives the view the focus.
    const GlyphBox c = row[2];
    g_guiRoot.OnInputEvent(InputEventKind::kLeftButtonDown, c.left + 1, c.top + 5, c.left + 1, c.top + 5, 0, 0, 0);
    EXPECT_EQ(view.caretIndex(), 2);
    EXPECT_FALSE(view.caretAfter());
    EXPECT_TRUE(view.focused());
    EXPECT_EQ(g_guiRoot.focusWindow(), &view);
    DrawFrame(0xFF000000);
    EXPECT_TRUE(view.caret().shown()) << "the caret shows while the view has the focus";
    EXPECT_EQ(view.caret().GetPosition().x, c.left - 100) << "the caret is placed in the view";
    EXPECT_EQ(view.caret().GetPosition().y, c.bottom - 20 + 3 - 100);
    g_guiRoot.OnInputEvent(InputEventKind::kLeftButtonUp, c.left + 1, c.top + 5, c.left + 1, c.top + 5, 0, 0, 0);

    // A drag from "e" leftwards to "b" selects b, c, d, e... from the pointer to the start.
    const GlyphBox e = row[4], b = row[1];
    g_guiRoot.OnInputEvent(InputEventKind::kLeftButtonDown, e.right - 1, e.top + 5, e.right - 1, e.top + 5, 0, 0, 0);
    g_guiRoot.OnInputEvent(InputEventKind::kCursorMoved, b.left + 1, b.top + 5, e.right - 1, e.top + 5,
                           b.left - e.right + 2, 0, 0);
    EXPECT_EQ(view.selStart(), 1);
    EXPECT_EQ(view.selEnd(), 4);
    g_guiRoot.OnInputEvent(InputEventKind::kLeftButtonUp, b.left + 1, b.top + 5, b.left + 1, b.top + 5, 0, 0, 0);
    DrawFrame(0xFF000000);
    uint32_t backgrounds[16] = {};
    const std::vector<uint32_t> colours = GlyphColours(view, row[0].charset->GetTexture(), backgrounds);
    ASSERT_EQ(colours.size(), 9u);
    for (int i = 0; i < 9; ++i) {
        const bool selected = i >= 1 && i < 4;
        EXPECT_EQ(colours[static_cast<size_t>(i)], selected ? 0xFFC80000u : 0xFFFFFFFFu) << "glyph " << i;
        EXPECT_EQ(backgrounds[i], selected ? 0xFF000064u : 0xFF000000u) << "background " << i;
    }

    // Keys, each from a caret set by hand ("abcdef" and a line feed, then "ghi").
    const std::vector<GlyphBox> second = view.glyphRows()[1];
    int32_t below = 7;
    while (below < 9 && second[static_cast<size_t>(below - 7)].right < row[2].left) ++below;
    struct KeyCase {
        int32_t line, fromIndex;  // fromIndex 100: after the line's last character
        int32_t key;
        int32_t index;
        bool after;
        const char* what;
    };
    const KeyCase keys[] = {
        {0, 2, 205, 3, false, "right"},
        {0, 5, 205, 6, false, "right to the line feed"},
        {0, 6, 205, 7, false, "right past the line feed"},
        {1, 9, 205, 9, true, "right at the last character stands after it"},
        {1, 100, 205, 9, true, "right at the end of the document stays"},
        {0, 2, 203, 1, false, "left"},
        {1, 7, 203, 6, false, "left at a line's first character: after the line before"},
        {1, 100, 203, 9, false, "left from after a character: before it"},
        {0, 0, 203, 0, false, "left at the start of the document"},
        {0, 2, 200, 2, false, "up on the first line does nothing"},
        {1, 8, 208, 8, false, "down on the last line does nothing"},
        {0, 2, 208, below, false, "down to the glyph below the caret"},
        {1, 8, 199, 7, false, "home"},
        {1, 7, 207, 9, true, "end stands after the last character"},
        {0, 2, 207, 6, false, "end stands before a line feed"},
        {0, 2, 57, 2, false, "another key"},
    };
    for (const KeyCase& k : keys) {
        SCOPED_TRACE(k.what);
        view.SetCaret(k.line, k.fromIndex);
        DrawFrame(0xFF000000);
        g_guiRoot.OnInputEvent(InputEventKind::kKeyDown, 0, 0, 0, 0, 0, 0, k.key);
        g_guiRoot.OnInputEvent(InputEventKind::kKeyUp, 0, 0, 0, 0, 0, 0, k.key);
        EXPECT_EQ(view.caretIndex(), k.index);
        EXPECT_EQ(view.caretAfter(), k.after);
    }

    // Delete removes the character at the caret; at the end of the document it does nothing.
    auto text = [&] {
        const WideString& t = view.document().FirstChild()->GetText();
        return std::u16string(t.data(), static_cast<size_t>(t.length()));
    };
    view.SetCaret(0, 1);
    g_guiRoot.OnInputEvent(InputEventKind::kKeyDown, 0, 0, 0, 0, 0, 0, 211);
    EXPECT_TRUE(text() == u"acdef\nghi");
    view.SetCaret(1, 100);
    g_guiRoot.OnInputEvent(InputEventKind::kKeyDown, 0, 0, 0, 0, 0, 0, 211);
    EXPECT_TRUE(text() == u"acdef\nghi");
    view.SetText(u"");
    g_guiRoot.OnInputEvent(InputEventKind::kKeyDown, 0, 0, 0, 0, 0, 0, 211);
    EXPECT_EQ(view.caretIndex(), 0) << "nothing to delete in an empty document";

    // Markup characters of a plain text are shown as they stand, "</RAW>" too.
    view.SetText(u"<B>x</RAW>y</B>");
    ASSERT_EQ(view.LineCount(), 1);
    EXPECT_EQ(view.Line(0).last, 14);
    DrawFrame(0xFF000000);
    ASSERT_EQ(view.glyphRows()[0].size(), 15u);
    EXPECT_EQ(view.glyphRows()[0][0].code, u'<');
    EXPECT_EQ(view.glyphRows()[0][2].code, u'>');

    // Without the focus the caret is hidden again.
    view.KillFocus();
    view.RequestUpdate(true, false);
    DrawFrame(0xFF000000);
    EXPECT_FALSE(view.caret().shown());
    view.Hide();
}

// ---- Glyph runs ----

TEST_F(RichTextViewTest, GlyphRunsOverTwoCharsets) {
    // A style of two charsets: the baked one, and a second from the same picture whose codes
    // start at 192, where the first ends.
    const std::string dir = ::testing::TempDir() + "rich_text_runs";
    (void)std::system(("mkdir -p '" + dir + "' && cp '" + kFontDir + "sylfaen14.png' '" + kFontDir +
                       "sylfaen14.css' '" + dir + "'").c_str());
    std::ofstream(dir + "/upper.css") << "Name = \"sylfaen14.png\"; CharsPerLine = 16; CharWidth = 16; "
                                         "CharHeight = 14; StartChar = 192; EndChar = 255;";
    std::ofstream(dir + "/two.fs") << "Styles[0].Size = 30; Styles[0].Charsets = array(\"sylfaen14.css\", \"upper.css\");";
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    const bool loaded = g_fontManager.LoadFont(FileRef("two.fs")).Succeeded();
    ASSERT_EQ(chdir(here), 0);
    ASSERT_TRUE(loaded);
    RichTextNode root;
    root.style.size = 30;
    ASSERT_TRUE(ParseMarkupText(root, u"ab\u00e9\u00e8c\u0100"));
    const RichTextNode* text = root.FirstChild();
    ASSERT_NE(text, nullptr);
    const auto& runs = text->glyphRuns();
    ASSERT_EQ(runs.count(), 4);
    Charset* lower = g_fontManager.FindCharset(u'a', root.style);
    Charset* upper = g_fontManager.FindCharset(0xE9, root.style);
    ASSERT_NE(lower, upper);
    const auto* n = runs.first();
    const std::pair<int32_t, Charset*> want[] = {{0, lower}, {2, upper}, {4, lower}, {5, nullptr}};
    for (const auto& [index, charset] : want) {
        EXPECT_EQ(n->key, index);
        EXPECT_EQ(n->value, charset) << "run at " << index;
        n = n->next;
    }
    EXPECT_EQ(text->RunCharset(3), upper);
    EXPECT_EQ(text->RunCharset(5), nullptr);
}

}  // namespace
