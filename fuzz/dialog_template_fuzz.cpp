// Arbitrary bytes as a dialog template (RT_DIALOG resource data) for the dialog engine's
// reader. A template it accepts is written out again in the same layout and must read back to
// the same fields; that written template, cut short by one byte or more, must be refused.
// Besides what ASan and UBSan see, a difference or a cut template that reads aborts.

#include "platform/win32/dialog_template.h"

#include "fuzz/fuzz_input.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using fuzz_input::Check;
using rh::win32::DialogItemTemplate;
using rh::win32::DialogTemplate;
using rh::win32::TemplateName;

class Writer {
public:
    void Word(uint16_t v) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
    }
    void Dword(uint32_t v) {
        Word(uint16_t(v));
        Word(uint16_t(v >> 16));
    }
    void Text(const std::u16string& text) {
        for (char16_t c : text) Word(c);
        Word(0);
    }
    void Name(const TemplateName& name) {
        if (name.isOrdinal) {
            Word(0xFFFF);
            Word(name.ordinal);
        } else {
            Text(name.text);  // an absent name is the empty text: one zero word
        }
    }
    void Align() {
        while (bytes.size() % 4 != 0) bytes.push_back(0);
    }

    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Write(const DialogTemplate& t) {
    Writer w;
    w.Dword(t.style);
    w.Dword(t.exStyle);
    w.Word(uint16_t(t.items.size()));
    for (int16_t v : {t.x, t.y, t.cx, t.cy}) w.Word(uint16_t(v));
    w.Name(t.menu);
    w.Name(t.windowClass);
    w.Text(t.title);
    if (t.hasFont) {
        w.Word(t.pointSize);
        w.Text(t.faceName);
    }
    for (const DialogItemTemplate& item : t.items) {
        w.Align();
        w.Dword(item.style);
        w.Dword(item.exStyle);
        for (int16_t v : {item.x, item.y, item.cx, item.cy}) w.Word(uint16_t(v));
        w.Word(item.id);
        w.Name(item.windowClass);
        w.Name(item.title);
        if (item.creationData.empty()) {
            w.Word(0);
        } else {
            w.Word(uint16_t(item.creationData.size() + 2));
            w.bytes.insert(w.bytes.end(), item.creationData.begin(), item.creationData.end());
        }
    }
    return w.bytes;
}

bool SameName(const TemplateName& a, const TemplateName& b) {
    return a.isOrdinal == b.isOrdinal && (a.isOrdinal ? a.ordinal == b.ordinal : a.text == b.text);
}

bool Same(const DialogTemplate& a, const DialogTemplate& b) {
    if (a.style != b.style || a.exStyle != b.exStyle || a.x != b.x || a.y != b.y ||
        a.cx != b.cx || a.cy != b.cy || !SameName(a.menu, b.menu) ||
        !SameName(a.windowClass, b.windowClass) || a.title != b.title ||
        a.hasFont != b.hasFont || a.pointSize != b.pointSize || a.faceName != b.faceName ||
        a.items.size() != b.items.size()) {
        return false;
    }
    for (size_t i = 0; i < a.items.size(); ++i) {
        const DialogItemTemplate& p = a.items[i];
        const DialogItemTemplate& q = b.items[i];
        if (p.style != q.style || p.exStyle != q.exStyle || p.x != q.x || p.y != q.y ||
            p.cx != q.cx || p.cy != q.cy || p.id != q.id ||
            !SameName(p.windowClass, q.windowClass) || !SameName(p.title, q.title) ||
            p.creationData != q.creationData) {
            return false;
        }
    }
    return true;
}

bool Read(const std::vector<uint8_t>& bytes, size_t size, DialogTemplate* out) {
    auto block = fuzz_input::ExactCopy(bytes.data(), size);
    return rh::win32::ReadDialogTemplate(block.get(), size, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    auto block = fuzz_input::ExactCopy(data, size);
    DialogTemplate t;
    if (!rh::win32::ReadDialogTemplate(block.get(), size, &t)) return 0;
    DialogTemplate unused;
    Check(!rh::win32::ReadDialogTemplate(nullptr, size, &unused));

    // Written out again (alignment padding as zeros), it reads back the same, and only whole.
    const std::vector<uint8_t> written = Write(t);
    DialogTemplate again;
    Check(Read(written, written.size(), &again) && Same(t, again));
    Check(!Read(written, written.size() - 1, &again));
    if (written.size() > 1) {
        const size_t cut = block[0] % (written.size() - 1);
        Check(!Read(written, cut, &again));
    }
    return 0;
}
