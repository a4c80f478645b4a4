// Dialog templates are resource data, so every field is bounds-checked: a damaged template is
// refused, never trusted.

#include "platform/win32/dialog_template.h"

#include <utility>

namespace rh::win32 {
namespace {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Word(uint16_t* v) {
        if (pos_ > size_ || size_ - pos_ < 2) return false;
        *v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool Dword(uint32_t* v) {
        uint16_t lo, hi;
        if (!Word(&lo) || !Word(&hi)) return false;
        *v = lo | (static_cast<uint32_t>(hi) << 16);
        return true;
    }
    bool Short(int16_t* v) {
        uint16_t w;
        if (!Word(&w)) return false;
        *v = static_cast<int16_t>(w);
        return true;
    }
    // A zero-terminated UTF-16 text; fails when the terminator is missing.
    bool Text(std::u16string* out) {
        out->clear();
        for (;;) {
            uint16_t c;
            if (!Word(&c)) return false;
            if (c == 0) return true;
            out->push_back(static_cast<char16_t>(c));
        }
    }
    // 0x0000 (absent), 0xFFFF and an ordinal, or a text starting with this word.
    bool Name(TemplateName* out) {
        *out = TemplateName{};
        uint16_t first;
        if (!Word(&first)) return false;
        if (first == 0) return true;
        if (first == 0xFFFF) {
            out->isOrdinal = true;
            return Word(&out->ordinal);
        }
        out->text.push_back(static_cast<char16_t>(first));
        std::u16string rest;
        if (!Text(&rest)) return false;
        out->text += rest;
        return true;
    }
    bool Bytes(size_t n, std::vector<uint8_t>* out) {
        if (pos_ > size_ || size_ - pos_ < n) return false;
        out->assign(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return true;
    }
    bool AlignDword() {
        size_t aligned = (pos_ + 3) & ~size_t(3);
        if (aligned > size_) return false;
        pos_ = aligned;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

constexpr uint32_t kSetFont = 0x40;  // DS_SETFONT

bool ReadItem(Reader* r, DialogItemTemplate* item) {
    if (!r->AlignDword() || !r->Dword(&item->style) || !r->Dword(&item->exStyle) ||
        !r->Short(&item->x) || !r->Short(&item->y) || !r->Short(&item->cx) ||
        !r->Short(&item->cy) || !r->Word(&item->id) || !r->Name(&item->windowClass) ||
        !r->Name(&item->title)) {
        return false;
    }
    // The creation-data word counts itself, so a non-zero size below 2 is damage.
    uint16_t extra;
    if (!r->Word(&extra)) return false;
    if (extra == 0) return true;
    if (extra < 2) return false;
    return r->Bytes(extra - 2u, &item->creationData);
}

}  // namespace

bool ReadDialogTemplate(const void* data, size_t size, DialogTemplate* out) {
    if (data == nullptr || out == nullptr) return false;
    *out = DialogTemplate{};
    Reader r(static_cast<const uint8_t*>(data), size);
    uint16_t count;
    if (!r.Dword(&out->style) || !r.Dword(&out->exStyle)) return false;
    // An extended template starts with version 1 and signature 0xFFFF where the style is.
    if (out->style == 0xFFFF0001u) return false;
    if (!r.Word(&count) || !r.Short(&out->x) || !r.Short(&out->y) || !r.Short(&out->cx) ||
        !r.Short(&out->cy) || !r.Name(&out->menu) || !r.Name(&out->windowClass) ||
        !r.Text(&out->title)) {
        return false;
    }
    if (out->style & kSetFont) {
        out->hasFont = true;
        if (!r.Word(&out->pointSize) || !r.Text(&out->faceName)) return false;
    }
    // Items are added as they are read: the count is the template's word, and a damaged one
    // must not make room for 65535 items that two bytes claimed.
    for (uint16_t i = 0; i < count; ++i) {
        DialogItemTemplate item;
        if (!ReadItem(&r, &item)) return false;
        out->items.push_back(std::move(item));
    }
    return true;
}

}  // namespace rh::win32
