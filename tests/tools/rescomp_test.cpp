// The resource compiler: script parsing and the binary dialog template layout.

#include "tools/rescomp/dialog_template.h"
#include "tools/rescomp/rc_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using rh::rescomp::BuildDialogTemplate;
using rh::rescomp::ParseResourceScript;

uint16_t Word(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }
uint32_t Dword(const std::vector<uint8_t>& b, size_t at) { return Word(b, at) | (uint32_t(Word(b, at + 2)) << 16); }

std::u16string TextAt(const std::vector<uint8_t>& b, size_t* at) {
    std::u16string s;
    for (uint16_t c; (c = Word(b, *at)) != 0; *at += 2) s += char16_t(c);
    *at += 2;
    return s;
}

TEST(ResourceScript, FileResourcesWithEveryKindOfNameAndType) {
    auto r = ParseResourceScript(
        "// comment\n#include \"ignored.h\"\n"
        "227 MemFile \"media/a.rar\"\n"
        "/* block\n comment */ 1053 BITMAP \"/abs/preview.bmp\"\n"
        "7 RCDATA \"x\"\n"
        "Splash \"Custom Type\" \"y\"\n"
        "123 BASS \"bass.so\"\n",
        "/base");
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.resources.size(), 5u);
    EXPECT_EQ(r.resources[0].type.text, "MEMFILE");
    EXPECT_EQ(r.resources[0].name.id, 227);
    EXPECT_EQ(r.resources[0].file, "/base/media/a.rar");
    EXPECT_TRUE(r.resources[1].type.isInt);
    EXPECT_EQ(r.resources[1].type.id, rh::rescomp::kTypeBitmap);
    EXPECT_EQ(r.resources[1].file, "/abs/preview.bmp");
    EXPECT_EQ(r.resources[1].line, 5);  // after the two-line comment
    EXPECT_EQ(r.resources[2].type.id, rh::rescomp::kTypeRcData);
    EXPECT_FALSE(r.resources[3].name.isInt);
    EXPECT_EQ(r.resources[3].name.text, "SPLASH");
    EXPECT_EQ(r.resources[3].type.text, "CUSTOM TYPE");
}

TEST(ResourceScript, ErrorsNameTheLine) {
    struct Case {
        const char* script;
        const char* error;
    };
    const Case cases[] = {
        {"1 MemFile \"unterminated\n", "line 1: unterminated string"},
        {"1 MemFile\n", "line 2: expected a file name in quotes"},
        {"\n1 DIALOG 0, 0, 10\nBEGIN\nEND\n", "line 3: expected ','"},
        {"1 DIALOG 0, 0, 10, 10\nSTYLE WS_NOSUCH\nBEGIN\nEND\n", "line 2: unknown name WS_NOSUCH"},
        {"1 DIALOG 0, 0, 10, 10\nBEGIN\nLTEXT \"a\", 1, 0, 0, 5, 5\n", "line 4: expected END"},
        {"1 DIALOG 0, 0, 10, 10\nBEGIN\nSLIDER \"a\", 1, 0, 0, 5, 5\nEND\n", "line 3: unknown control statement SLIDER"},
        {"1 MemFile \"a\" $", "line 1: unexpected character '$'"},
        // Texts that would not read back from a template: a broken or overlong UTF-8
        // sequence, a zero, U+FFFF (the ordinal mark).
        {"1 DIALOG 0,0,1,1\nCAPTION \"\x91\"", "line 2: string is not UTF-8 text"},
        {"1 DIALOG 0,0,1,1\nCAPTION \"\xC0\x80\"", "line 2: string is not UTF-8 text"},
        {"1 DIALOG 0,0,1,1\nBEGIN\nLTEXT \"\xEF\xBF\xBFx\", 1, 0, 0, 5, 5\nEND\n",
         "line 3: string is not UTF-8 text"},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseResourceScript(c.script, ".").error, c.error) << c.script;
    // A zero byte inside a string.
    const std::string zero("1 MemFile \"a\0b\"", 15);
    EXPECT_EQ(ParseResourceScript(zero, ".").error, "line 1: string is not UTF-8 text");
}

TEST(DialogTemplate, HeaderAndItemsInTheWindowsLayout) {
    auto r = ParseResourceScript(
        "107 DIALOG 1, 2, 275, 73\n"
        "STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU\n"
        "CAPTION \"Error\"\n"
        "FONT 8, \"MS Shell Dlg\"\n"
        "BEGIN\n"
        "  LTEXT \"Say \"\"hi\"\"\", IDC_STATIC, 7, 7, 261, 32\n"
        "  DEFPUSHBUTTON \"OK\", IDOK, 62, 48, 84, 16, NOT WS_TABSTOP\n"
        "  CONTROL 121, 1000, \"Static\", SS_BITMAP | SS_SUNKEN, 0, 0, 10, 10\n"
        "  CONTROL \"\", 1046, \"msctls_trackbar32\", TBS_NOTICKS | WS_TABSTOP, 1, 2, 3, 4, WS_EX_CLIENTEDGE\n"
        "END\n",
        ".");
    ASSERT_EQ(r.error, "");
    ASSERT_TRUE(r.resources[0].dialog.has_value());
    EXPECT_EQ(r.resources[0].type.id, rh::rescomp::kTypeDialog);
    std::vector<uint8_t> b = BuildDialogTemplate(*r.resources[0].dialog);

    // DS_SETFONT is added because of FONT.
    EXPECT_EQ(Dword(b, 0), 0x80000000u | 0x00C00000u | 0x00080000u | 0x80u | 0x40u);
    EXPECT_EQ(Word(b, 8), 4);  // items
    EXPECT_EQ(Word(b, 10), 1);
    EXPECT_EQ(Word(b, 12), 2);
    EXPECT_EQ(Word(b, 14), 275);
    EXPECT_EQ(Word(b, 16), 73);
    size_t at = 18;
    EXPECT_EQ(Word(b, at), 0);  // menu
    EXPECT_EQ(Word(b, at + 2), 0);  // class
    at += 4;
    EXPECT_EQ(TextAt(b, &at), u"Error");
    EXPECT_EQ(Word(b, at), 8);
    at += 2;
    EXPECT_EQ(TextAt(b, &at), u"MS Shell Dlg");

    struct Item {
        uint32_t style;
        uint32_t exStyle;
        uint16_t id;
        uint16_t classAtom;  // 0: a class name follows
        std::u16string className;
        std::u16string text;
        int ordinal;  // -1: text
    };
    const uint32_t childVisible = 0x50000000u;
    const Item items[] = {
        {childVisible | 0x00020000u, 0, 0xFFFF, 0x82, u"", u"Say \"hi\"", -1},
        {childVisible | 0x1u, 0, 1, 0x80, u"", u"OK", -1},
        {childVisible | 0xEu | 0x1000u, 0, 1000, 0x82, u"", u"", 121},
        {childVisible | 0x10u | 0x00010000u, 0x200u, 1046, 0, u"msctls_trackbar32", u"", -1},
    };
    for (const Item& item : items) {
        at = (at + 3) & ~size_t(3);
        EXPECT_EQ(Dword(b, at), item.style) << item.id;
        EXPECT_EQ(Dword(b, at + 4), item.exStyle) << item.id;
        EXPECT_EQ(Word(b, at + 16), item.id);
        at += 18;
        if (item.classAtom != 0) {
            EXPECT_EQ(Word(b, at), 0xFFFF);
            EXPECT_EQ(Word(b, at + 2), item.classAtom);
            at += 4;
        } else {
            EXPECT_EQ(TextAt(b, &at), item.className);
        }
        if (item.ordinal >= 0) {
            EXPECT_EQ(Word(b, at), 0xFFFF);
            EXPECT_EQ(Word(b, at + 2), item.ordinal);
            at += 4;
        } else {
            EXPECT_EQ(TextAt(b, &at), item.text);
        }
        EXPECT_EQ(Word(b, at), 0);  // creation data
        at += 2;
    }
    EXPECT_EQ(at, b.size());
}

TEST(DialogTemplate, TextsAreUtf16) {
    auto r = ParseResourceScript("1 DIALOG 0,0,1,1\nCAPTION \"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x8E\x84\"\nBEGIN\nEND\n", ".");
    ASSERT_EQ(r.error, "");
    std::vector<uint8_t> b = BuildDialogTemplate(*r.resources[0].dialog);
    size_t at = 22;
    EXPECT_EQ(TextAt(b, &at), u"Gr\u00FC\u00DF \u20AC \U0001F384");
}

}  // namespace
