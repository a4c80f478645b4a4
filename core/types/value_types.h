// The engine's small value types: flag words, owned byte blocks, bit fields packed in 32-bit
// words, integer points and rectangles, floating-point colours, random quantities with a
// piecewise-linear density, and the union of two float ranges.
#pragma once

#include <d3d9types.h>

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// FlagWord

// A word of flag bits. Bit 0 is the success bit of loaders; the other bits belong to the owner.
// Loaders Combine the result of each step, so one failed step fails the whole result.
struct FlagWord {
    int32_t value;

    // Explicit so that pointers and other scalars do not turn into results by accident.
    explicit constexpr FlagWord(int v) : value(v) {}
    // value 1 for true, 0 for false.
    explicit constexpr FlagWord(bool ok) : value(ok ? 1 : 0) {}

    void Set(int32_t mask) { value |= mask; }
    void Clear(int32_t mask) { value &= ~mask; }
    // True when any bit of mask is set.
    bool Test(int32_t mask) const { return (value & mask) != 0; }
    bool Equals(int v) const { return value == v; }
    bool Succeeded() const { return (value & 1) != 0; }
    bool Failed() const { return (value & 1) == 0; }
    // Leaves a pure success bit: 1 only when both had bit 0 set; every other bit is dropped.
    void Combine(FlagWord other) { value = value & other.value & 1; }
};

// ---------------------------------------------------------------------------------------------
// ByteBuffer

// An owned block of bytes. A fresh buffer has no block and size 0; whenever the size is 0 there
// is no block. Not copyable: copying an owned block is always spelt out with Assign. Moving
// hands the block over and leaves the source empty.
//
// The process keeps the most recently dropped block of 1 MB or more and hands it to the next
// Resize or Assign of any buffer, on any thread, that fits it (at least n bytes, at most 2n),
// so reading the same large file twice does not fault in fresh pages twice. Such a block may
// be larger than Size(); only Size() bytes belong to the buffer.
class ByteBuffer {
public:
    ByteBuffer() = default;
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;

    // Frees the block if any; afterwards Data() is null and Size() 0.
    void Free();
    // n >= 0. With a block of exactly n bytes nothing happens and the contents are kept.
    // Otherwise the old block is dropped and, when n > 0, a new block of n bytes is made whose
    // contents are undefined until written.
    void Resize(int32_t n);
    // n >= 0. As Resize(n), then n bytes copied from source (which may lie inside this
    // buffer's own block).
    void Assign(const void* source, int32_t n);

    // Null when there is no block.
    unsigned char* Data() { return data_; }
    const unsigned char* Data() const { return data_; }
    int32_t Size() const { return size_; }

private:
    unsigned char* data_ = nullptr;
    int32_t size_ = 0;
    // Bytes in the block: Size() or, for a block that came from the cache, up to twice that.
    size_t capacity_ = 0;
};

// True when the sizes differ or, for equal sizes with a block, when any byte differs.
bool ByteBuffersDiffer(const ByteBuffer& a, const ByteBuffer& b);

// ---------------------------------------------------------------------------------------------
// Bit fields in arrays of 32-bit words

// A field of count bits (1 to 32) starting at bit pos: bit pos is bit pos % 32 of word pos / 32,
// counted from the least significant bit. A field may straddle two adjacent words, its low part
// in the lower word; the second word is touched only when the field straddles, so a field that
// ends in the last word of an array never reaches past it.

// The field as an unsigned value; bits above count are 0.
uint32_t GetBits(const uint32_t* words, uint32_t pos, uint32_t count);
// Writes the low count bits of value into the field; every other bit stays as it was.
void SetBits(uint32_t* words, uint32_t pos, uint32_t count, uint32_t value);

// ---------------------------------------------------------------------------------------------
// Point and Rect

// An integer point, also used as a size (x = width, y = height). Default construction gives
// (0, 0) so that no field is ever read unset.
struct Point {
    int32_t x = 0;
    int32_t y = 0;

    constexpr Point() = default;
    constexpr Point(int32_t px, int32_t py) : x(px), y(py) {}
};

Point PointDifference(Point a, Point b);
// Each product truncated toward zero; it must fit in an int32.
Point PointScale(Point p, float f);
bool PointsEqual(Point a, Point b);
bool PointsDiffer(Point a, Point b);
// Lexicographic order: x first, then y.
bool PointLess(Point a, Point b);
bool PointGreater(Point a, Point b);

// An integer rectangle as two corners, top-left and bottom-right. Where an operation says so
// the same four ints hold x, y, width and height instead (the size form). Default construction
// gives all zeros so that no field is ever read unset.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    constexpr Rect() = default;
    constexpr Rect(int32_t l, int32_t t, int32_t r, int32_t b)
        : left(l), top(t), right(r), bottom(b) {}

    void Set(int32_t l, int32_t t, int32_t r, int32_t b);
    void Clear();
    // In place, corners to size form: right -= left, bottom -= top.
    void CornersToSize();
    // In place, size form to corners: right += left, bottom += top.
    void SizeToCorners();
    // Reads this rectangle in size form; out = its corners (x, y, x + width, y + height).
    void CornersOf(Rect& out) const;
    // 0 left, 1 top, 2 right, any other k bottom.
    int32_t& Component(int k);
    const int32_t& Component(int k) const;
    void CopyTo(Rect& out) const;
};

bool RectsEqual(const Rect& a, const Rect& b);
bool RectsDiffer(const Rect& a, const Rect& b);

// The overlap of a and b, both read in size form when sizeForm is set. Rectangles that only
// touch along an edge intersect, with zero width or height. Returns false and leaves out
// untouched when they are apart; otherwise writes out (in size form when sizeForm is set) and
// returns true. out may be a or b.
bool IntersectRects(const Rect& a, const Rect& b, Rect& out, bool sizeForm);

// ---------------------------------------------------------------------------------------------
// ArgbColor

// A floating-point colour, alpha first; 1.0 is full intensity. Byte and packed forms convert
// with a factor of 1/255.
struct ArgbColor {
    float a = 1.0f;
    float r = 1.0f;
    float g = 1.0f;
    float b = 1.0f;

    // Opaque white.
    constexpr ArgbColor() = default;
    constexpr ArgbColor(float ca, float cr, float cg, float cb) : a(ca), r(cr), g(cg), b(cb) {}
    // Opaque.
    constexpr ArgbColor(float cr, float cg, float cb) : a(1.0f), r(cr), g(cg), b(cb) {}
    // Opaque grey: r = g = b = v.
    explicit constexpr ArgbColor(float v) : a(1.0f), r(v), g(v), b(v) {}
    // Opaque, from byte values 0 to 255.
    ArgbColor(int cr, int cg, int cb);
    // From byte values 0 to 255.
    ArgbColor(int ca, int cr, int cg, int cb);
    // From a packed 0xAARRGGBB value.
    explicit ArgbColor(unsigned argb);

    // Packed 0xAARRGGBB. Each component times 256, truncated and limited to 0..255, so 1.0 packs
    // as 255 and 0.5 as 128; unpacking divides by 255, so a round trip is not exact. Negative
    // and NaN components pack as 0.
    uint32_t ToARGB() const;
    // The Direct3D colour value: the same components in the order r, g, b, a.
    D3DCOLORVALUE ToColorValue() const;
    // a * sqrt(r*r + g*g + b*b).
    float Intensity() const;
};

// All four components times f.
ArgbColor ScaleColor(const ArgbColor& c, float f);
// Exact float comparison of all four components.
bool ColorsEqual(const ArgbColor& x, const ArgbColor& y);
bool ColorsDiffer(const ArgbColor& x, const ArgbColor& y);

// ---------------------------------------------------------------------------------------------
// RandomValue

// A random quantity with a piecewise-linear density through up to three points (x, weight). A
// weight of exactly -1 marks its point absent: no second point is a constant x0, no third point
// one segment from (x0, w0) to (x1, w1), all three two segments.
struct RandomValue {
    float x0 = 0.0f;
    float w0 = 1.0f;
    float x1 = 0.0f;
    float w1 = -1.0f;
    float x2 = 0.0f;
    float w2 = -1.0f;

    // The constant 0.
    constexpr RandomValue() = default;
    // The constant v.
    explicit constexpr RandomValue(float v) : x0(v) {}
    // One segment from (px0, pw0) to (px1, pw1).
    constexpr RandomValue(float px0, float pw0, float px1, float pw1)
        : x0(px0), w0(pw0), x1(px1), w1(pw1) {}
    // Two segments through (px0, pw0), (px1, pw1) and (px2, pw2).
    constexpr RandomValue(float px0, float pw0, float px1, float pw1, float px2, float pw2)
        : x0(px0), w0(pw0), x1(px1), w1(pw1), x2(px2), w2(pw2) {}

    // w1 and w2 both exactly -1.
    bool IsConstant() const;
    // A value drawn from the density with the C runtime's rand, whose sequence every random
    // user of the process shares: a constant (w1 == -1) draws nothing, one segment draws
    // twice, two segments three times. Two segments whose area is below 0.0001 give x0 without
    // a draw.
    float Sample() const;
};

// ---------------------------------------------------------------------------------------------
// Float ranges

// outLow = min(low1, low2), outHigh = max(high1, high2).
void RangeUnion(float low1, float high1, float low2, float high2, float& outLow, float& outHigh);
