// Arbitrary text as a resource script for the resource compiler's parser (tools/rescomp). Every
// dialog it accepts is built into a template and read back with the dialog engine's reader
// (platform/win32/dialog_template): the reader must take the template whole and give back what
// the script said -- styles, coordinates and ids cut to the template's 16-bit fields, class
// atoms, ordinals, and the texts as UTF-16. Besides what ASan and UBSan see, a template that
// does not read back so, or a file resource whose path is not the script's folder and the name,
// aborts.

#include "platform/win32/dialog_template.h"
#include "tools/rescomp/dialog_template.h"
#include "tools/rescomp/rc_parser.h"

#include "fuzz/fuzz_input.h"

#include <cstdint>
#include <optional>
#include <string>

namespace {

using fuzz_input::Check;
using rh::win32::DialogItemTemplate;
using rh::win32::DialogTemplate;
using rh::win32::TemplateName;

// Strict UTF-8 to UTF-16: nullopt for a malformed, overlong or surrogate sequence, a code
// point past U+10FFFF, or a zero byte.
std::optional<std::u16string> Utf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int extra;
        uint32_t cp;
        uint32_t least;
        if (c == 0) return std::nullopt;
        if (c < 0x80) {
            extra = 0, cp = c, least = 0;
        } else if (c >= 0xC2 && c < 0xE0) {
            extra = 1, cp = c & 0x1F, least = 0x80;
        } else if (c >= 0xE0 && c < 0xF0) {
            extra = 2, cp = c & 0x0F, least = 0x800;
        } else if (c >= 0xF0 && c < 0xF5) {
            extra = 3, cp = c & 0x07, least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (s.size() - i - 1 < size_t(extra)) return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char t = static_cast<unsigned char>(s[i + size_t(k)]);
            if ((t & 0xC0) != 0x80) return std::nullopt;
            cp = cp << 6 | (t & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return std::nullopt;
        if (cp >= 0x10000) {
            out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += char16_t(cp);
        }
        i += size_t(extra) + 1;
    }
    return out;
}

// A template text field holding `text`: absent when empty.
void CheckText(const TemplateName& name, const std::string& text) {
    Check(!name.isOrdinal);
    const std::optional<std::u16string> expected = Utf16(text);
    Check(expected.has_value() && name.text == *expected);
}

void CheckDialog(const rh::rescomp::DialogDefinition& d) {
    const std::vector<uint8_t> bytes = rh::rescomp::BuildDialogTemplate(d);
    auto block = fuzz_input::ExactCopy(bytes.data(), bytes.size());
    DialogTemplate t;
    Check(rh::win32::ReadDialogTemplate(block.get(), bytes.size(), &t));
    Check(t.style == d.style && t.exStyle == d.exStyle);
    Check(t.x == int16_t(d.x) && t.y == int16_t(d.y) && t.cx == int16_t(d.cx) &&
          t.cy == int16_t(d.cy));
    Check(!t.menu.isOrdinal && t.menu.text.empty());
    Check(!t.windowClass.isOrdinal && t.windowClass.text.empty());
    const std::optional<std::u16string> caption = Utf16(d.caption);
    Check(caption.has_value() && t.title == *caption);
    Check(t.hasFont == ((d.style & 0x40) != 0));
    if (t.hasFont) {
        const std::optional<std::u16string> face = Utf16(d.fontName);
        Check(t.pointSize == d.pointSize && face.has_value() && t.faceName == *face);
    }
    Check(t.items.size() == d.controls.size());
    for (size_t i = 0; i < d.controls.size(); ++i) {
        const rh::rescomp::DialogControl& c = d.controls[i];
        const DialogItemTemplate& item = t.items[i];
        Check(item.style == c.style && item.exStyle == c.exStyle);
        Check(item.x == int16_t(c.x) && item.y == int16_t(c.y) && item.cx == int16_t(c.cx) &&
              item.cy == int16_t(c.cy) && item.id == uint16_t(c.id));
        if (item.windowClass.isOrdinal) {
            // Only the predefined classes are stored as atoms.
            Check(item.windowClass.ordinal >= 0x80 && item.windowClass.ordinal <= 0x85);
        } else {
            CheckText(item.windowClass, c.className);
        }
        if (c.textOrdinal) {
            Check(item.title.isOrdinal && item.title.ordinal == *c.textOrdinal);
        } else {
            CheckText(item.title, c.text);
        }
        Check(item.creationData.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const rh::rescomp::ParseResult result = rh::rescomp::ParseResourceScript(text, "/base");
    if (!result.error.empty()) {
        Check(result.error.compare(0, 5, "line ") == 0);
        return 0;
    }
    for (const rh::rescomp::ResourceDefinition& r : result.resources) {
        if (r.dialog) {
            Check(r.type.isInt && r.type.id == rh::rescomp::kTypeDialog);
            CheckDialog(*r.dialog);
        } else {
            Check(r.file.empty() || r.file[0] == '/' || r.file.compare(0, 6, "/base/") == 0);
        }
    }
    return 0;
}
