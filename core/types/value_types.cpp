#include "core/types/value_types.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define RH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RH_ASAN 1
#endif
#endif
#ifndef RH_ASAN
#define RH_ASAN 0
#endif
#if RH_ASAN
#include <sanitizer/asan_interface.h>
#endif

// ---------------------------------------------------------------------------------------------
// ByteBuffer

namespace {

// Blocks this large come straight from the kernel (glibc maps everything above 32 MB) and go
// back to it when freed, so each new one faults in every page on first touch: one kept block
// spares the next buffer of about the same size that cost.
constexpr size_t kCachedMin = size_t{1} << 20;

// The kept block or null. While kept, its first bytes hold its capacity and, under
// AddressSanitizer, all of it is poisoned: nothing may touch it until it is handed out.
std::atomic<unsigned char*> gCachedBlock{nullptr};
// Set when the cache is emptied at exit; buffers destroyed after that free their blocks.
std::atomic<bool> gCacheClosed{false};

void Poison([[maybe_unused]] const void* p, [[maybe_unused]] size_t n) {
#if RH_ASAN
    ASAN_POISON_MEMORY_REGION(p, n);
#endif
}

void Unpoison([[maybe_unused]] const void* p, [[maybe_unused]] size_t n) {
#if RH_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, n);
#endif
}

size_t CachedCapacity(unsigned char* block) {
    size_t capacity = 0;
    Unpoison(block, sizeof capacity);
    std::memcpy(&capacity, block, sizeof capacity);
    return capacity;
}

// Frees a block that was kept (null is fine).
void DiscardCached(unsigned char* block) {
    if (block != nullptr) {
        Unpoison(block, CachedCapacity(block));
        delete[] block;
    }
}

// Keeps a block, tagged with its capacity, in place of the one kept before.
void Keep(unsigned char* block, size_t capacity) {
    std::memcpy(block, &capacity, sizeof capacity);
    Poison(block, capacity);
    DiscardCached(gCachedBlock.exchange(block, std::memory_order_acq_rel));
}

// Empties the cache at exit, so that leak checkers see every block freed.
struct CacheDrain {
    ~CacheDrain() {
        gCacheClosed.store(true, std::memory_order_release);
        DiscardCached(gCachedBlock.exchange(nullptr, std::memory_order_acq_rel));
    }
} gCacheDrain;

// A block of at least n > 0 bytes, and its capacity: the kept block when it fits, else new.
unsigned char* AcquireBlock(size_t n, size_t* capacity) {
    // Below half the smallest kept size nothing can fit, so small buffers never touch the slot.
    if (n >= kCachedMin / 2) {
        unsigned char* cached = gCachedBlock.exchange(nullptr, std::memory_order_acq_rel);
        if (cached != nullptr) {
            size_t cachedCapacity = CachedCapacity(cached);
            if (cachedCapacity >= n && cachedCapacity - n <= n) {
                // The bytes past n stay poisoned, as they would lie past a new block's end.
                Unpoison(cached, n);
                *capacity = cachedCapacity;
                return cached;
            }
            Keep(cached, cachedCapacity);
        }
    }
    *capacity = n;
    return new unsigned char[n];
}

void ReleaseBlock(unsigned char* block, size_t capacity) {
    if (block == nullptr) {
        return;
    }
    if (capacity >= kCachedMin && !gCacheClosed.load(std::memory_order_acquire)) {
        Keep(block, capacity);
    } else {
        delete[] block;
    }
}

}  // namespace

ByteBuffer::~ByteBuffer() { ReleaseBlock(data_, capacity_); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        ReleaseBlock(data_, capacity_);
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.capacity_ = 0;
    }
    return *this;
}

void ByteBuffer::Free() {
    ReleaseBlock(data_, capacity_);
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}

void ByteBuffer::Resize(int32_t n) {
    if (data_ != nullptr && n == size_) {
        return;
    }
    // Freed first: a large block goes to the cache and may come straight back.
    Free();
    if (n > 0) {
        data_ = AcquireBlock(static_cast<size_t>(n), &capacity_);
    }
    size_ = n;
}

void ByteBuffer::Assign(const void* source, int32_t n) {
    if (data_ != nullptr && n == size_) {
        std::memmove(data_, source, static_cast<size_t>(n));
        return;
    }
    // The new block is filled before the old one is freed: source may lie inside it.
    unsigned char* block = nullptr;
    size_t capacity = 0;
    if (n > 0) {
        block = AcquireBlock(static_cast<size_t>(n), &capacity);
        std::memcpy(block, source, static_cast<size_t>(n));
    }
    ReleaseBlock(data_, capacity_);
    data_ = block;
    size_ = n;
    capacity_ = capacity;
}

bool ByteBuffersDiffer(const ByteBuffer& a, const ByteBuffer& b) {
    if (a.Size() != b.Size()) {
        return true;
    }
    if (a.Data() == nullptr) {
        return false;
    }
    return std::memcmp(a.Data(), b.Data(), static_cast<size_t>(a.Size())) != 0;
}

// ---------------------------------------------------------------------------------------------
// Bit fields

namespace {

// kLowMask[n] = 2^n - 1 for n = 0 to 32, so that no mask is ever made by a shift of 32.
constexpr auto kLowMask = [] {
    struct Table {
        uint32_t m[33];
    } t{};
    for (int n = 0; n < 32; ++n) {
        t.m[n] = (1u << n) - 1u;
    }
    t.m[32] = 0xFFFFFFFFu;
    return t;
}();

}  // namespace

uint32_t GetBits(const uint32_t* words, uint32_t pos, uint32_t count) {
    const uint32_t* word = words + pos / 32;
    uint32_t shift = pos % 32;
    uint32_t field = word[0] >> shift;
    if (shift + count > 32) {
        // Straddles: shift is at least 1 here, so this shift stays below 32.
        field |= word[1] << (32 - shift);
    }
    return field & kLowMask.m[count];
}

void SetBits(uint32_t* words, uint32_t pos, uint32_t count, uint32_t value) {
    uint32_t* word = words + pos / 32;
    uint32_t shift = pos % 32;
    value &= kLowMask.m[count];
    uint32_t lowCount = count < 32 - shift ? count : 32 - shift;
    word[0] = (word[0] & ~(kLowMask.m[lowCount] << shift)) | (value << shift);
    if (lowCount < count) {
        uint32_t highCount = count - lowCount;
        word[1] = (word[1] & ~kLowMask.m[highCount]) | (value >> lowCount);
    }
}

// ---------------------------------------------------------------------------------------------
// Point and Rect

Point PointDifference(Point a, Point b) { return Point(a.x - b.x, a.y - b.y); }

Point PointScale(Point p, float f) {
    return Point(static_cast<int32_t>(static_cast<float>(p.x) * f),
                 static_cast<int32_t>(static_cast<float>(p.y) * f));
}

bool PointsEqual(Point a, Point b) { return a.x == b.x && a.y == b.y; }
bool PointsDiffer(Point a, Point b) { return !PointsEqual(a, b); }
bool PointLess(Point a, Point b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }
bool PointGreater(Point a, Point b) { return a.x > b.x || (a.x == b.x && a.y > b.y); }

void Rect::Set(int32_t l, int32_t t, int32_t r, int32_t b) {
    left = l;
    top = t;
    right = r;
    bottom = b;
}

void Rect::Clear() { Set(0, 0, 0, 0); }

void Rect::CornersToSize() {
    right -= left;
    bottom -= top;
}

void Rect::SizeToCorners() {
    right += left;
    bottom += top;
}

void Rect::CornersOf(Rect& out) const { out.Set(left, top, left + right, top + bottom); }

int32_t& Rect::Component(int k) {
    switch (k) {
    case 0: return left;
    case 1: return top;
    case 2: return right;
    default: return bottom;
    }
}

const int32_t& Rect::Component(int k) const { return const_cast<Rect*>(this)->Component(k); }

void Rect::CopyTo(Rect& out) const { out = *this; }

bool RectsEqual(const Rect& a, const Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool RectsDiffer(const Rect& a, const Rect& b) { return !RectsEqual(a, b); }

bool IntersectRects(const Rect& inA, const Rect& inB, Rect& out, bool sizeForm) {
    Rect a = inA;
    Rect b = inB;
    if (sizeForm) {
        a.SizeToCorners();
        b.SizeToCorners();
    }
    int32_t left = a.left > b.left ? a.left : b.left;
    int32_t top = a.top > b.top ? a.top : b.top;
    int32_t right = a.right < b.right ? a.right : b.right;
    int32_t bottom = a.bottom < b.bottom ? a.bottom : b.bottom;
    if (left > b.right || top > b.bottom || a.right < b.left || a.bottom < b.top) {
        return false;
    }
    if (sizeForm) {
        out.Set(left, top, right - left, bottom - top);
    } else {
        out.Set(left, top, right, bottom);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// ArgbColor

namespace {

constexpr float kByteToUnit = 1.0f / 255.0f;

// Component times 256, truncated, limited to 0..255. A negative or NaN component must not
// spill into the neighbouring channels of the packed word, so it packs as 0; the limit is
// tested before the conversion so that huge values never reach an out-of-range cast.
uint32_t PackComponent(float c) {
    if (!(c > 0.0f)) {
        return 0;
    }
    float scaled = c * 256.0f;
    if (scaled >= 255.0f) {
        return 255;
    }
    return static_cast<uint32_t>(scaled);
}

}  // namespace

ArgbColor::ArgbColor(int cr, int cg, int cb)
    : a(1.0f),
      r(static_cast<float>(cr) * kByteToUnit),
      g(static_cast<float>(cg) * kByteToUnit),
      b(static_cast<float>(cb) * kByteToUnit) {}

ArgbColor::ArgbColor(int ca, int cr, int cg, int cb)
    : a(static_cast<float>(ca) * kByteToUnit),
      r(static_cast<float>(cr) * kByteToUnit),
      g(static_cast<float>(cg) * kByteToUnit),
      b(static_cast<float>(cb) * kByteToUnit) {}

ArgbColor::ArgbColor(unsigned argb)
    : ArgbColor(static_cast<int>((argb >> 24) & 0xFF), static_cast<int>((argb >> 16) & 0xFF),
                static_cast<int>((argb >> 8) & 0xFF), static_cast<int>(argb & 0xFF)) {}

uint32_t ArgbColor::ToARGB() const {
    return (PackComponent(a) << 24) | (PackComponent(r) << 16) | (PackComponent(g) << 8) |
           PackComponent(b);
}

D3DCOLORVALUE ArgbColor::ToColorValue() const { return D3DCOLORVALUE{r, g, b, a}; }

float ArgbColor::Intensity() const { return a * std::sqrt(r * r + g * g + b * b); }

ArgbColor ScaleColor(const ArgbColor& c, float f) {
    return ArgbColor(c.a * f, c.r * f, c.g * f, c.b * f);
}

bool ColorsEqual(const ArgbColor& x, const ArgbColor& y) {
    return x.a == y.a && x.r == y.r && x.g == y.g && x.b == y.b;
}

bool ColorsDiffer(const ArgbColor& x, const ArgbColor& y) { return !ColorsEqual(x, y); }

// ---------------------------------------------------------------------------------------------
// RandomValue

namespace {

// The C runtime's rand never exceeds 32767, which folds onto 0, so u lies in [0, 1].
float DrawUnit() {
    constexpr float kStep = 1.0f / 32766.0f;
    return static_cast<float>(std::rand() % 32767) * kStep;
}

// Thresholds are compared in double, as the literal 0.0001 is, rather than against the float
// just below it.
constexpr double kTiny = 0.0001;

// One linear segment. A point drawn uniformly under the trapezoid's bounding box lands above
// the density line exactly when its mirror image lands below it, so mirroring the rejected
// half follows the density without a rejection loop. Always two draws, u1 before u2.
float SampleSegment(float x0, float w0, float x1, float w1) {
    float u1 = DrawUnit();
    float u2 = DrawUnit();
    if (std::fabs(static_cast<double>(w0 - w1)) < kTiny) {
        return x0 + (x1 - x0) * u1;
    }
    float xc = x0 + u2 * (x1 - x0);
    float p = w0 + (w1 - w0) / (x1 - x0) * (xc - x0);
    float y = u1 * (w0 + w1);
    return p > y ? xc : x0 + x1 - xc;
}

}  // namespace

bool RandomValue::IsConstant() const { return w1 == -1.0f && w2 == -1.0f; }

float RandomValue::Sample() const {
    if (w1 == -1.0f) {
        return x0;
    }
    if (w2 == -1.0f) {
        return SampleSegment(x0, w0, x1, w1);
    }
    // Twice the areas under the two segments.
    float firstArea = (x1 - x0) * (w0 + w1);
    float area = firstArea + (x2 - x1) * (w1 + w2);
    if (static_cast<double>(area) < kTiny) {
        return x0;
    }
    float u = DrawUnit();
    if (firstArea / area > u) {
        return SampleSegment(x0, w0, x1, w1);
    }
    return SampleSegment(x1, w1, x2, w2);
}

// ---------------------------------------------------------------------------------------------
// Float ranges

void RangeUnion(float low1, float high1, float low2, float high2, float& outLow, float& outHigh) {
    outLow = low2 < low1 ? low2 : low1;
    outHigh = high2 > high1 ? high2 : high1;
}
