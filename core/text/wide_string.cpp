// WideString and the free functions on wide text.

#include "core/text/wide_string.h"

#include "core/text/codecs.h"
#include "core/text/string.h"
#include "core/text/text_local.h"

#include <cassert>
#include <cstring>
#include <limits>
#include <utility>

using text_detail::CompareUnits;
using text_detail::TextEnd;

namespace {

constexpr int32_t kCText = std::numeric_limits<int32_t>::max();

int32_t WideTextLength(const char16_t* text) { return TextEnd(text, kCText); }

// A new block of a's units then b's, terminated; null when both are empty.
char16_t* JoinBlock(const char16_t* a, int32_t aLength, const char16_t* b, int32_t bLength) {
    const int32_t length = aLength + bLength;
    if (length <= 0) return nullptr;
    auto* block = new char16_t[static_cast<size_t>(length) + 1];
    if (aLength > 0) std::memcpy(block, a, sizeof(char16_t) * static_cast<size_t>(aLength));
    if (bLength > 0) {
        std::memcpy(block + aLength, b, sizeof(char16_t) * static_cast<size_t>(bLength));
    }
    block[length] = 0;
    return block;
}

char16_t* CopyBlock(const char16_t* units, int32_t length) {
    return JoinBlock(units, length, nullptr, 0);
}

// Handed out for indices outside the text; reset on every use.
char16_t scratchUnit = 0;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and assignment

WideString::WideString(const WideString& other)
    : data_(CopyBlock(other.data_, other.length_)), length_(other.length_) {}

WideString::WideString(WideString&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), length_(std::exchange(other.length_, 0)) {}

WideString::WideString(const char16_t* text) {
    length_ = WideTextLength(text);
    data_ = CopyBlock(text, length_);
}

WideString::WideString(const char16_t* buffer, int32_t length, bool copy) {
    assert(length >= 0);
    if (length < 0) length = 0;
    if (copy) {
        if (buffer == nullptr) return;
        data_ = CopyBlock(buffer, length);
        length_ = data_ != nullptr ? length : 0;
        return;
    }
    if (buffer == nullptr) return;
    if (length == 0) {
        delete[] buffer;
        return;
    }
    data_ = const_cast<char16_t*>(buffer);
    length_ = length;
}

WideString::WideString(char16_t c) : data_(new char16_t[2]{c, 0}), length_(1) {}

WideString::WideString(char c)
    : WideString(static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(c)))) {}

WideString::WideString(const char* text) { AssignNarrow(text); }

WideString::WideString(const String& text) { DecodeFrom(text.data(), text.length(), 1); }

WideString::WideString(int32_t value, int radix) {
    const String text(value, radix);
    DecodeFrom(text.data(), text.length(), kEncodingCodePage);
}

WideString::WideString(double value, int digits) {
    const String text(value, digits);
    DecodeFrom(text.data(), text.length(), kEncodingCodePage);
}

WideString::~WideString() { Clear(); }

WideString& WideString::operator=(const WideString& other) {
    Assign(other);
    return *this;
}

WideString& WideString::operator=(WideString&& other) noexcept {
    if (this == &other) return *this;
    char16_t* data = std::exchange(other.data_, nullptr);
    TakeBlock(data, std::exchange(other.length_, 0));
    return *this;
}

void WideString::TakeBlock(char16_t* block, int32_t length) {
    delete[] data_;
    data_ = block;
    length_ = block != nullptr ? length : 0;
}

void WideString::Clear() { TakeBlock(nullptr, 0); }

void WideString::Assign(const WideString& other) {
    if (this == &other) return;
    TakeBlock(CopyBlock(other.data_, other.length_), other.length_);
}

void WideString::AssignNarrow(const char* text) {
    const int32_t length = text != nullptr ? static_cast<int32_t>(std::strlen(text)) : 0;
    DecodeFrom(text, length, kEncodingCodePage);
}

void WideString::Append(const WideString& other) {
    if (length_ == 0 && other.length_ == 0) return;
    const int32_t length = length_ + other.length_;
    TakeBlock(JoinBlock(data_, length_, other.data_, other.length_), length);
}

// ---------------------------------------------------------------------------------------------
// Access, searching, numbers

char16_t* WideString::At(int32_t index) {
    if (index >= 0 && index < length_) return data_ + index;
    assert(index == length_ && "WideString::At outside the text");
    if (index == length_ && data_ != nullptr) return data_ + index;
    scratchUnit = 0;
    return &scratchUnit;
}

const char16_t* WideString::At(int32_t index) const {
    return const_cast<WideString*>(this)->At(index);
}

int32_t WideString::Find(const WideString& needle, int flag) const {
    const int32_t n = needle.length_;
    if (length_ == 0 || n > length_) return -1;
    if (n == 0) return flag == 0 ? 0 : length_;
    const size_t size = sizeof(char16_t) * static_cast<size_t>(n);
    if (flag == 0) {
        for (int32_t i = 0; i + n <= length_; ++i) {
            if (std::memcmp(data_ + i, needle.data_, size) == 0) return i;
        }
    } else {
        for (int32_t i = length_ - n; i >= 0; --i) {
            if (std::memcmp(data_ + i, needle.data_, size) == 0) return i;
        }
    }
    return -1;
}

WideString WideString::Mid(int32_t first, int32_t last) const {
    if (length_ == 0 || first > length_ - 1) return WideString();
    if (last == -1 || last > length_ - 1) last = length_ - 1;
    if (last < first) return WideString();
    if (first < 0) first = 0;
    if (last < first) return WideString();  // a last below -1 with a negative first
    return WideString(data_ + first, last - first + 1, true);
}

bool WideString::ToInt(int32_t& out) const {
    out = 0;
    const text_detail::NumberRead read = text_detail::ReadNumber(data_, length_);
    if (!read.whole) return false;
    out = text_detail::DoubleToInt(read.value);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Encoding and decoding

int32_t WideString::EncodeTo(void* buffer, int32_t capacity, int encoding) const {
    auto* out = static_cast<uint8_t*>(buffer);
    if (out == nullptr || capacity <= 0) return 0;
    int32_t count = 0;
    for (int32_t i = 0; i < length_; ++i) {
        uint8_t scratch[8];
        int32_t written = 0;
        if (!EncodeChar(scratch, scratch + sizeof scratch, written, data_[i], encoding)) continue;
        if (written > capacity - count) break;
        std::memcpy(out + count, scratch, static_cast<size_t>(written));
        count += written;
    }
    out[count < capacity ? count : capacity - 1] = 0;
    return count;
}

void WideString::DecodeFrom(const void* bytes, int32_t count, int encoding) {
    const auto* in = static_cast<const uint8_t*>(bytes);
    if (in == nullptr || count <= 0) {
        Clear();
        return;
    }
    // Decoded into a new block before the old one goes: the bytes may lie inside it.
    auto* block = new char16_t[static_cast<size_t>(count) + 1];
    int32_t length = 0;
    int32_t position = 0;
    while (position < count) {
        int32_t consumed = 0;
        uint32_t codePoint = 0;
        const bool decoded = DecodeChar(in + position, in + count, consumed, codePoint, encoding);
        if (consumed <= 0) break;
        position += consumed;
        if (!decoded) continue;
        if (codePoint == 0) break;
        block[length++] = static_cast<char16_t>(codePoint);
    }
    block[length] = 0;
    if (length == 0) {
        delete[] block;
        block = nullptr;
    }
    TakeBlock(block, length);
}

WideString WideStringInsert(const WideString& source, int32_t position,
                            const WideString& inserted) {
    assert(position >= -1 && "WideStringInsert position below -1");
    if (position < 0 || position > source.length()) position = source.length();
    WideString result(source.data(), position, true);
    result.Append(inserted);
    result.Append(WideString(source.data() + position, source.length() - position, true));
    return result;
}

// ---------------------------------------------------------------------------------------------
// Concatenation and comparison

WideString ConcatWideStrings(const WideString& a, const WideString& b) {
    WideString result;
    ConcatWideStringsInto(result, a, b);
    return result;
}

WideString ConcatWideStringText(const WideString& a, const char16_t* b) {
    WideString result;
    ConcatWideStringTextInto(result, a, b);
    return result;
}

WideString ConcatTextWideString(const char16_t* a, const WideString& b) {
    WideString result;
    ConcatTextWideStringInto(result, a, b);
    return result;
}

void ConcatWideStringsInto(WideString& target, const WideString& a, const WideString& b) {
    const int32_t length = a.length() + b.length();
    target = WideString(JoinBlock(a.data(), a.length(), b.data(), b.length()), length, false);
}

void ConcatWideStringTextInto(WideString& target, const WideString& a, const char16_t* b) {
    const int32_t bLength = WideTextLength(b);
    const int32_t length = a.length() + bLength;
    target = WideString(JoinBlock(a.data(), a.length(), b, bLength), length, false);
}

void ConcatTextWideStringInto(WideString& target, const char16_t* a, const WideString& b) {
    const int32_t aLength = WideTextLength(a);
    const int32_t length = aLength + b.length();
    target = WideString(JoinBlock(a, aLength, b.data(), b.length()), length, false);
}

int CompareWideText(const char16_t* a, const char16_t* b) {
    return CompareUnits(a, kCText, b, kCText, text_detail::WideUnitValue);
}

int CompareWideStrings(const WideString& a, const WideString& b) {
    return CompareUnits(a.data(), a.length(), b.data(), b.length(), text_detail::WideUnitValue);
}

int CompareWideStringText(const WideString& a, const char16_t* b) {
    return CompareUnits(a.data(), a.length(), b, kCText, text_detail::WideUnitValue);
}

bool WideStringsEqual(const WideString& a, const WideString& b) {
    return CompareWideStrings(a, b) == 0;
}

bool WideStringEqualsText(const WideString& a, const char16_t* b) {
    return CompareWideStringText(a, b) == 0;
}

int CompareWideTextN(const char16_t* a, const char16_t* b, int32_t n) {
    if (n <= 0) return 0;
    return CompareUnits(a, n, b, n, text_detail::WideUnitValue);
}

bool IsBlankChar(char16_t c) { return c == 32 || c == 9; }

bool IsLineFeed(char16_t c) { return c == 10; }
