// String: owned or borrowed bytes, and the free functions on narrow text.

#include "core/text/string.h"

#include "core/text/text_local.h"
#include "core/text/wide_string.h"

#include <cassert>
#include <cstring>
#include <limits>
#include <utility>

using text_detail::CompareUnits;
using text_detail::TextEnd;

namespace {

constexpr int32_t kCText = std::numeric_limits<int32_t>::max();

// A new block holding `length` bytes of `bytes` and a terminator; null for length 0.
char* CopyBlock(const char* bytes, int32_t length) {
    if (length <= 0) return nullptr;
    char* block = new char[static_cast<size_t>(length) + 1];
    std::memcpy(block, bytes, static_cast<size_t>(length));
    block[length] = '\0';
    return block;
}

// A new block holding a's bytes then b's, terminated; null when both are empty.
char* JoinBlock(const char* a, int32_t aLength, const char* b, int32_t bLength) {
    const int32_t length = aLength + bLength;
    if (length <= 0) return nullptr;
    char* block = new char[static_cast<size_t>(length) + 1];
    if (aLength > 0) std::memcpy(block, a, static_cast<size_t>(aLength));
    if (bLength > 0) std::memcpy(block + aLength, b, static_cast<size_t>(bLength));
    block[length] = '\0';
    return block;
}

int32_t CTextLength(const char* text) {
    return text != nullptr ? static_cast<int32_t>(std::strlen(text)) : 0;
}

// The whole-text number read shared by the conversions.
text_detail::NumberRead ReadWhole(const String& s) {
    return text_detail::ReadNumber(s.data(), s.length());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and assignment

String::String(const String& other)
    : data_(CopyBlock(other.data_, other.length_)), length_(data_ ? other.length_ : 0) {}

String::String(String&& other) noexcept {
    if (other.borrowed_ != 0) {
        // A lent buffer is never handed on: the new string owns a copy.
        data_ = CopyBlock(other.data_, other.length_);
        length_ = data_ ? other.length_ : 0;
        return;
    }
    data_ = std::exchange(other.data_, nullptr);
    length_ = std::exchange(other.length_, 0);
}

String::String(const char* text) {
    const int32_t length = CTextLength(text);
    data_ = CopyBlock(text, length);
    length_ = length;
}

String::String(const char* buffer, int32_t length, bool copy) {
    assert(length >= 0);
    if (length < 0) length = 0;
    if (copy) {
        if (buffer == nullptr) return;
        data_ = CopyBlock(buffer, length);
        length_ = length;
        return;
    }
    if (buffer == nullptr) return;
    if (length == 0) {
        delete[] buffer;
        return;
    }
    data_ = const_cast<char*>(buffer);
    length_ = length;
}

String::String(char c) : data_(new char[2]{c, '\0'}), length_(1) {}

String::String(int32_t value, int radix) {
    char scratch[text_detail::kIntTextSize];
    const int32_t length = text_detail::FormatInt(value, radix, scratch);
    data_ = CopyBlock(scratch, length);
    length_ = length;
}

String::String(uint16_t value, int radix) : String(static_cast<int32_t>(value), radix) {}

String::String(double value, int digits) {
    char scratch[text_detail::kGeneralTextSize];
    const int32_t length = text_detail::FormatGeneral(value, digits, scratch);
    data_ = CopyBlock(scratch, length);
    length_ = length;
}

String::String(const WideString& wide) {
    if (wide.length() == 0) return;
    char* block = new char[static_cast<size_t>(wide.length()) + 1];
    const int32_t written = wide.EncodeTo(block, wide.length() + 1, 1);
    if (written == 0) {
        delete[] block;
        return;
    }
    data_ = block;
    length_ = written;
}

String::~String() { Clear(); }

String& String::operator=(const String& other) {
    Assign(other);
    return *this;
}

String& String::operator=(String&& other) noexcept {
    if (this == &other) return *this;
    if (other.borrowed_ != 0) {
        Assign(other);
        return *this;
    }
    char* data = std::exchange(other.data_, nullptr);
    TakeBlock(data, std::exchange(other.length_, 0));
    return *this;
}

String& String::operator=(const char* text) {
    AssignText(text);
    return *this;
}

void String::TakeBlock(char* block, int32_t length) {
    if (borrowed_ == 0) delete[] data_;
    data_ = block;
    length_ = block != nullptr ? length : 0;
    borrowed_ = 0;
}

void String::Clear() {
    if (borrowed_ == 0) delete[] data_;
    data_ = nullptr;
    length_ = 0;
}

void String::Assign(const String& other) {
    if (this == &other) return;
    TakeBlock(CopyBlock(other.data_, other.length_), other.length_);
}

void String::AssignText(const char* text) {
    // Copied before the old block goes: the text may lie inside it.
    const int32_t length = CTextLength(text);
    TakeBlock(CopyBlock(text, length), length);
}

void String::Append(const String& other) {
    if (length_ == 0 && other.length_ == 0) return;
    const int32_t length = length_ + other.length_;
    TakeBlock(JoinBlock(data_, length_, other.data_, other.length_), length);
}

void String::Borrow(const char* bytes, int32_t length) {
    assert(length >= 0 && (bytes != nullptr || length == 0));
    if (borrowed_ == 0) delete[] data_;
    data_ = const_cast<char*>(bytes);
    length_ = bytes != nullptr && length > 0 ? length : 0;
    borrowed_ = 1;
}

// ---------------------------------------------------------------------------------------------
// Access and searching

namespace {

// Handed out for indices outside the text. Reset on every use, so a caller that wrote through
// an earlier answer cannot leave a non-zero byte behind.
char scratchByte = '\0';

char* ScratchByte() {
    scratchByte = '\0';
    return &scratchByte;
}

// The first or last index at which needle's bytes occur in text's bytes, or -1.
int32_t FindBytes(const char* text, int32_t length, const char* needle, int32_t needleLength,
                  int flag) {
    if (length == 0 || needleLength > length) return -1;
    if (needleLength == 0) return flag == 0 ? 0 : length;
    const auto size = static_cast<size_t>(needleLength);
    if (flag == 0) {
        for (int32_t i = 0; i + needleLength <= length; ++i) {
            if (std::memcmp(text + i, needle, size) == 0) return i;
        }
    } else {
        for (int32_t i = length - needleLength; i >= 0; --i) {
            if (std::memcmp(text + i, needle, size) == 0) return i;
        }
    }
    return -1;
}

}  // namespace

char* String::At(int32_t index) {
    if (index >= 0 && index < length_) return data_ + index;
    assert(index == length_ && "String::At outside the text");
    if (index == length_ && borrowed_ == 0 && data_ != nullptr) return data_ + index;
    return ScratchByte();
}

const char* String::At(int32_t index) const { return const_cast<String*>(this)->At(index); }

int32_t String::Find(const String& needle, int flag) const {
    return FindBytes(data_, length_, needle.data_, needle.length_, flag);
}

int32_t String::FindNoCase(const String& needle, int flag) const {
    if (length_ == 0) return -1;
    return ToLowerCopy(*this).Find(ToLowerCopy(needle), flag);
}

String String::Mid(int32_t first, int32_t last) const {
    if (length_ == 0 || first > length_ - 1) return String();
    if (last == -1 || last > length_ - 1) last = length_ - 1;
    if (last < first) return String();
    if (first < 0) first = 0;
    if (last < first) return String();  // a last below -1 with a negative first
    return String(data_ + first, last - first + 1, true);
}

// ---------------------------------------------------------------------------------------------
// Numbers

bool String::ToInt(int32_t& out) const {
    out = 0;
    const text_detail::NumberRead read = ReadWhole(*this);
    if (!read.whole) return false;
    out = text_detail::DoubleToInt(read.value);
    return true;
}

bool String::ToFloat(float& out) const {
    out = 0.0f;
    const text_detail::NumberRead read = ReadWhole(*this);
    if (!read.whole) return false;
    out = text_detail::DoubleToFloat(read.value);
    return true;
}

bool String::ToDouble(double& out) const {
    const text_detail::NumberRead read = ReadWhole(*this);
    out = read.value;
    return read.whole;
}

bool IsNumber(String text) { return ReadWhole(text).whole; }

int32_t ClampInt(int32_t v, int32_t low, int32_t high) {
    const int32_t raised = v > low ? v : low;
    return raised < high ? raised : high;
}

// ---------------------------------------------------------------------------------------------
// Concatenation

String ConcatStrings(const String& a, const String& b) {
    String result;
    ConcatStringsInto(result, a, b);
    return result;
}

String ConcatStringText(const String& a, const char* b) {
    String result;
    ConcatStringTextInto(result, a, b);
    return result;
}

String ConcatTextString(const char* a, const String& b) {
    String result;
    ConcatTextStringInto(result, a, b);
    return result;
}

void ConcatStringsInto(String& target, const String& a, const String& b) {
    // Joined before the target changes: a or b may be the target.
    const int32_t length = a.length() + b.length();
    target = String(JoinBlock(a.data(), a.length(), b.data(), b.length()), length, false);
}

void ConcatStringTextInto(String& target, const String& a, const char* b) {
    const int32_t bLength = CTextLength(b);
    const int32_t length = a.length() + bLength;
    target = String(JoinBlock(a.data(), a.length(), b, bLength), length, false);
}

void ConcatTextStringInto(String& target, const char* a, const String& b) {
    const int32_t aLength = CTextLength(a);
    const int32_t length = aLength + b.length();
    target = String(JoinBlock(a, aLength, b.data(), b.length()), length, false);
}

// ---------------------------------------------------------------------------------------------
// Comparison

int CompareText(const char* a, const char* b) {
    // The C library's comparison orders by unsigned byte too, and is much quicker than a loop
    // through a unit fold; only its sign is kept.
    const int order = std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "");
    return (order > 0) - (order < 0);
}

int CompareStringText(const String& a, const char* b) {
    return CompareUnits(a.data(), a.length(), b, kCText, text_detail::ByteValue);
}

int CompareStrings(const String& a, const String& b) {
    return CompareUnits(a.data(), a.length(), b.data(), b.length(), text_detail::ByteValue);
}

bool StringsEqual(const String& a, const String& b) { return CompareStrings(a, b) == 0; }
bool StringEqualsText(const String& a, const char* b) { return CompareStringText(a, b) == 0; }
bool TextEqualsString(const char* a, const String& b) { return CompareStringText(b, a) == 0; }
bool StringLess(const String& a, const String& b) { return CompareStrings(a, b) < 0; }
bool StringGreater(const String& a, const String& b) { return CompareStrings(a, b) > 0; }

int CompareTextNoCase(const char* a, const char* b) {
    return CompareUnits(a, kCText, b, kCText, text_detail::LowerByte);
}

int CompareStringsNoCase(const String& a, const String& b) {
    return CompareUnits(a.data(), a.length(), b.data(), b.length(), text_detail::LowerByte);
}

// ---------------------------------------------------------------------------------------------
// Copies and pieces

String ToLowerCopy(const String& text) {
    String copy(text.data(), text.length(), true);
    for (int32_t i = 0; i < copy.length(); ++i) {
        char* c = copy.At(i);
        *c = static_cast<char>(text_detail::LowerByte(static_cast<unsigned char>(*c)));
    }
    return copy;
}

String Trim(const String& text) {
    const char* bytes = text.data();
    int32_t first = 0;
    int32_t end = text.length();
    while (first < end && (bytes[first] == ' ' || bytes[first] == '\t')) ++first;
    while (end > first && (bytes[end - 1] == ' ' || bytes[end - 1] == '\t')) --end;
    return String(bytes + first, end - first, true);
}

String TrimLeft(const String& text, char byte) {
    int32_t first = 0;
    while (first < text.length() && text.data()[first] == byte) ++first;
    return String(text.data() + first, text.length() - first, true);
}

String TrimRight(const String& text, char byte) {
    // The walk stops before the first byte, so a text made only of `byte` keeps one of them.
    int32_t end = text.length();
    while (end > 1 && text.data()[end - 1] == byte) --end;
    return String(text.data(), end, true);
}

void Split(const String& text, const String& separator, DynArray<String>& out) {
    const char* bytes = text.data();
    const int32_t length = text.length();
    const int32_t sepLength = separator.length();
    int32_t piece = 0;
    int32_t start = 0;
    if (sepLength > 0) {
        for (int32_t i = 0; i + sepLength <= length;) {
            if (std::memcmp(bytes + i, separator.data(), static_cast<size_t>(sepLength)) == 0) {
                out.At(piece++) = String(bytes + start, i - start, true);
                i += sepLength;
                start = i;
            } else {
                ++i;
            }
        }
    }
    out.At(piece) = start < length ? String(bytes + start, length - start, true) : String();
}
