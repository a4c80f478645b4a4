#include "render/vertex_format.h"

#include "render/format_facts.h"

#include <d3dx9mesh.h>

#include <cstring>

namespace {

constexpr D3DVERTEXELEMENT9 kEndMarker = D3DDECL_END();
constexpr int32_t kMaxUsedElements = kMaxVertexElements - 1;

bool IsEndMarker(const D3DVERTEXELEMENT9& element) {
    // The whole record counts, as Direct3D compares it.
    return std::memcmp(&element, &kEndMarker, sizeof(element)) == 0;
}

// The record as stored in files: stream and offset as little-endian words, then the bytes.
void ElementBytes(const D3DVERTEXELEMENT9& element, uint8_t out[8]) {
    out[0] = static_cast<uint8_t>(element.Stream & 0xFF);
    out[1] = static_cast<uint8_t>(element.Stream >> 8);
    out[2] = static_cast<uint8_t>(element.Offset & 0xFF);
    out[3] = static_cast<uint8_t>(element.Offset >> 8);
    out[4] = element.Type;
    out[5] = element.Method;
    out[6] = element.Usage;
    out[7] = element.UsageIndex;
}

bool SameElement(const D3DVERTEXELEMENT9& a, const D3DVERTEXELEMENT9& b) {
    return a.Stream == b.Stream && a.Offset == b.Offset && a.Type == b.Type &&
           a.Method == b.Method && a.Usage == b.Usage && a.UsageIndex == b.UsageIndex;
}

}  // namespace

VertexFormat::VertexFormat()
    : elementCount_(0), elements_(), streamCount_(0), strides_(), totalStride_(0) {}

VertexFormat::VertexFormat(const VertexFormat& other) : VertexFormat() { Assign(other); }

VertexFormat& VertexFormat::operator=(const VertexFormat& other) {
    Assign(other);
    return *this;
}

void VertexFormat::Assign(const VertexFormat& other) {
    if (this == &other) return;
    // Everything is copied (the unused records and strides are zero in both anyway), so that
    // the copy satisfies the same invariant as the source.
    std::memcpy(elements_, other.elements_, sizeof(elements_));
    std::memcpy(strides_, other.strides_, sizeof(strides_));
    elementCount_ = other.elementCount_;
    streamCount_ = other.streamCount_;
    totalStride_ = other.totalStride_;
}

void VertexFormat::SetFromElements(const D3DVERTEXELEMENT9* elements) {
    std::memset(elements_, 0, sizeof(elements_));
    int32_t count = 0;
    if (elements != nullptr) {
        while (count < kMaxUsedElements && !IsEndMarker(elements[count])) {
            elements_[count] = elements[count];
            ++count;
        }
    }
    elements_[count] = kEndMarker;
    ComputeStrides();
}

bool VertexFormat::SetFromFVF(DWORD fvf) {
    D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
    if (D3DXDeclaratorFromFVF(fvf, declaration) != D3D_OK) {
        SetFromElements(nullptr);
        return false;
    }
    SetFromElements(declaration);
    return true;
}

int32_t VertexFormat::AddElement(BYTE type, BYTE method, BYTE usage, BYTE usageIndex) {
    const int32_t existing = FindElementExact(type, method, usage, usageIndex);
    if (existing >= 0) return existing;
    if (elementCount_ >= kMaxUsedElements) return kAddElementFull;

    D3DVERTEXELEMENT9 element = {0, 0, type, method, usage, usageIndex};
    if (elementCount_ > 0) {
        const D3DVERTEXELEMENT9& last = elements_[elementCount_ - 1];
        element.Stream = last.Stream;
        element.Offset = static_cast<WORD>(last.Offset + DeclTypeSize(last.Type));
    }
    elements_[elementCount_] = element;
    elements_[elementCount_ + 1] = kEndMarker;
    ComputeStrides();
    return -1;
}

int32_t VertexFormat::FindElement(BYTE usage, BYTE usageIndex) const {
    for (int32_t i = 0; i < elementCount_; ++i) {
        if (elements_[i].Usage == usage && elements_[i].UsageIndex == usageIndex) return i;
    }
    return -1;
}

int32_t VertexFormat::FindElementExact(BYTE type, BYTE method, BYTE usage, BYTE usageIndex) const {
    for (int32_t i = 0; i < elementCount_; ++i) {
        const D3DVERTEXELEMENT9& e = elements_[i];
        if (e.Type == type && e.Method == method && e.Usage == usage && e.UsageIndex == usageIndex)
            return i;
    }
    return -1;
}

int32_t VertexFormat::FindPackedElement(uint32_t packed) const {
    return FindElementExact(static_cast<BYTE>(packed), static_cast<BYTE>(packed >> 8),
                            static_cast<BYTE>(packed >> 16), static_cast<BYTE>(packed >> 24));
}

bool VertexFormat::Equals(const VertexFormat& other) const {
    if (elementCount_ != other.elementCount_) return false;
    for (int32_t i = 0; i < elementCount_; ++i) {
        if (!SameElement(elements_[i], other.elements_[i])) return false;
    }
    return true;
}

int32_t VertexFormat::Compare(const VertexFormat& other) const {
    if (elementCount_ != other.elementCount_) return elementCount_ < other.elementCount_ ? -1 : 1;
    for (int32_t i = 0; i < elementCount_; ++i) {
        uint8_t a[8];
        uint8_t b[8];
        ElementBytes(elements_[i], a);
        ElementBytes(other.elements_[i], b);
        const int c = std::memcmp(a, b, sizeof(a));
        if (c != 0) return c < 0 ? -1 : 1;
    }
    return 0;
}

VertexFormat VertexFormat::ExtractStream(int32_t stream, int32_t newStream) const {
    VertexFormat result;
    int32_t count = 0;
    for (int32_t i = 0; i < elementCount_; ++i) {
        if (elements_[i].Stream == stream) result.elements_[count++] = elements_[i];
    }
    result.elements_[count] = kEndMarker;
    result.ComputeStrides();
    if (newStream != -1) {
        // Only the elements are renumbered: callers keep the stream's stride separately.
        for (int32_t i = 0; i < count; ++i)
            result.elements_[i].Stream = static_cast<WORD>(newStream);
    }
    return result;
}

DWORD VertexFormat::StreamFVF(int32_t stream) const {
    const VertexFormat part = ExtractStream(stream, -1);
    DWORD fvf = 0;
    if (D3DXFVFFromDeclarator(part.elements_, &fvf) != D3D_OK) return 0;
    return fvf;
}

void VertexFormat::ComputeStrides() {
    streamCount_ = 0;
    totalStride_ = 0;
    std::memset(strides_, 0, sizeof(strides_));
    int32_t count = 0;
    int32_t highestStream = 0;
    while (count < kMaxUsedElements && !IsEndMarker(elements_[count])) {
        const D3DVERTEXELEMENT9& e = elements_[count];
        // Stream numbers past the device's 8 come only from damaged data; they count for
        // nothing rather than writing outside the stride table.
        if (e.Stream < kMaxVertexStreams) {
            if (e.Stream > highestStream) highestStream = e.Stream;
            const int32_t end = e.Offset + DeclTypeSize(e.Type);
            if (end > strides_[e.Stream]) strides_[e.Stream] = end;
        }
        ++count;
    }
    elementCount_ = count;
    streamCount_ = highestStream + 1;
    for (int32_t s = 0; s < streamCount_; ++s) totalStride_ += strides_[s];
}
