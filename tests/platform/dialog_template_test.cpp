// The dialog template reader against the resource compiler's writer: what one writes, the
// other reads back field by field, and damaged templates are refused without reading past
// their end.

#include "platform/win32/dialog_template.h"
#include "tools/rescomp/dialog_template.h"
#include "tools/rescomp/rc_parser.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using rh::win32::DialogTemplate;
using rh::win32::ReadDialogTemplate;

// Texts of odd and even lengths, so items start both with and without padding; an ordinal
// title; a named class; a dialog without font or caption.
const char kScript[] = R"(
1 DIALOG 12, 34, 275, 73
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
EXSTYLE WS_EX_DLGMODALFRAME
CAPTION "Error é"
FONT 8, "MS Shell Dlg"
BEGIN
    LTEXT "Text", -1, 7, 7, 261, 30
    DEFPUSHBUTTON "OK", IDOK, 7, 52, 80, 14
    CONTROL "", 1046, "msctls_trackbar32", TBS_NOTICKS | WS_TABSTOP, 7, -7, 100, 15
    CONTROL 121, -1, "Static", SS_BITMAP | SS_SUNKEN, 209, 12, 170, 114, WS_EX_CLIENTEDGE
    COMBOBOX 1011, 15, 17, 178, 74, CBS_DROPDOWNLIST | WS_VSCROLL
    AUTORADIOBUTTON "24h", 1112, 320, 153, 54, 8
END
2 DIALOG 0, 0, 10, 10
BEGIN
END
)";

std::u16string Wide(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(c);
        } else {  // two-byte sequences are all the fixtures use
            out.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (utf8[++i] & 0x3F)));
        }
    }
    return out;
}

uint16_t AtomOf(const std::string& className) {
    if (className == "Static") return rh::win32::kStaticAtom;
    if (className == "Button") return rh::win32::kButtonAtom;
    if (className == "ComboBox") return rh::win32::kComboBoxAtom;
    return 0;
}

std::vector<rh::rescomp::DialogDefinition> Definitions() {
    rh::rescomp::ParseResult parsed = rh::rescomp::ParseResourceScript(kScript, ".");
    EXPECT_EQ(parsed.error, "");
    std::vector<rh::rescomp::DialogDefinition> out;
    for (const auto& r : parsed.resources) out.push_back(*r.dialog);
    return out;
}

std::vector<uint8_t> FirstTemplate() {
    return rh::rescomp::BuildDialogTemplate(Definitions().at(0));
}

bool Read(const std::vector<uint8_t>& bytes, DialogTemplate* out) {
    return ReadDialogTemplate(bytes.data(), bytes.size(), out);
}

TEST(DialogTemplateTest, ReadsBackWhatTheResourceCompilerWrites) {
    for (const rh::rescomp::DialogDefinition& def : Definitions()) {
        SCOPED_TRACE(def.caption);
        DialogTemplate t;
        ASSERT_TRUE(Read(rh::rescomp::BuildDialogTemplate(def), &t));
        EXPECT_EQ(t.style, def.style);
        EXPECT_EQ(t.exStyle, def.exStyle);
        EXPECT_EQ(t.x, def.x);
        EXPECT_EQ(t.y, def.y);
        EXPECT_EQ(t.cx, def.cx);
        EXPECT_EQ(t.cy, def.cy);
        EXPECT_FALSE(t.menu.isOrdinal || !t.menu.text.empty());
        EXPECT_FALSE(t.windowClass.isOrdinal || !t.windowClass.text.empty());
        EXPECT_EQ(t.title, Wide(def.caption));
        EXPECT_EQ(t.hasFont, def.hasFont);
        EXPECT_EQ(t.pointSize, def.pointSize);
        EXPECT_EQ(t.faceName, Wide(def.fontName));
        ASSERT_EQ(t.items.size(), def.controls.size());
        for (size_t i = 0; i < t.items.size(); ++i) {
            const rh::rescomp::DialogControl& c = def.controls[i];
            const rh::win32::DialogItemTemplate& item = t.items[i];
            SCOPED_TRACE("control " + std::to_string(c.id));
            EXPECT_EQ(item.style, c.style);
            EXPECT_EQ(item.exStyle, c.exStyle);
            EXPECT_EQ(item.x, c.x);
            EXPECT_EQ(item.y, c.y);
            EXPECT_EQ(item.cx, c.cx);
            EXPECT_EQ(item.cy, c.cy);
            EXPECT_EQ(item.id, static_cast<uint16_t>(c.id));
            if (uint16_t atom = AtomOf(c.className)) {
                EXPECT_TRUE(item.windowClass.isOrdinal);
                EXPECT_EQ(item.windowClass.ordinal, atom);
            } else {
                EXPECT_FALSE(item.windowClass.isOrdinal);
                EXPECT_EQ(item.windowClass.text, Wide(c.className));
            }
            EXPECT_EQ(item.title.isOrdinal, c.textOrdinal.has_value());
            if (c.textOrdinal) {
                EXPECT_EQ(item.title.ordinal, *c.textOrdinal);
            }
            EXPECT_EQ(item.title.text, Wide(c.text));
            EXPECT_TRUE(item.creationData.empty());
        }
    }
}

TEST(DialogTemplateTest, EveryTruncationIsRefused) {
    std::vector<uint8_t> full = FirstTemplate();
    DialogTemplate t;
    ASSERT_TRUE(Read(full, &t));
    for (size_t length = 0; length < full.size(); ++length) {
        // An exact-size copy, so that reading one byte too far is caught by the sanitizer.
        std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<ptrdiff_t>(length));
        EXPECT_FALSE(Read(cut, &t)) << "length " << length << " of " << full.size();
    }
}

void PutWord(std::vector<uint8_t>* bytes, size_t at, uint16_t v) {
    (*bytes)[at] = static_cast<uint8_t>(v);
    (*bytes)[at + 1] = static_cast<uint8_t>(v >> 8);
}

TEST(DialogTemplateTest, DamagedFieldsAreRefused) {
    const std::vector<uint8_t> good = FirstTemplate();
    const size_t countAt = 8;                    // after style and extended style
    const size_t lastExtraAt = good.size() - 2;  // the last item's creation-data size
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>*)> damage;
    };
    const Case cases[] = {
        {"more items than present", [&](auto* b) { PutWord(b, countAt, 7); }},
        {"an extended template", [](auto* b) {
             PutWord(b, 0, 0x0001);
             PutWord(b, 2, 0xFFFF);
         }},
        {"creation data claiming one byte", [&](auto* b) { PutWord(b, lastExtraAt, 1); }},
        {"creation data past the end", [&](auto* b) { PutWord(b, lastExtraAt, 6); }},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good;
        c.damage(&bytes);
        DialogTemplate t;
        EXPECT_FALSE(Read(bytes, &t)) << c.what;
    }
}

TEST(DialogTemplateTest, ReadsFieldsTheCompilerNeverWrites) {
    // A menu and class by ordinal and name, a named item class, creation data (its size word
    // counts itself).
    std::vector<uint8_t> b;
    auto word = [&](uint16_t v) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto text = [&](const char* s) {
        for (; *s; ++s) word(static_cast<uint8_t>(*s));
        word(0);
    };
    word(0x0000), word(0x8000);  // WS_POPUP
    word(0), word(0);
    word(1);                     // one item
    word(1), word(2), word(30), word(40);
    word(0xFFFF), word(5);       // menu 5
    text("Cls");                 // class by name
    text("T");
    while (b.size() % 4) b.push_back(0);
    word(0x0000), word(0x5000);  // WS_CHILD | WS_VISIBLE
    word(0), word(0);
    word(3), word(4), word(50), word(60);
    word(77);
    text("Foo");
    word(0xFFFF), word(9);       // title ordinal 9
    word(4), word(0xBEEF);       // two bytes of creation data

    DialogTemplate t;
    ASSERT_TRUE(ReadDialogTemplate(b.data(), b.size(), &t));
    EXPECT_TRUE(t.menu.isOrdinal);
    EXPECT_EQ(t.menu.ordinal, 5);
    EXPECT_EQ(t.windowClass.text, u"Cls");
    EXPECT_EQ(t.title, u"T");
    EXPECT_FALSE(t.hasFont);
    ASSERT_EQ(t.items.size(), 1u);
    EXPECT_EQ(t.items[0].id, 77);
    EXPECT_EQ(t.items[0].windowClass.text, u"Foo");
    EXPECT_TRUE(t.items[0].title.isOrdinal);
    EXPECT_EQ(t.items[0].title.ordinal, 9);
    EXPECT_EQ(t.items[0].creationData, (std::vector<uint8_t>{0xEF, 0xBE}));
}

}  // namespace
