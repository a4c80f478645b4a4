// Reader of dialog templates in the binary layout of RT_DIALOG resources: a DLGTEMPLATE
// header, then one DLGITEMTEMPLATE per control, each starting on a DWORD boundary. Texts are
// zero-terminated UTF-16 LE; a class or title may instead be 0xFFFF and an ordinal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rh::win32 {

// A field that is absent (0x0000), an ordinal (0xFFFF, n) or a text.
struct TemplateName {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::u16string text;  // empty and not an ordinal: absent
};

struct DialogItemTemplate {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;  // dialog units, relative to the client area
    uint16_t id = 0;
    TemplateName windowClass;  // the predefined classes by atom: 0x80 Button, 0x82 Static, ...
    TemplateName title;        // a bitmap static names its bitmap resource by ordinal
    std::vector<uint8_t> creationData;
};

struct DialogTemplate {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    TemplateName menu;
    TemplateName windowClass;
    std::u16string title;
    bool hasFont = false;  // DS_SETFONT: pointSize and faceName are set
    uint16_t pointSize = 0;
    std::u16string faceName;
    std::vector<DialogItemTemplate> items;
};

// Predefined class atoms the templates use.
constexpr uint16_t kButtonAtom = 0x80;
constexpr uint16_t kEditAtom = 0x81;
constexpr uint16_t kStaticAtom = 0x82;
constexpr uint16_t kListBoxAtom = 0x83;
constexpr uint16_t kScrollBarAtom = 0x84;
constexpr uint16_t kComboBoxAtom = 0x85;

// Reads the template in data[0, size). False, with *out unspecified, when the bytes are not a
// complete classic template (extended DLGTEMPLATEEX templates included); never reads outside
// the given range. Offsets are aligned relative to data, as the resource starts aligned.
bool ReadDialogTemplate(const void* data, size_t size, DialogTemplate* out);

}  // namespace rh::win32
