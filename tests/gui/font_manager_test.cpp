// The font manager on the real layer: font and charset files written by the tests, pictures
// through the texture registry onto an offscreen device. Style lookup by size, the glyph grid
// against grid maths of the test's own, explicit rectangles, colour keys, and the files that
// are refused, with their trace lines.
#include "gui/font_manager.h"

#include "core/files/search_paths.h"
#include "platform/log/log_testing.h"
#include "tests/render/support/device_app.h"
#include "tests/render/support/picture_files.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rh::LogLevel;
using rh::test::DeviceApp;
using rh::testing::LogCapture;
using Texts = std::vector<std::string>;

class FontManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(DeviceApp::Get(), nullptr) << "no device";
        scratch_.Enter();
        // The registry shares pictures by resolved name, and names here are relative to each
        // test's own folder: a folder named after the test keeps them apart.
        folder_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }

    // Writes a file into the test's folder; its relative name.
    std::string Write(const std::string& name, const std::string& text) {
        scratch_.Write(folder_ + "/" + name, text);
        return folder_ + "/" + name;
    }
    void Picture(const std::string& name, uint32_t width, uint32_t height) {
        Write(name, rh::test::TgaFile(rh::test::Solid(width, height, 0xFFFFFFFF)));
    }
    // A charset over a 64 x 32 picture of 8 x 8 cells, 8 per row, codes 32..`end`.
    void SmallCharset(const std::string& name, int end = 63, const std::string& extra = "") {
        Picture(name + ".tga", 64, 32);
        Write(name + ".css", "Name = \"" + name + ".tga\"; CharsPerLine = 8; CharWidth = 8; CharHeight = 8;\n"
                             "StartChar = 32; EndChar = " + std::to_string(end) + ";\n" + extra);
    }
    FlagWord Load(const std::string& name) { return fonts_.LoadFont(FileRef((folder_ + "/" + name).c_str())); }

    static FontStyle Style(int size, int flags = 0) {
        FontStyle style;
        style.size = size;
        style.flags = flags;
        return style;
    }

    rh::testing::ScratchDir scratch_{"rh_fonts"};
    std::string folder_;
    FontManager fonts_;
};

// The size a charset list belongs to, through its first charset's cell width (set per font).
int CellWidthOf(const CharsetList* list) {
    return list != nullptr && list->count() > 0 ? list->first()->element->cellWidth : -1;
}

TEST_F(FontManagerTest, StylesAnswerByNearestSizeTheExactOneFirst) {
    // No styles: nothing to answer with.
    EXPECT_EQ(fonts_.FindStyle(Style(14)), nullptr);
    EXPECT_EQ(fonts_.DefaultCharset(), nullptr);
    EXPECT_EQ(fonts_.FindCharset('a', Style(14)), nullptr);

    Picture("p.tga", 64, 32);
    Write("small.css", "Name = \"p.tga\"; CharsPerLine = 4; CharWidth = 14; StartChar = 32; EndChar = 127;");
    Write("big.css", "Name = \"p.tga\"; CharsPerLine = 4; CharWidth = 64; StartChar = 32; EndChar = 127;");
    Write("fonts.fs",
          "Name = \"Ignored\";\n"
          "Styles[0].Size = 14; Styles[0].Charsets = array(\"small.css\");\n"
          "Styles[1].Size = 64; Styles[1].Bold = 1; Styles[1].Charsets = array(\"big.css\");\n"
          "Styles[2].Size = 30;\n");  // no "Charsets": not stored
    ASSERT_TRUE(Load("fonts.fs").Succeeded());
    EXPECT_EQ(fonts_.Styles().count(), 2);

    const struct {
        int size, flags, cellWidth;
    } cases[] = {
        {14, 0, 14}, {20, 0, 64}, {10, 0, 14}, {100, 0, 64}, {14, kFontBold, 14}, {64, 0, 64}, {-5, 0, 14},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CellWidthOf(fonts_.FindStyle(Style(c.size, c.flags))), c.cellWidth)
            << "size " << c.size << " flags " << c.flags;
    }
    EXPECT_EQ(fonts_.DefaultCharset()->cellWidth, 14);
    // The code is taken as 16 bits; the end code counts as inside.
    EXPECT_NE(fonts_.FindCharset('a' + 0x10000, Style(14)), nullptr);
    EXPECT_NE(fonts_.FindCharset(127, Style(14)), nullptr);
    EXPECT_EQ(fonts_.FindCharset(128, Style(14)), nullptr);
    EXPECT_EQ(fonts_.FindCharset(31, Style(14)), nullptr);
}

TEST_F(FontManagerTest, ASecondStyleOfOneSizeReplacesTheListAndTheOldCharsetsStay) {
    SmallCharset("a");
    SmallCharset("b", 40);
    Write("first.fs", "Styles[0].Size = 14; Styles[0].Italic = 1; Styles[0].FontName = \"Body\";"
                      "Styles[0].Charsets = array(\"a.css\");");
    Write("second.fs", "Styles[0].Size = 14; Styles[0].Charsets = array(\"b.css\");");
    ASSERT_TRUE(Load("first.fs").Succeeded());
    Charset* before = fonts_.FindCharset('0', Style(14));
    ASSERT_NE(before, nullptr);
    ASSERT_TRUE(Load("second.fs").Succeeded());

    EXPECT_EQ(fonts_.Styles().count(), 1);
    const FontStyle& kept = fonts_.Styles().first()->key;
    EXPECT_EQ(kept.flags, kFontItalic);  // the stored style keeps its flags and name
    EXPECT_TRUE(WideStringEqualsText(kept.fontName, u"Body"));
    EXPECT_EQ(fonts_.FindStyle(Style(14))->count(), 1);
    EXPECT_EQ(fonts_.FindCharset('0', Style(14)), nullptr);  // '0' (48) is past b's end
    // Text laid out before still points at the replaced charset: it must stay alive.
    EXPECT_EQ(before->end, 63);
    EXPECT_NE(before->GetTexture(), nullptr);
    EXPECT_EQ(FontManager::GlyphSize(*before, '0').y, 8);
}

TEST_F(FontManagerTest, GridRectanglesFollowTheCellsAndTheEndCodeHasNone) {
    // Codes 32..63 on 8 x 8 cells, 8 per row of a 64 x 32 picture; width of code c is c % 7.
    std::string sizes = "Sizes = array(";
    for (int c = 32; c <= 63; ++c) sizes += std::to_string(c % 7) + (c < 63 ? ", " : ");\n");
    SmallCharset("grid", 63, sizes + "Sizes.a = 5;\n");  // key "a" counts as offset 0
    Write("grid.fs", "Styles[0].Size = 8; Styles[0].Charsets = array(\"grid.css\");");
    ASSERT_TRUE(Load("grid.fs").Succeeded());
    const Charset& charset = *fonts_.DefaultCharset();

    for (int c = 32; c < 63; ++c) {
        const int i = c - 32;
        const int width = c == 32 ? 5 : c % 7;
        const float x0 = float(i % 8 * 8), y0 = float(i / 8 * 8);
        const UvRect r = FontManager::GlyphRect(charset, c);
        EXPECT_FLOAT_EQ(r.left, x0 / 64) << c;
        EXPECT_FLOAT_EQ(r.top, y0 / 32) << c;
        EXPECT_FLOAT_EQ(r.right, (x0 + float(width)) / 64) << c;
        EXPECT_FLOAT_EQ(r.bottom, (y0 + 8) / 32) << c;
        EXPECT_EQ(FontManager::GlyphSize(charset, c).x, width) << c;
        EXPECT_EQ(FontManager::GlyphSize(charset, c).y, 8) << c;
    }
    const UvRect endRect = FontManager::GlyphRect(charset, 63);
    EXPECT_EQ(endRect.left + endRect.top + endRect.right + endRect.bottom, 0.0f);
    // Outside the charset: the cell size, and no rectangle.
    for (int code : {31, 64, -1, 70000}) {
        EXPECT_EQ(FontManager::GlyphSize(charset, code).x, 8) << code;
        EXPECT_EQ(FontManager::GlyphRect(charset, code).right, 0.0f) << code;
    }
    // Insets in pixels of the picture.
    const UvRect uv = FontManager::GlyphUV(charset, 41, 1, 2, 3, 4);  // i 9: row 1, column 1
    EXPECT_FLOAT_EQ(uv.left, (8 + 1) / 64.0f);
    EXPECT_FLOAT_EQ(uv.top, (8 + 2) / 32.0f);
    EXPECT_FLOAT_EQ(uv.right, (8 + 41 % 7 - 3) / 64.0f);
    EXPECT_FLOAT_EQ(uv.bottom, (16 - 4) / 32.0f);
}

TEST_F(FontManagerTest, ExplicitRectanglesAreInclusiveUnshiftedAndKeyedByFirstCharacter) {
    SmallCharset("r", 127,
                 "Rects.a = array(8, 16, 15, 23);\n"
                 "Rects.bc = array(0, 0, 299, 7);\n"      // width 300 kept to 8 bits: 44
                 "Rects.zz = array(1, 2, 3);\n"           // three values: ignored
                 "Sizes[1000] = 9; Sizes[-3] = 9;\n");    // outside the charset: ignored
    Write("r.fs", "Styles[0].Charsets = array(\"r.css\");");
    ASSERT_TRUE(Load("r.fs").Succeeded());
    const Charset& charset = *fonts_.DefaultCharset();
    EXPECT_EQ(charset.widths.count(), 96);

    const UvRect a = FontManager::GlyphRect(charset, 'a');
    EXPECT_FLOAT_EQ(a.left, 8 / 64.0f);
    EXPECT_FLOAT_EQ(a.top, 16 / 32.0f);
    EXPECT_FLOAT_EQ(a.right, 15 / 64.0f);
    EXPECT_FLOAT_EQ(a.bottom, 23 / 32.0f);
    EXPECT_EQ(FontManager::GlyphSize(charset, 'a').x, 8);
    EXPECT_EQ(FontManager::GlyphSize(charset, 'b').x, 44);
    EXPECT_EQ(FontManager::GlyphSize(charset, 'z').x, 0);
}

TEST_F(FontManagerTest, ColourKeysAndFormatsReachTheTextureRequest) {
    const struct {
        const char* keys;
        D3DCOLOR colorKey;
        D3DFORMAT format;
    } cases[] = {
        {"ColorKey = array(255, 0, 255);", 0xFFFF00FF, D3DFMT_A8R8G8B8},
        {"ColorKey.g = 128; ColorKey.b = 1;", 0xFF008001, D3DFMT_A8R8G8B8},
        {"ColorKey = 4660; Format = \"D3DFMT_X8R8G8B8\";", 4660, D3DFMT_X8R8G8B8},
        {"Format = \"D3DFMT_A4R4G4B4\";", 0, D3DFMT_A4R4G4B4},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "k" + std::to_string(n++);
        SmallCharset(name, 63, c.keys);
        Write(name + ".fs", "Styles[0].Size = " + std::to_string(n) + "; Styles[0].Charsets = array(\"" + name +
                                ".css\");");
        ASSERT_TRUE(Load(name + ".fs").Succeeded()) << c.keys;
        const Texture* texture = fonts_.FindStyle(Style(n))->first()->element->GetTexture();
        ASSERT_NE(texture, nullptr) << c.keys;
        EXPECT_EQ(texture->GetColorKey(), c.colorKey) << c.keys;
        EXPECT_EQ(texture->GetFormat(), c.format) << c.keys;
    }
}

TEST_F(FontManagerTest, RefusedFilesFailWithTheirTraceLines) {
    Picture("p.tga", 64, 32);
    const std::string good = "Name = \"p.tga\"; CharsPerLine = 8; CharWidth = 8; CharHeight = 8; ";
    const struct {
        const char* what;
        std::string charset;  // "-": no charset file at all
        Texts trace;
    } cases[] = {
        {"missing charset file", "-", {"Error: Charset 'c.css' loading failed"}},
        {"end below start", good + "StartChar = 40; EndChar = 39;", {"Error: Charset 'c.css' loading failed"}},
        {"no cells per row", "Name = \"p.tga\";", {"Error: Charset 'c.css' loading failed"}},
        {"cells per row 0", "Name = \"p.tga\"; CharsPerLine = 0;", {"Error: Charset 'c.css' loading failed"}},
        {"no picture name", "CharsPerLine = 8;", {"Error: Charset 'c.css' loading failed"}},
        {"start below 0", good + "StartChar = -1; EndChar = 10;", {"Error: Charset 'c.css' loading failed"}},
        {"end past 16 bits", good + "EndChar = 65536;", {"Error: Charset 'c.css' loading failed"}},
        {"picture missing",
         "Name = \"none.tga\"; CharsPerLine = 8;",
         {"Error: font texture loading failed", "Error: Charset 'c.css' loading failed"}},
        {"empty charset file", "", {"Error: Charset 'c.css' loading failed"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        // Each case in a folder of its own, beside a font file naming "c.css" and a good one.
        const std::string dir = "case" + std::to_string(n++) + "/";
        Write(dir + "p.tga", rh::test::TgaFile(rh::test::Solid(64, 32, 0xFFFFFFFF)));
        Write(dir + "ok.css", good);
        if (c.charset != "-") Write(dir + "c.css", c.charset);
        Write(dir + "f.fs", "Styles[0].Size = " + std::to_string(n) +
                                "; Styles[0].Charsets = array(\"c.css\", \"ok.css\");");
        LogCapture capture(LogLevel::Trace);
        EXPECT_TRUE(Load(dir + "f.fs").Failed()) << c.what;
        EXPECT_EQ(capture.texts(), c.trace) << c.what;
        // The style stays, with the failed charset kept empty and the good one loaded.
        const CharsetList* list = fonts_.FindStyle(Style(n));
        ASSERT_NE(list, nullptr) << c.what;
        ASSERT_EQ(list->count(), 2) << c.what;
        const Charset& failed = *list->first()->element;
        EXPECT_EQ(failed.GetTexture(), nullptr) << c.what;
        if (c.trace.size() == 1) {  // refused before its picture: the file's range is not taken
            EXPECT_EQ(failed.start, 0) << c.what;
            EXPECT_EQ(failed.end, 256) << c.what;
        }
        EXPECT_EQ(FontManager::GlyphRect(failed, 40).right, 0.0f) << c.what;
        EXPECT_EQ(FontManager::GlyphUV(failed, 40, 0, 0, 0, 0).right, 0.0f) << c.what;
        EXPECT_NE(list->first()->next->element->GetTexture(), nullptr) << c.what;
    }

    // A font file that cannot be found or parsed stores nothing and says nothing.
    const int styles = fonts_.Styles().count();
    Write("empty.fs", "");
    LogCapture capture(LogLevel::Trace);
    EXPECT_TRUE(Load("absent.fs").Failed());
    EXPECT_TRUE(Load("empty.fs").Failed());
    EXPECT_TRUE(capture.texts().empty());
    EXPECT_EQ(fonts_.Styles().count(), styles);
}

TEST_F(FontManagerTest, ExtraPathsAndTheManagersOwnFindTheFontFile) {
    SmallCharset("x");
    Write("x.fs", "Styles[0].Size = 9; Styles[0].Charsets = array(\"x.css\");");
    EXPECT_TRUE(fonts_.LoadFont(FileRef("x.fs")).Failed());
    SearchPaths extra;
    extra.Add(FileRef(folder_.c_str()));
    EXPECT_TRUE(fonts_.LoadFont(FileRef("x.fs"), &extra).Succeeded());
    FontManager other;
    other.Paths().Add(FileRef(folder_.c_str()));
    EXPECT_TRUE(other.LoadFont(FileRef("x.fs")).Succeeded());
}

}  // namespace
