#include "tools/rescomp/dialog_template.h"

#include <map>
#include <string>

namespace rh::rescomp {
namespace {

class Writer {
public:
    void Word(uint16_t v) {
        bytes_.push_back(static_cast<uint8_t>(v));
        bytes_.push_back(static_cast<uint8_t>(v >> 8));
    }
    void Dword(uint32_t v) {
        Word(static_cast<uint16_t>(v));
        Word(static_cast<uint16_t>(v >> 16));
    }
    void Short(int v) { Word(static_cast<uint16_t>(static_cast<int16_t>(v))); }
    void AlignDword() {
        while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    }
    // UTF-8 in, zero-terminated UTF-16 LE out.
    void Text(const std::string& s) {
        for (size_t i = 0; i < s.size();) {
            uint32_t cp;
            unsigned char c = static_cast<unsigned char>(s[i]);
            int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
            cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
            ++i;
            for (int k = 0; k < extra && i < s.size(); ++k, ++i) {
                cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
            }
            if (cp >= 0x10000) {
                cp -= 0x10000;
                Word(static_cast<uint16_t>(0xD800 + (cp >> 10)));
                Word(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
            } else {
                Word(static_cast<uint16_t>(cp));
            }
        }
        Word(0);
    }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

// The predefined window classes have atoms that the template stores instead of their names.
int ClassAtom(const std::string& className) {
    static const std::map<std::string, int> kAtoms = {
        {"BUTTON", 0x80}, {"EDIT", 0x81}, {"STATIC", 0x82},
        {"LISTBOX", 0x83}, {"SCROLLBAR", 0x84}, {"COMBOBOX", 0x85},
    };
    std::string upper;
    for (char c : className) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    auto it = kAtoms.find(upper);
    return it == kAtoms.end() ? 0 : it->second;
}

}  // namespace

std::vector<uint8_t> BuildDialogTemplate(const DialogDefinition& d) {
    Writer w;
    w.Dword(d.style);
    w.Dword(d.exStyle);
    w.Word(static_cast<uint16_t>(d.controls.size()));
    w.Short(d.x);
    w.Short(d.y);
    w.Short(d.cx);
    w.Short(d.cy);
    w.Word(0);  // no menu
    w.Word(0);  // the standard dialog class
    w.Text(d.caption);
    if (d.style & 0x40u) {  // DS_SETFONT
        w.Word(d.pointSize);
        w.Text(d.fontName);
    }
    for (const DialogControl& c : d.controls) {
        w.AlignDword();
        w.Dword(c.style);
        w.Dword(c.exStyle);
        w.Short(c.x);
        w.Short(c.y);
        w.Short(c.cx);
        w.Short(c.cy);
        w.Word(static_cast<uint16_t>(c.id));
        if (int atom = ClassAtom(c.className)) {
            w.Word(0xFFFF);
            w.Word(static_cast<uint16_t>(atom));
        } else {
            w.Text(c.className);
        }
        if (c.textOrdinal) {
            w.Word(0xFFFF);
            w.Word(*c.textOrdinal);
        } else {
            w.Text(c.text);
        }
        w.Word(0);  // no creation data
    }
    return w.Take();
}

}  // namespace rh::rescomp
