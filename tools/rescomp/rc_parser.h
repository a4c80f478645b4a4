// Reader of the resource script: a subset of the Windows resource-script language.
//
//   227 MemFile "media.rar"              a file resource of a named type
//   1053 BITMAP "preview.bmp"            a file resource of a standard type (BITMAP, RCDATA)
//   107 DIALOG 0, 0, 275, 73             a dialog template in dialog units
//   STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
//   CAPTION "Error"
//   FONT 8, "MS Shell Dlg"
//   BEGIN
//       LTEXT "Text", -1, 7, 7, 261, 30
//       DEFPUSHBUTTON "OK", IDOK, 7, 52, 80, 14
//       CONTROL "", 1046, "msctls_trackbar32", TBS_NOTICKS | WS_TABSTOP, 7, 7, 100, 15
//   END
//
// Comments (// and /* */) and preprocessor lines (#...) are skipped. Style expressions are
// names and numbers joined with |, a name prefixed by NOT removes its bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rh::rescomp {

// A resource name or type: an integer or an upper-case text.
struct ResName {
    bool isInt = true;
    uint16_t id = 0;
    std::string text;
};

struct DialogControl {
    std::string text;         // UTF-8; empty when textOrdinal is set
    std::optional<uint16_t> textOrdinal;  // e.g. the bitmap resource of an SS_BITMAP static
    int id = 0;
    std::string className;    // "Button", "Static", "ComboBox", "msctls_trackbar32", ...
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogDefinition {
    int x = 0, y = 0, cx = 0, cy = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    std::string caption;
    bool hasFont = false;
    uint16_t pointSize = 0;
    std::string fontName;
    std::vector<DialogControl> controls;
};

struct ResourceDefinition {
    ResName type;
    ResName name;
    std::string file;  // a file resource: its path, resolved against the script's folder
    std::optional<DialogDefinition> dialog;
    int line = 0;
};

struct ParseResult {
    std::vector<ResourceDefinition> resources;
    std::string error;  // empty on success; else "line N: what is wrong"
};

// Standard resource types by number.
constexpr uint16_t kTypeBitmap = 2;
constexpr uint16_t kTypeDialog = 5;
constexpr uint16_t kTypeRcData = 10;

ParseResult ParseResourceScript(const std::string& text, const std::string& baseDir);

// The numeric value of a style or control-id name the scripts may use, if known.
std::optional<int64_t> LookUpSymbol(const std::string& name);

}  // namespace rh::rescomp
