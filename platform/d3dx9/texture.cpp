// The texture functions of D3DX: textures from pictures (the decoders of image_decode.h, then
// scaling, colour key, mip chain and format conversion on A8R8G8B8 words), surfaces loaded
// from pictures, normal maps and DDS saving.
//
// Textures of every pool are reached through the layer's private surface interface
// (texture_access.h), as Direct3D's own D3DX reaches them through a copy in system memory.

#include "platform/d3d9/texture_access.h"
#include "platform/d3dx9/image_decode.h"
#include "platform/d3dx9/pixel_formats.h"

#include <d3dx9tex.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rh::d3dx9 {
namespace {

// ---- Pictures as A8R8G8B8 words ----

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;  // rows packed, top row first

    uint32_t* Row(uint32_t y) { return pixels.data() + size_t{y} * width; }
    const uint32_t* Row(uint32_t y) const { return pixels.data() + size_t{y} * width; }
};

// One level of a decoded picture (or of a locked texture level) as A8R8G8B8 words; false for
// a format without a layout.
bool ToArgb(D3DFORMAT format, const uint8_t* bits, uint32_t pitch, uint32_t width, uint32_t height, Picture* out) {
    out->width = width;
    out->height = height;
    out->pixels.resize(size_t{width} * height);
    if (IsDxtFormat(format)) {
        return DecodeDxt(format, bits, pitch, width, height, reinterpret_cast<uint8_t*>(out->pixels.data()), width * 4);
    }
    const ChannelLayout* layout = FindChannelLayout(format);
    if (layout == nullptr) return false;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = bits + size_t{y} * pitch;
        if (format == D3DFMT_A8R8G8B8) {
            std::memcpy(out->Row(y), row, size_t{width} * 4);
        } else if (format == D3DFMT_X8R8G8B8) {
            // The words as they are, their padding read as opaque alpha.
            uint32_t* to = out->Row(y);
            std::memcpy(to, row, size_t{width} * 4);
            for (uint32_t x = 0; x < width; ++x) to[x] |= 0xFF000000u;
        } else {
            RowToArgb(*layout, row, out->Row(y), width);
        }
    }
    return true;
}

// Writes a picture into locked memory of a format with a layout.
void FromArgb(const Picture& picture, D3DFORMAT format, uint8_t* bits, uint32_t pitch) {
    const ChannelLayout* layout = FindChannelLayout(format);
    for (uint32_t y = 0; y < picture.height; ++y) {
        uint8_t* row = bits + size_t{y} * pitch;
        if (format == D3DFMT_A8R8G8B8) {
            std::memcpy(row, picture.Row(y), size_t{picture.width} * 4);
        } else if (format == D3DFMT_X8R8G8B8) {
            // Padding bits are ones.
            auto* out = reinterpret_cast<uint32_t*>(row);
            const uint32_t* in = picture.Row(y);
            for (uint32_t x = 0; x < picture.width; ++x) out[x] = in[x] | 0xFF000000u;
        } else {
            RowFromArgb(*layout, picture.Row(y), row, picture.width);
        }
    }
}

// Texels equal to the key become transparent black.
void ApplyColourKey(Picture* picture, D3DCOLOR key) {
    if (key == 0) return;
    for (uint32_t& p : picture->pixels) {
        if (p == key) p = 0;
    }
}

// ---- Filters ----

enum class Filter { None = 1, Point = 2, Linear = 3, Triangle = 4, Box = 5 };

// The filter in the low bits of a D3DX_FILTER value (the dither, mirror and sRGB bits above
// are accepted and have no effect); 0 and D3DX_DEFAULT give fallback. False for an unknown
// filter.
bool FilterOf(DWORD value, Filter fallback, Filter* filter) {
    if (value == 0 || value == D3DX_DEFAULT) {
        *filter = fallback;
        return true;
    }
    DWORD kind = value & 0xFFFF;
    if (kind < D3DX_FILTER_NONE || kind > D3DX_FILTER_BOX) return false;
    *filter = static_cast<Filter>(kind);
    return true;
}

// The source pixels one destination pixel of a row or column reads, with their weights.
struct Taps {
    uint32_t first = 0;
    std::vector<float> weights;
};

// The taps of each of dst destination pixels over src source pixels. Pixel j covers [j, j + 1)
// with its centre at j + 0.5; indices past the ends read the edge pixel.
std::vector<Taps> MakeTaps(uint32_t src, uint32_t dst, Filter filter) {
    std::vector<Taps> taps(dst);
    double scale = static_cast<double>(src) / dst;
    for (uint32_t i = 0; i < dst; ++i) {
        double centre = (i + 0.5) * scale;
        std::vector<std::pair<int64_t, double>> w;
        if (filter == Filter::Point) {
            w.emplace_back(static_cast<int64_t>(std::floor(centre)), 1.0);
        } else if (filter == Filter::Linear) {
            double x = centre - 0.5;
            double j = std::floor(x);
            w.emplace_back(static_cast<int64_t>(j), 1.0 - (x - j));
            w.emplace_back(static_cast<int64_t>(j) + 1, x - j);
        } else if (filter == Filter::Box) {
            // The area of each source pixel under the destination pixel's footprint.
            double begin = i * scale;
            double end = begin + scale;
            for (auto j = static_cast<int64_t>(std::floor(begin)); static_cast<double>(j) < end; ++j) {
                double overlap = std::min(end, static_cast<double>(j + 1)) - std::max(begin, static_cast<double>(j));
                if (overlap > 0) w.emplace_back(j, overlap);
            }
        } else {
            // Triangle: a tent as wide as the footprint, at least one source pixel each side.
            double radius = std::max(1.0, scale);
            auto lo = static_cast<int64_t>(std::floor(centre - radius));
            auto hi = static_cast<int64_t>(std::ceil(centre + radius));
            for (int64_t j = lo; j <= hi; ++j) {
                double weight = 1.0 - std::abs(static_cast<double>(j) + 0.5 - centre) / radius;
                if (weight > 0) w.emplace_back(j, weight);
            }
        }
        double total = 0;
        for (auto& [j, weight] : w) {
            j = std::clamp<int64_t>(j, 0, static_cast<int64_t>(src) - 1);
            total += weight;
        }
        auto lo = static_cast<uint32_t>(w.front().first);
        auto hi = lo;
        for (auto& [j, weight] : w) {
            lo = std::min(lo, static_cast<uint32_t>(j));
            hi = std::max(hi, static_cast<uint32_t>(j));
        }
        taps[i].first = lo;
        taps[i].weights.assign(hi - lo + 1, 0.0f);
        for (auto& [j, weight] : w) taps[i].weights[static_cast<uint32_t>(j) - lo] += static_cast<float>(weight / total);
    }
    return taps;
}

uint32_t PackChannels(const float c[4]) {
    uint32_t out = 0;
    for (int k = 0; k < 4; ++k) {
        auto v = static_cast<uint32_t>(std::clamp(c[k] + 0.5f, 0.0f, 255.0f));
        out |= v << (8 * k);
    }
    return out;
}

// One destination row of the column pass: for each texel, the channels summed over the taps in
// order (add(k, x, c) adds tap k's weighted channels of column x), then packed.
template <typename AddTap>
void ScaleColumns(const Taps& t, uint32_t width, AddTap add, uint32_t* out) {
    for (uint32_t x = 0; x < width; ++x) {
        float c[4] = {0, 0, 0, 0};
        for (size_t k = 0; k < t.weights.size(); ++k) add(k, x, c);
        out[x] = PackChannels(c);
    }
}

// Scales a picture to width x height. NONE copies what fits and leaves the rest black.
Picture Resample(const Picture& src, uint32_t width, uint32_t height, Filter filter) {
    Picture dst;
    dst.width = width;
    dst.height = height;
    if (src.width == width && src.height == height) {
        dst.pixels = src.pixels;
        return dst;
    }
    dst.pixels.assign(size_t{width} * height, 0);
    if (filter == Filter::None) {
        for (uint32_t y = 0; y < std::min(height, src.height); ++y) {
            std::memcpy(dst.Row(y), src.Row(y), size_t{std::min(width, src.width)} * 4);
        }
        return dst;
    }
    std::vector<Taps> down = MakeTaps(src.height, height, filter);
    if (src.width == width) {
        // Rows of the same width: every filter weighs the one source texel 1 (and any other 0),
        // so the row pass would give each channel as it is. The columns read the words instead.
        for (uint32_t y = 0; y < height; ++y) {
            const Taps& t = down[y];
#if defined(__SSE2__)
            // The four channels of a texel side by side: the same multiplications and additions
            // in the same order, then PackChannels' rounding, clamping and truncation.
            const __m128i zero = _mm_setzero_si128();
            const __m128 half = _mm_set1_ps(0.5f);
            const __m128 top = _mm_set1_ps(255.0f);
            uint32_t* out = dst.Row(y);
            for (uint32_t x = 0; x < width; ++x) {
                __m128 c = _mm_setzero_ps();
                for (size_t k = 0; k < t.weights.size(); ++k) {
                    const uint32_t p = src.Row(t.first + static_cast<uint32_t>(k))[x];
                    const __m128i bytes = _mm_cvtsi32_si128(static_cast<int>(p));
                    const __m128 v = _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
                    c = _mm_add_ps(c, _mm_mul_ps(_mm_set1_ps(t.weights[k]), v));
                }
                const __m128i packed = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_add_ps(c, half), _mm_setzero_ps()), top));
                out[x] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(packed, packed), zero)));
            }
#else
            ScaleColumns(t, width, [&](size_t k, uint32_t x, float c[4]) {
                const uint32_t p = src.Row(t.first + static_cast<uint32_t>(k))[x];
                for (int ch = 0; ch < 4; ++ch) c[ch] += t.weights[k] * static_cast<float>((p >> (8 * ch)) & 0xFF);
            }, dst.Row(y));
#endif
        }
        return dst;
    }
    // Rows first, into floats per channel (blue, green, red, alpha), then columns. Every float
    // is written before it is read.
    std::vector<Taps> across = MakeTaps(src.width, width, filter);
    const size_t rowFloats = size_t{width} * 4;
    std::unique_ptr<float[]> rows(new float[rowFloats * src.height]);
    for (uint32_t y = 0; y < src.height; ++y) {
        const uint32_t* in = src.Row(y);
        float* out = rows.get() + size_t{y} * rowFloats;
        for (uint32_t x = 0; x < width; ++x) {
            float c[4] = {0, 0, 0, 0};
            const Taps& t = across[x];
            for (size_t k = 0; k < t.weights.size(); ++k) {
                uint32_t p = in[t.first + k];
                for (int ch = 0; ch < 4; ++ch) c[ch] += t.weights[k] * static_cast<float>((p >> (8 * ch)) & 0xFF);
            }
            std::memcpy(out + size_t{x} * 4, c, sizeof c);
        }
    }
    for (uint32_t y = 0; y < height; ++y) {
        const Taps& t = down[y];
        ScaleColumns(t, width, [&](size_t k, uint32_t x, float c[4]) {
            const float* in = rows.get() + size_t{t.first + static_cast<uint32_t>(k)} * rowFloats + size_t{x} * 4;
            for (int ch = 0; ch < 4; ++ch) c[ch] += t.weights[k] * in[ch];
        }, dst.Row(y));
    }
    return dst;
}

// Whether the next level of a chain (each side halved, at least 1) is an exact halving: every
// side even, or 1.
bool HalvesExactly(uint32_t width, uint32_t height) {
    return (width % 2 == 0 || width == 1) && (height % 2 == 0 || height == 1);
}

// The exact halving of A8R8G8B8 words: each texel the rounded average of its 2 x 2 (or 2 x 1)
// square, in integers. Rows of pitch bytes; the source's sides halve exactly.
void HalveWords(const uint8_t* src, uint32_t srcPitch, uint32_t srcWidth, uint32_t srcHeight, uint8_t* dst,
                uint32_t dstPitch) {
    uint32_t width = std::max(srcWidth / 2, 1u);
    uint32_t height = std::max(srcHeight / 2, 1u);
    uint32_t dx = srcWidth == 1 ? 0 : 1;
    uint32_t dy = srcHeight == 1 ? 0 : 1;
    for (uint32_t y = 0; y < height; ++y) {
        const auto* a = reinterpret_cast<const uint32_t*>(src + size_t{y * (dy + 1)} * srcPitch);
        const auto* b = reinterpret_cast<const uint32_t*>(src + size_t{y * (dy + 1) + dy} * srcPitch);
        auto* out = reinterpret_cast<uint32_t*>(dst + size_t{y} * dstPitch);
        if (dx == 1 && dy == 1) {
            // Two texels side by side in one 64-bit load: the same sums, one lane pair a texel,
            // folded together at the end.
            constexpr uint64_t kLanes = 0x00FF00FF00FF00FFull;
            uint32_t x = 0;
#if defined(__SSE2__)
            // Four texels at a time: the channels widened to 16 bits, the same sums, plus 2,
            // shifted by 2 (each at most 255 then, so packing back is exact).
            const __m128i zero = _mm_setzero_si128();
            const __m128i two = _mm_set1_epi16(2);
            for (; x + 4 <= width; x += 4) {
                __m128i top0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * x));
                __m128i top1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * x + 4));
                __m128i bottom0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * x));
                __m128i bottom1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * x + 4));
                // Columns 2j and 2j + 1 of both rows, as 16-bit channels side by side.
                __m128i c01 = _mm_add_epi16(_mm_unpacklo_epi8(top0, zero), _mm_unpacklo_epi8(bottom0, zero));
                __m128i c23 = _mm_add_epi16(_mm_unpackhi_epi8(top0, zero), _mm_unpackhi_epi8(bottom0, zero));
                __m128i c45 = _mm_add_epi16(_mm_unpacklo_epi8(top1, zero), _mm_unpacklo_epi8(bottom1, zero));
                __m128i c67 = _mm_add_epi16(_mm_unpackhi_epi8(top1, zero), _mm_unpackhi_epi8(bottom1, zero));
                __m128i first = _mm_add_epi16(_mm_unpacklo_epi64(c01, c23), _mm_unpackhi_epi64(c01, c23));
                __m128i second = _mm_add_epi16(_mm_unpacklo_epi64(c45, c67), _mm_unpackhi_epi64(c45, c67));
                first = _mm_srli_epi16(_mm_add_epi16(first, two), 2);
                second = _mm_srli_epi16(_mm_add_epi16(second, two), 2);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(first, second));
            }
#endif
            for (; x < width; ++x) {
                uint64_t top = 0;
                uint64_t bottom = 0;
                std::memcpy(&top, a + 2 * x, 8);
                std::memcpy(&bottom, b + 2 * x, 8);
                uint64_t even2 = (top & kLanes) + (bottom & kLanes);
                uint64_t odd2 = ((top >> 8) & kLanes) + ((bottom >> 8) & kLanes);
                uint32_t even = static_cast<uint32_t>(even2) + static_cast<uint32_t>(even2 >> 32) + 0x00020002u;
                uint32_t odd = static_cast<uint32_t>(odd2) + static_cast<uint32_t>(odd2 >> 32) + 0x00020002u;
                out[x] = ((even >> 2) & 0x00FF00FFu) | (((odd >> 2) & 0x00FF00FFu) << 8);
            }
            continue;
        }
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t x0 = x * (dx + 1);
            uint32_t x1 = x0 + dx;
            // Blue and red, green and alpha: two channels a word, each with room for the sum
            // of four.
            uint32_t even = (a[x0] & 0x00FF00FFu) + (a[x1] & 0x00FF00FFu) + (b[x0] & 0x00FF00FFu) +
                            (b[x1] & 0x00FF00FFu) + 0x00020002u;
            uint32_t odd = ((a[x0] >> 8) & 0x00FF00FFu) + ((a[x1] >> 8) & 0x00FF00FFu) + ((b[x0] >> 8) & 0x00FF00FFu) +
                           ((b[x1] >> 8) & 0x00FF00FFu) + 0x00020002u;
            out[x] = ((even >> 2) & 0x00FF00FFu) | (((odd >> 2) & 0x00FF00FFu) << 8);
        }
    }
}

// The next level of a mip chain (each side halved, at least 1). An exact halving with BOX or
// LINEAR averages 2 x 2 texels in integers; everything else goes through Resample.
Picture NextLevel(const Picture& src, Filter filter) {
    uint32_t width = std::max(src.width / 2, 1u);
    uint32_t height = std::max(src.height / 2, 1u);
    if (!HalvesExactly(src.width, src.height) || (filter != Filter::Box && filter != Filter::Linear)) {
        return Resample(src, width, height, filter);
    }
    Picture dst;
    dst.width = width;
    dst.height = height;
    dst.pixels.resize(size_t{width} * height);
    HalveWords(reinterpret_cast<const uint8_t*>(src.pixels.data()), src.width * 4, src.width, src.height,
               reinterpret_cast<uint8_t*>(dst.pixels.data()), width * 4);
    return dst;
}

// ---- Reaching texture levels ----

// Whether a lock is of a whole level the locker writes every byte of.
enum class LockFor { Access, Overwrite };

// A surface's level locked whatever its pool; unlocked when it goes.
class LockedLevel {
public:
    LockedLevel(IDirect3DSurface9* surface, const RECT* rect, DWORD flags, LockFor purpose = LockFor::Access)
        : surface_(surface) {
        if (surface_ == nullptr) return;
        rh::d3d9::SurfaceAccess* access = nullptr;
        if (surface_->QueryInterface(rh::d3d9::kIidSurfaceAccess, reinterpret_cast<void**>(&access)) == S_OK) {
            result_ = purpose == LockFor::Overwrite && rect == nullptr && flags == 0
                          ? access->LockAnyPoolToOverwrite(&locked_)
                          : access->LockAnyPool(&locked_, rect, flags);
            access->Release();
        } else {
            result_ = surface_->LockRect(&locked_, rect, flags);
        }
    }
    ~LockedLevel() {
        if (result_ == D3D_OK) surface_->UnlockRect();
    }
    LockedLevel(const LockedLevel&) = delete;
    LockedLevel& operator=(const LockedLevel&) = delete;

    HRESULT result() const { return result_; }
    uint8_t* bits() const { return static_cast<uint8_t*>(locked_.pBits); }
    uint32_t pitch() const { return static_cast<uint32_t>(locked_.Pitch); }

private:
    IDirect3DSurface9* surface_;
    D3DLOCKED_RECT locked_{};
    HRESULT result_ = D3DERR_INVALIDCALL;
};

// Holds one reference and releases it.
template <typename T>
struct Held {
    T* p = nullptr;
    ~Held() {
        if (p != nullptr) p->Release();
    }
    T* release() { return std::exchange(p, nullptr); }
    void reset() {
        if (p != nullptr) p->Release();
        p = nullptr;
    }
};

// The surface of one level of one face (face 0 for a 2D texture), with a new reference.
HRESULT SurfaceOf(IDirect3DBaseTexture9* texture, UINT face, UINT level, IDirect3DSurface9** surface) {
    *surface = nullptr;
    if (texture->GetType() == D3DRTYPE_CUBETEXTURE) {
        return static_cast<IDirect3DCubeTexture9*>(texture)->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face),
                                                                               level, surface);
    }
    if (texture->GetType() != D3DRTYPE_TEXTURE || face != 0) return D3DERR_INVALIDCALL;
    return static_cast<IDirect3DTexture9*>(texture)->GetSurfaceLevel(level, surface);
}

// ---- Sizes, levels and formats ----

uint32_t NextPowerOfTwo(uint32_t v) { return v <= 1 ? 1 : std::bit_ceil(v); }

uint32_t ChainLength(uint32_t width, uint32_t height) {
    return static_cast<uint32_t>(std::bit_width(std::max(width, height)));
}

bool IsDefault(UINT value) { return value == 0 || value == D3DX_DEFAULT; }
// (D3DX_DEFAULT lies outside D3DFORMAT's range of values: UNKNOWN is the one way to say it.)
bool IsDefaultFormat(D3DFORMAT format) { return format == D3DFMT_UNKNOWN; }

// A texture side for a picture side: the picture's rounded up to a power of two for 0 and
// D3DX_DEFAULT, as it is for D3DX_DEFAULT_NONPOW2, within the device's largest side.
uint32_t Side(UINT asked, uint32_t picture, DWORD largest) {
    uint32_t side = asked;
    if (IsDefault(asked)) {
        side = NextPowerOfTwo(picture);
    } else if (asked == D3DX_DEFAULT_NONPOW2) {
        side = picture;
    }
    return std::min<uint32_t>(side, largest);
}

// A format of the same layout with alpha, for a colour key on a format without alpha.
D3DFORMAT WithAlpha(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_X8R8G8B8:
        case D3DFMT_R8G8B8: return D3DFMT_A8R8G8B8;
        case D3DFMT_X8B8G8R8: return D3DFMT_A8B8G8R8;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5: return D3DFMT_A1R5G5B5;
        case D3DFMT_X4R4G4B4: return D3DFMT_A4R4G4B4;
        case D3DFMT_L8: return D3DFMT_A8L8;
        default: {
            const ChannelLayout* layout = FindChannelLayout(format);
            return layout != nullptr && layout->HasAlpha() ? format : D3DFMT_A8R8G8B8;
        }
    }
}

// DXT2 and DXT4 hold the bytes of DXT3 and DXT5.
bool SameBlocks(D3DFORMAT a, D3DFORMAT b) {
    auto family = [](D3DFORMAT f) {
        if (f == D3DFMT_DXT2) return D3DFMT_DXT3;
        if (f == D3DFMT_DXT4) return D3DFMT_DXT5;
        return f;
    };
    return family(a) == family(b);
}

// What a texture made from a picture will be.
struct Plan {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t levels = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    bool copyBlocks = false;  // DXT levels copied from the file as they are
    bool defaultFormat = false;
};

// The texture for a picture: D3D_OK or D3DERR_INVALIDCALL.
HRESULT MakePlan(const D3DCAPS9& caps, const DecodedImage& image, UINT width, UINT height, UINT levels,
                 D3DFORMAT format, D3DCOLOR colourKey, Plan* plan) {
    plan->width = Side(width, image.width, caps.MaxTextureWidth);
    plan->height = Side(height, image.height, caps.MaxTextureHeight);
    plan->defaultFormat = IsDefaultFormat(format);
    D3DFORMAT target = plan->defaultFormat ? image.format : format;
    uint32_t full = ChainLength(plan->width, plan->height);
    if (IsDxtFormat(target)) {
        // DXT is never encoded here: only the file's own blocks, of the file's size, fill it.
        bool copy = IsDxtFormat(image.format) && SameBlocks(image.format, target) && colourKey == 0 &&
                    plan->width == image.width && plan->height == image.height &&
                    (IsDefault(levels) || levels <= image.levels);
        if (copy) {
            plan->format = target;
            plan->levels = IsDefault(levels) ? image.levels : levels;
            plan->copyBlocks = true;
            return D3D_OK;
        }
        if (!plan->defaultFormat) return D3DERR_INVALIDCALL;
        target = D3DFMT_A8R8G8B8;
    } else if (colourKey != 0 && plan->defaultFormat) {
        target = WithAlpha(target);
    }
    if (FindChannelLayout(target) == nullptr) return D3DERR_INVALIDCALL;
    plan->format = target;
    plan->levels = IsDefault(levels) ? full : std::min<uint32_t>(levels, full);
    return D3D_OK;
}

// Words of A8R8G8B8 or X8R8G8B8 (whose padding is ones wherever a picture or a level holds it).
bool IsWordFormat(D3DFORMAT format) { return format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8; }

// Whether a face can go word for word from the picture into the texture's levels, each level
// halved from the one above inside the texture's own memory: what FillFace's general path
// makes then equals it texel for texel (the same integer halving; a padding byte of ones
// halves to ones, and X8R8G8B8 keeps no alpha but the colour channels never mix).
bool FillsWordForWord(const DecodedImage& image, const Plan& plan, Filter mipFilter, D3DCOLOR colourKey) {
    if (plan.copyBlocks || colourKey != 0 || image.levels != 1 || !IsWordFormat(image.format) ||
        !IsWordFormat(plan.format) || image.width != plan.width || image.height != plan.height) {
        return false;
    }
    if (plan.levels > 1 && mipFilter != Filter::Box && mipFilter != Filter::Linear) return false;
    uint32_t width = plan.width;
    uint32_t height = plan.height;
    for (uint32_t level = 1; level < plan.levels; ++level) {
        if (!HalvesExactly(width, height)) return false;
        width = std::max(width / 2, 1u);
        height = std::max(height / 2, 1u);
    }
    return true;
}

// One level of a face held locked while the next is made from it.
struct OpenLevel {
    Held<IDirect3DSurface9> surface;
    std::optional<LockedLevel> lock;
    D3DSURFACE_DESC desc{};

    void Close() {
        lock.reset();
        surface.reset();
    }
};

// Writes a whole level from rows through the layer's WriteWhole; false when the surface is
// not the layer's or the write fails (the caller then locks the level itself).
bool WriteWholeLevel(IDirect3DSurface9* surface, const uint8_t* bits, uint32_t pitch) {
    rh::d3d9::SurfaceAccess* access = nullptr;
    if (surface->QueryInterface(rh::d3d9::kIidSurfaceAccess, reinterpret_cast<void**>(&access)) != S_OK) {
        return false;
    }
    const bool written = access->WriteWhole(bits, pitch) == D3D_OK;
    access->Release();
    return written;
}

// The word-for-word fill (FillsWordForWord): the picture copied into level 0, then each level
// halved from the one above while both are locked, with no copy of the picture in between.
// Level 0 takes the picture's rows as they are when they need no change (the layer then sends
// them to GL without a copy of its own), and level 1 is halved from the picture.
HRESULT FillFaceWords(IDirect3DBaseTexture9* texture, UINT face, const ImageLevel& from, D3DFORMAT fromFormat,
                      uint32_t levels) {
    OpenLevel open[2];
    // The level above the one being made: its rows, pitch and size.
    const uint8_t* aboveBits = nullptr;
    uint32_t abovePitch = 0;
    uint32_t aboveWidth = 0;
    uint32_t aboveHeight = 0;
    for (uint32_t level = 0; level < levels; ++level) {
        OpenLevel& to = open[level % 2];
        to.Close();
        if (HRESULT hr = SurfaceOf(texture, face, level, &to.surface.p); hr != D3D_OK) return hr;
        if (HRESULT hr = to.surface.p->GetDesc(&to.desc); hr != D3D_OK) return hr;
        // A decoded X8R8G8B8 picture has its padding ones already.
        const bool opaque = to.desc.Format == D3DFMT_X8R8G8B8 && fromFormat != D3DFMT_X8R8G8B8;
        if (level == 0 && !opaque && from.width == to.desc.Width && from.height == to.desc.Height &&
            from.pitch == from.width * 4 && WriteWholeLevel(to.surface.p, from.bits, from.pitch)) {
            to.Close();
            aboveBits = from.bits;
            abovePitch = from.pitch;
            aboveWidth = from.width;
            aboveHeight = from.height;
            continue;
        }
        // Every byte of every level is written below: rows are packed words (pitch = width x 4)
        // and each row is written whole.
        to.lock.emplace(to.surface.p, nullptr, 0, LockFor::Overwrite);
        if (to.lock->result() == D3D_OK && to.lock->pitch() != to.desc.Width * 4) {
            // Not the layout promised: the level is cleared, as it would have been, and refused.
            std::memset(to.lock->bits(), 0, size_t{to.lock->pitch()} * to.desc.Height);
            return D3DERR_INVALIDCALL;
        }
        if (to.lock->result() != D3D_OK) return to.lock->result();
        if (level == 0) {
            for (uint32_t y = 0; y < from.height; ++y) {
                uint8_t* row = to.lock->bits() + size_t{y} * to.lock->pitch();
                std::memcpy(row, from.bits + size_t{y} * from.pitch, size_t{from.width} * 4);
                if (opaque) {
                    // Padding bits are ones.
                    auto* words = reinterpret_cast<uint32_t*>(row);
                    for (uint32_t x = 0; x < from.width; ++x) words[x] |= 0xFF000000u;
                }
            }
        } else {
            HalveWords(aboveBits, abovePitch, aboveWidth, aboveHeight, to.lock->bits(), to.lock->pitch());
            // The level above is done with.
            open[(level + 1) % 2].Close();
        }
        aboveBits = to.lock->bits();
        abovePitch = to.lock->pitch();
        aboveWidth = to.desc.Width;
        aboveHeight = to.desc.Height;
    }
    return D3D_OK;
}

// Fills one face of a texture made by plan from the picture's face.
HRESULT FillFace(IDirect3DBaseTexture9* texture, UINT face, const DecodedImage& image, const Plan& plan,
                 Filter filter, Filter mipFilter, D3DCOLOR colourKey) {
    if (FillsWordForWord(image, plan, mipFilter, colourKey)) {
        return FillFaceWords(texture, face, image.Level(face, 0), image.format, plan.levels);
    }
    Picture current;
    for (uint32_t level = 0; level < plan.levels; ++level) {
        Held<IDirect3DSurface9> surface;
        if (HRESULT hr = SurfaceOf(texture, face, level, &surface.p); hr != D3D_OK) return hr;
        if (plan.copyBlocks) {
            const ImageLevel& from = image.Level(face, level);
            LockedLevel to(surface.p, nullptr, 0);
            if (to.result() != D3D_OK) return to.result();
            uint32_t bytes = std::min(from.pitch, to.pitch());
            for (uint32_t row = 0; row < from.rows; ++row) {
                std::memcpy(to.bits() + size_t{row} * to.pitch(), from.bits + size_t{row} * from.pitch, bytes);
            }
            continue;
        }
        D3DSURFACE_DESC desc{};
        surface.p->GetDesc(&desc);
        if (level == 0) {
            const ImageLevel& from = image.Level(face, 0);
            Picture source;
            if (!ToArgb(image.format, from.bits, from.pitch, from.width, from.height, &source)) {
                return D3DXERR_INVALIDDATA;
            }
            ApplyColourKey(&source, colourKey);
            if (source.width == desc.Width && source.height == desc.Height) {
                current = std::move(source);
            } else {
                current = Resample(source, desc.Width, desc.Height, filter);
            }
        } else if (level < image.levels && image.Level(face, level).width == desc.Width &&
                   image.Level(face, level).height == desc.Height) {
            // The file's own level where it has one of this size.
            const ImageLevel& from = image.Level(face, level);
            if (!ToArgb(image.format, from.bits, from.pitch, from.width, from.height, &current)) {
                return D3DXERR_INVALIDDATA;
            }
            ApplyColourKey(&current, colourKey);
        } else if (mipFilter == Filter::None) {
            // No filter makes no levels: they stay as created, black.
            return D3D_OK;
        } else {
            current = NextLevel(current, mipFilter);
        }
        // A word format's rows of packed words are written whole below: the level need not be
        // cleared (or read back) first. Another pitch leaves bytes unwritten, which read as the
        // clearing left them.
        const bool whole = IsWordFormat(desc.Format);
        LockedLevel to(surface.p, nullptr, 0, whole ? LockFor::Overwrite : LockFor::Access);
        if (to.result() != D3D_OK) return to.result();
        if (whole && to.pitch() != desc.Width * 4) std::memset(to.bits(), 0, size_t{to.pitch()} * desc.Height);
        FromArgb(current, desc.Format, to.bits(), to.pitch());
    }
    return D3D_OK;
}

// ---- Files ----

// The whole file, or false.
bool ReadFile(LPCSTR path, std::vector<uint8_t>* bytes) {
    if (path == nullptr) return false;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    long size = ok ? std::ftell(file) : -1;
    ok = ok && size > 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        try {
            bytes->resize(static_cast<size_t>(size));
            ok = std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    std::fclose(file);
    return ok;
}

// Decodes a file for a device: pictures larger than the device's largest texture are refused.
HRESULT Decode(IDirect3DDevice9* device, LPCVOID data, UINT size, D3DCAPS9* caps, DecodedImage* image) {
    if (device == nullptr || data == nullptr || size == 0) return D3DERR_INVALIDCALL;
    if (device->GetDeviceCaps(caps) != D3D_OK) return D3DERR_INVALIDCALL;
    DecodeLimits limits;
    limits.maxSide = std::max<uint32_t>(1, std::max(caps->MaxTextureWidth, caps->MaxTextureHeight));
    return DecodeImage(data, size, limits, image);
}

// Makes the texture of plan; a format the device lacks, when the picture chose it, gives way
// to A8R8G8B8.
template <typename Texture, typename Create>
HRESULT CreateFor(Plan* plan, Create create, Texture** texture) {
    HRESULT hr = create(*plan, texture);
    if (hr == D3DERR_INVALIDCALL && plan->defaultFormat && !plan->copyBlocks && plan->format != D3DFMT_A8R8G8B8) {
        plan->format = D3DFMT_A8R8G8B8;
        hr = create(*plan, texture);
    }
    return hr;
}

HRESULT TextureFromMemory(IDirect3DDevice9* device, LPCVOID data, UINT size, UINT width, UINT height, UINT levels,
                          DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                          D3DCOLOR colourKey, D3DXIMAGE_INFO* info, bool cube, IDirect3DBaseTexture9** out) {
    Filter scale = Filter::Triangle;
    Filter mips = Filter::Box;
    if (!FilterOf(filter, Filter::Triangle, &scale) || !FilterOf(mipFilter, Filter::Box, &mips)) {
        return D3DERR_INVALIDCALL;
    }
    D3DCAPS9 caps{};
    DecodedImage image;
    if (HRESULT hr = Decode(device, data, size, &caps, &image); hr != D3D_OK) return hr;
    // Cube textures come only from cube maps; a flat picture is no cube's data. A 2D texture
    // from a cube map takes its first face.
    if (cube && !image.IsCube()) return D3DXERR_INVALIDDATA;
    Plan plan;
    if (HRESULT hr = MakePlan(caps, image, width, height, levels, format, colourKey, &plan); hr != D3D_OK) return hr;
    Held<IDirect3DBaseTexture9> texture;
    HRESULT hr = D3D_OK;
    if (cube) {
        plan.height = plan.width;
        hr = CreateFor<IDirect3DBaseTexture9>(
            &plan,
            [&](const Plan& p, IDirect3DBaseTexture9** t) {
                IDirect3DCubeTexture9* made = nullptr;
                HRESULT r = device->CreateCubeTexture(p.width, p.levels, usage, p.format, pool, &made, nullptr);
                *t = made;
                return r;
            },
            &texture.p);
    } else {
        hr = CreateFor<IDirect3DBaseTexture9>(
            &plan,
            [&](const Plan& p, IDirect3DBaseTexture9** t) {
                IDirect3DTexture9* made = nullptr;
                HRESULT r = device->CreateTexture(p.width, p.height, p.levels, usage, p.format, pool, &made, nullptr);
                *t = made;
                return r;
            },
            &texture.p);
    }
    if (hr != D3D_OK) return hr;
    for (UINT face = 0; face < (cube ? 6u : 1u); ++face) {
        if (hr = FillFace(texture.p, face, image, plan, scale, mips, colourKey); hr != D3D_OK) return hr;
    }
    if (info != nullptr) *info = image.info;
    *out = texture.release();
    return D3D_OK;
}

HRESULT LoadSurface(IDirect3DSurface9* surface, const RECT* destRect, LPCVOID data, UINT size, const RECT* srcRect,
                    DWORD filter, D3DCOLOR colourKey, D3DXIMAGE_INFO* info) {
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    Filter scale = Filter::Triangle;
    if (!FilterOf(filter, Filter::Triangle, &scale)) return D3DERR_INVALIDCALL;
    IDirect3DDevice9* device = nullptr;
    if (surface->GetDevice(&device) != D3D_OK) return D3DERR_INVALIDCALL;
    D3DCAPS9 caps{};
    DecodedImage image;
    HRESULT hr = Decode(device, data, size, &caps, &image);
    device->Release();
    if (hr != D3D_OK) return hr;

    D3DSURFACE_DESC desc{};
    if (surface->GetDesc(&desc) != D3D_OK) return D3DERR_INVALIDCALL;
    // DXT is never encoded here.
    if (IsDxtFormat(desc.Format) || FindChannelLayout(desc.Format) == nullptr) return D3DERR_INVALIDCALL;
    RECT to = destRect != nullptr ? *destRect : RECT{0, 0, static_cast<LONG>(desc.Width), static_cast<LONG>(desc.Height)};
    if (to.left < 0 || to.top < 0 || to.left >= to.right || to.top >= to.bottom ||
        static_cast<UINT>(to.right) > desc.Width || static_cast<UINT>(to.bottom) > desc.Height) {
        return D3DERR_INVALIDCALL;
    }
    RECT from = srcRect != nullptr ? *srcRect : RECT{0, 0, static_cast<LONG>(image.width), static_cast<LONG>(image.height)};
    if (from.left < 0 || from.top < 0 || from.left >= from.right || from.top >= from.bottom ||
        static_cast<uint32_t>(from.right) > image.width || static_cast<uint32_t>(from.bottom) > image.height) {
        return D3DERR_INVALIDCALL;
    }
    const ImageLevel& level = image.Level(0, 0);
    Picture whole;
    if (!ToArgb(image.format, level.bits, level.pitch, level.width, level.height, &whole)) return D3DXERR_INVALIDDATA;
    Picture source;
    source.width = static_cast<uint32_t>(from.right - from.left);
    source.height = static_cast<uint32_t>(from.bottom - from.top);
    source.pixels.resize(size_t{source.width} * source.height);
    for (uint32_t y = 0; y < source.height; ++y) {
        std::memcpy(source.Row(y), whole.Row(static_cast<uint32_t>(from.top) + y) + from.left, size_t{source.width} * 4);
    }
    ApplyColourKey(&source, colourKey);
    Picture scaled = Resample(source, static_cast<uint32_t>(to.right - to.left), static_cast<uint32_t>(to.bottom - to.top),
                              scale);
    LockedLevel locked(surface, &to, 0);
    if (locked.result() != D3D_OK) return locked.result();
    FromArgb(scaled, desc.Format, locked.bits(), locked.pitch());
    if (info != nullptr) *info = image.info;
    return D3D_OK;
}

// ---- Normal maps ----

// The height of a texel, 0 to 1, from the chosen channels.
// Each byte value of a channel as a fraction of 255, worked out once: the same float the
// division gives.
struct UnitTable {
    float v[256];
    UnitTable() {
        for (int i = 0; i < 256; ++i) v[i] = static_cast<float>(i) / 255.0f;
    }
};
const UnitTable kUnit;

float Height(uint32_t argb, DWORD channels) {
    float r = kUnit.v[(argb >> 16) & 0xFF];
    float g = kUnit.v[(argb >> 8) & 0xFF];
    float b = kUnit.v[argb & 0xFF];
    float a = kUnit.v[argb >> 24];
    if ((channels & D3DX_CHANNEL_LUMINANCE) != 0 || (channels & 0x1F) == 0) {
        return 0.2126f * r + 0.7152f * g + 0.0722f * b;
    }
    float sum = 0;
    int count = 0;
    const std::pair<DWORD, float> values[] = {
        {D3DX_CHANNEL_RED, r}, {D3DX_CHANNEL_GREEN, g}, {D3DX_CHANNEL_BLUE, b}, {D3DX_CHANNEL_ALPHA, a}};
    for (auto [bit, value] : values) {
        if ((channels & bit) != 0) {
            sum += value;
            ++count;
        }
    }
    return sum / static_cast<float>(count);
}

// A neighbour's index past an edge: wrapped, or mirrored back onto the edge texel
// (index -1 reads 0, index n reads n - 1).
uint32_t Neighbour(int64_t i, uint32_t n, bool mirror) {
    if (i >= 0 && i < n) return static_cast<uint32_t>(i);
    if (mirror) return i < 0 ? 0 : n - 1;
    return static_cast<uint32_t>((i % n + n) % n);
}

// A component -1 to 1 as a byte, rounded to nearest with halves away from zero. In range, a
// float plus 0.5 is exact in double, so truncation gives lround's answer without the call;
// whatever else (NaN from a wild amplitude) keeps lround's answer.
uint8_t Encode(float v) {
    const float scaled = (v + 1.0f) * 0.5f * 255.0f;
    if (scaled >= 0.0f && scaled < 256.0f) {
        return static_cast<uint8_t>(static_cast<int>(static_cast<double>(scaled) + 0.5));
    }
    return static_cast<uint8_t>(std::lround(scaled));
}

// The normal map of heights into rows of A8R8G8B8 words, `pitch` bytes apart. Every word of
// every row is written.
void NormalMap(const Picture& heights, DWORD flags, DWORD channel, float amplitude, uint8_t* out, size_t pitch) {
    bool mirrorU = (flags & D3DX_NORMALMAP_MIRROR_U) != 0;
    bool mirrorV = (flags & D3DX_NORMALMAP_MIRROR_V) != 0;
    uint32_t w = heights.width;
    uint32_t h = heights.height;
    if (w == 0 || h == 0) return;
    // Every height is written before it is read: no clearing.
    std::unique_ptr<float[]> hv(new float[size_t{w} * h]);
    for (size_t i = 0; i < size_t{w} * h; ++i) hv[i] = Height(heights.pixels[i], channel);
    // Only the first and last columns reach past an edge; rows are found once each.
    const uint32_t beforeFirst = Neighbour(-1, w, mirrorU);
    const uint32_t afterLast = Neighbour(int64_t{w}, w, mirrorU);
    for (uint32_t y = 0; y < h; ++y) {
        const float* row = hv.get() + size_t{y} * w;
        const float* above = hv.get() + size_t{Neighbour(int64_t{y} - 1, h, mirrorV)} * w;
        const float* below = hv.get() + size_t{Neighbour(int64_t{y} + 1, h, mirrorV)} * w;
        auto* to = reinterpret_cast<uint32_t*>(out + size_t{y} * pitch);
        for (uint32_t x = 0; x < w; ++x) {
            float left = row[x == 0 ? beforeFirst : x - 1];
            float right = row[x + 1 == w ? afterLast : x + 1];
            float up = above[x];
            float down = below[x];
            float nx = -amplitude * (right - left) * 0.5f;
            float ny = -amplitude * (down - up) * 0.5f;
            float length = std::sqrt(nx * nx + ny * ny + 1.0f);
            to[x] = 0xFF000000u | uint32_t{Encode(nx / length)} << 16 | uint32_t{Encode(ny / length)} << 8 |
                    Encode(1.0f / length);
        }
    }
}

// ---- DDS ----

constexpr uint32_t kDdsdCaps = 0x1, kDdsdHeight = 0x2, kDdsdWidth = 0x4, kDdsdPitch = 0x8, kDdsdPixelFormat = 0x1000,
                   kDdsdMipMapCount = 0x20000, kDdsdLinearSize = 0x80000;
constexpr uint32_t kDdpfAlphaPixels = 0x1, kDdpfAlpha = 0x2, kDdpfFourCc = 0x4, kDdpfRgb = 0x40,
                   kDdpfLuminance = 0x20000;
constexpr uint32_t kCapsComplex = 0x8, kCapsTexture = 0x1000, kCapsMipMap = 0x400000;
constexpr uint32_t kCaps2CubeMap = 0x200, kCaps2AllFaces = 0xFC00;

void Put32(std::vector<uint8_t>* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// "DDS ", the 124-byte header with its 32-byte pixel format, for a texture of desc's format and
// level 0 size.
std::vector<uint8_t> DdsHeader(const D3DSURFACE_DESC& desc, uint32_t levels, bool cube) {
    D3DFORMAT format = desc.Format;
    bool dxt = IsDxtFormat(format);
    uint32_t pitch = RowPitch(format, desc.Width);
    uint32_t flags = kDdsdCaps | kDdsdHeight | kDdsdWidth | kDdsdPixelFormat | (dxt ? kDdsdLinearSize : kDdsdPitch);
    if (levels > 1) flags |= kDdsdMipMapCount;
    std::vector<uint8_t> out = {'D', 'D', 'S', ' '};
    Put32(&out, 124);
    Put32(&out, flags);
    Put32(&out, desc.Height);
    Put32(&out, desc.Width);
    Put32(&out, dxt ? pitch * RowCount(format, desc.Height) : pitch);
    Put32(&out, 0);  // depth
    Put32(&out, levels > 1 ? levels : 0);
    for (int i = 0; i < 11; ++i) Put32(&out, 0);
    // The pixel format: masks for formats that have them, a FourCC for the others.
    const ChannelLayout* layout = FindChannelLayout(format);
    Put32(&out, 32);
    if (layout != nullptr && layout->bytesPerPixel <= 4) {
        bool colour = layout->red.bits != 0;
        bool luminance = layout->luminance.bits != 0;
        uint32_t pf = colour ? kDdpfRgb : luminance ? kDdpfLuminance : kDdpfAlpha;
        if (layout->HasAlpha() && (colour || luminance)) pf |= kDdpfAlphaPixels;
        Put32(&out, pf);
        Put32(&out, 0);
        Put32(&out, layout->bytesPerPixel * 8);
        Put32(&out, static_cast<uint32_t>(luminance ? layout->luminance.Mask() : layout->red.Mask()));
        Put32(&out, static_cast<uint32_t>(layout->green.Mask()));
        Put32(&out, static_cast<uint32_t>(layout->blue.Mask()));
        Put32(&out, static_cast<uint32_t>(layout->alpha.Mask()));
    } else {
        // DXT by its FourCC; wider formats by their Direct3D value, as DDS files name them.
        Put32(&out, kDdpfFourCc);
        Put32(&out, static_cast<uint32_t>(format));
        for (int i = 0; i < 5; ++i) Put32(&out, 0);
    }
    uint32_t caps = kCapsTexture;
    if (levels > 1) caps |= kCapsMipMap | kCapsComplex;
    if (cube) caps |= kCapsComplex;
    Put32(&out, caps);
    Put32(&out, cube ? kCaps2CubeMap | kCaps2AllFaces : 0);
    Put32(&out, 0);
    Put32(&out, 0);
    Put32(&out, 0);
    return out;
}

}  // namespace
}  // namespace rh::d3dx9

// ---- Empty textures ----

namespace {

// D3DX's choice for an empty texture's side: 256 for 0 and D3DX_DEFAULT, within the caps.
UINT EmptySide(UINT asked, DWORD largest) {
    UINT side = asked == 0 || asked == D3DX_DEFAULT || asked == D3DX_DEFAULT_NONPOW2 ? 256 : asked;
    return std::min<UINT>(side, largest);
}

D3DFORMAT EmptyFormat(D3DFORMAT format) {
    return format == D3DFMT_UNKNOWN ? D3DFMT_A8R8G8B8 : format;
}

UINT EmptyLevels(UINT levels, UINT width, UINT height) {
    UINT full = static_cast<UINT>(std::bit_width(std::max(width, height)));
    return levels == 0 || levels == D3DX_DEFAULT ? full : std::min(levels, full);
}

}  // namespace

HRESULT WINAPI D3DXCreateTexture(LPDIRECT3DDEVICE9 device, UINT width, UINT height, UINT levels, DWORD usage,
                                 D3DFORMAT format, D3DPOOL pool, LPDIRECT3DTEXTURE9* texture) {
    if (texture != nullptr) *texture = nullptr;
    D3DCAPS9 caps{};
    if (device == nullptr || texture == nullptr || device->GetDeviceCaps(&caps) != D3D_OK) return D3DERR_INVALIDCALL;
    width = EmptySide(width, caps.MaxTextureWidth);
    height = EmptySide(height, caps.MaxTextureHeight);
    return device->CreateTexture(width, height, EmptyLevels(levels, width, height), usage, EmptyFormat(format), pool,
                                 texture, nullptr);
}

HRESULT WINAPI D3DXCreateCubeTexture(LPDIRECT3DDEVICE9 device, UINT size, UINT levels, DWORD usage,
                                     D3DFORMAT format, D3DPOOL pool, LPDIRECT3DCUBETEXTURE9* texture) {
    if (texture != nullptr) *texture = nullptr;
    D3DCAPS9 caps{};
    if (device == nullptr || texture == nullptr || device->GetDeviceCaps(&caps) != D3D_OK) return D3DERR_INVALIDCALL;
    size = EmptySide(size, caps.MaxTextureWidth);
    return device->CreateCubeTexture(size, EmptyLevels(levels, size, size), usage, EmptyFormat(format), pool, texture,
                                     nullptr);
}

// ---- Textures from pictures ----

HRESULT WINAPI D3DXCreateTextureFromFileInMemoryEx(LPDIRECT3DDEVICE9 device, LPCVOID data, UINT dataSize,
                                                   UINT width, UINT height, UINT levels, DWORD usage,
                                                   D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                                   D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo, PALETTEENTRY*,
                                                   LPDIRECT3DTEXTURE9* texture) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    IDirect3DBaseTexture9* made = nullptr;
    HRESULT hr = rh::d3dx9::TextureFromMemory(device, data, dataSize, width, height, levels, usage, format, pool,
                                              filter, mipFilter, colorKey, srcInfo, false, &made);
    *texture = static_cast<IDirect3DTexture9*>(made);
    return hr;
}

HRESULT WINAPI D3DXCreateCubeTextureFromFileInMemoryEx(LPDIRECT3DDEVICE9 device, LPCVOID data, UINT dataSize,
                                                       UINT size, UINT levels, DWORD usage, D3DFORMAT format,
                                                       D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                                       D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo, PALETTEENTRY*,
                                                       LPDIRECT3DCUBETEXTURE9* texture) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    IDirect3DBaseTexture9* made = nullptr;
    HRESULT hr = rh::d3dx9::TextureFromMemory(device, data, dataSize, size, size, levels, usage, format, pool, filter,
                                              mipFilter, colorKey, srcInfo, true, &made);
    *texture = static_cast<IDirect3DCubeTexture9*>(made);
    return hr;
}

HRESULT WINAPI D3DXCreateTextureFromFileExA(LPDIRECT3DDEVICE9 device, LPCSTR file, UINT width, UINT height,
                                            UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                            DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo,
                                            PALETTEENTRY* palette, LPDIRECT3DTEXTURE9* texture) {
    if (texture != nullptr) *texture = nullptr;
    std::vector<uint8_t> bytes;
    if (device == nullptr || texture == nullptr || file == nullptr) return D3DERR_INVALIDCALL;
    if (!rh::d3dx9::ReadFile(file, &bytes)) return D3DERR_NOTFOUND;
    return D3DXCreateTextureFromFileInMemoryEx(device, bytes.data(), static_cast<UINT>(bytes.size()), width, height,
                                               levels, usage, format, pool, filter, mipFilter, colorKey, srcInfo,
                                               palette, texture);
}

HRESULT WINAPI D3DXCreateCubeTextureFromFileExA(LPDIRECT3DDEVICE9 device, LPCSTR file, UINT size, UINT levels,
                                                DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                                DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo,
                                                PALETTEENTRY* palette, LPDIRECT3DCUBETEXTURE9* texture) {
    if (texture != nullptr) *texture = nullptr;
    std::vector<uint8_t> bytes;
    if (device == nullptr || texture == nullptr || file == nullptr) return D3DERR_INVALIDCALL;
    if (!rh::d3dx9::ReadFile(file, &bytes)) return D3DERR_NOTFOUND;
    return D3DXCreateCubeTextureFromFileInMemoryEx(device, bytes.data(), static_cast<UINT>(bytes.size()), size,
                                                   levels, usage, format, pool, filter, mipFilter, colorKey, srcInfo,
                                                   palette, texture);
}

// ---- Surfaces from pictures ----

HRESULT WINAPI D3DXLoadSurfaceFromFileInMemory(LPDIRECT3DSURFACE9 destSurface, const PALETTEENTRY*,
                                               const RECT* destRect, LPCVOID srcData, UINT srcDataSize,
                                               const RECT* srcRect, DWORD filter, D3DCOLOR colorKey,
                                               D3DXIMAGE_INFO* srcInfo) {
    return rh::d3dx9::LoadSurface(destSurface, destRect, srcData, srcDataSize, srcRect, filter, colorKey, srcInfo);
}

HRESULT WINAPI D3DXLoadSurfaceFromFileA(LPDIRECT3DSURFACE9 destSurface, const PALETTEENTRY* destPalette,
                                        const RECT* destRect, LPCSTR srcFile, const RECT* srcRect, DWORD filter,
                                        D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo) {
    std::vector<uint8_t> bytes;
    if (destSurface == nullptr || srcFile == nullptr) return D3DERR_INVALIDCALL;
    if (!rh::d3dx9::ReadFile(srcFile, &bytes)) return D3DERR_NOTFOUND;
    return D3DXLoadSurfaceFromFileInMemory(destSurface, destPalette, destRect, bytes.data(),
                                           static_cast<UINT>(bytes.size()), srcRect, filter, colorKey, srcInfo);
}

// ---- Normal maps ----

HRESULT WINAPI D3DXComputeNormalMap(LPDIRECT3DTEXTURE9 texture, LPDIRECT3DTEXTURE9 srcTexture,
                                    const PALETTEENTRY*, DWORD flags, DWORD channel, FLOAT amplitude) {
    using namespace rh::d3dx9;
    if (texture == nullptr || srcTexture == nullptr || texture == srcTexture) return D3DERR_INVALIDCALL;
    UINT levels = std::min(texture->GetLevelCount(), srcTexture->GetLevelCount());
    for (UINT level = 0; level < levels; ++level) {
        D3DSURFACE_DESC to{};
        D3DSURFACE_DESC from{};
        if (texture->GetLevelDesc(level, &to) != D3D_OK || srcTexture->GetLevelDesc(level, &from) != D3D_OK) {
            return D3DERR_INVALIDCALL;
        }
        // The same size, and a destination the normals can be written into (no DXT).
        if (to.Width != from.Width || to.Height != from.Height || IsDxtFormat(to.Format) ||
            FindChannelLayout(to.Format) == nullptr) {
            return D3DERR_INVALIDCALL;
        }
        Held<IDirect3DSurface9> source;
        Held<IDirect3DSurface9> target;
        if (srcTexture->GetSurfaceLevel(level, &source.p) != D3D_OK || texture->GetSurfaceLevel(level, &target.p) != D3D_OK) {
            return D3DERR_INVALIDCALL;
        }
        Picture heights;
        {
            LockedLevel in(source.p, nullptr, D3DLOCK_READONLY);
            if (in.result() != D3D_OK) return in.result();
            if (!ToArgb(from.Format, in.bits(), in.pitch(), from.Width, from.Height, &heights)) return D3DERR_INVALIDCALL;
        }
        if (to.Format == D3DFMT_A8R8G8B8) {
            // The words go straight into the level, which they cover whole.
            LockedLevel out(target.p, nullptr, 0, LockFor::Overwrite);
            if (out.result() != D3D_OK) return out.result();
            if (out.pitch() == to.Width * 4) {
                NormalMap(heights, flags, channel, amplitude, out.bits(), out.pitch());
                continue;
            }
            // Not the layout promised: cleared, as a plain lock gives it, and filled below.
            std::memset(out.bits(), 0, size_t{out.pitch()} * to.Height);
        }
        Picture normals;
        normals.width = to.Width;
        normals.height = to.Height;
        normals.pixels.resize(size_t{to.Width} * to.Height);
        NormalMap(heights, flags, channel, amplitude, reinterpret_cast<uint8_t*>(normals.pixels.data()),
                  size_t{to.Width} * 4);
        LockedLevel out(target.p, nullptr, 0);
        if (out.result() != D3D_OK) return out.result();
        FromArgb(normals, to.Format, out.bits(), out.pitch());
    }
    return D3D_OK;
}

// ---- DDS saving ----

HRESULT WINAPI D3DXSaveTextureToFileA(LPCSTR destFile, D3DXIMAGE_FILEFORMAT format, LPDIRECT3DBASETEXTURE9 srcTexture,
                                      const PALETTEENTRY*) {
    using namespace rh::d3dx9;
    if (destFile == nullptr || srcTexture == nullptr) return D3DERR_INVALIDCALL;
    if (format != D3DXIFF_DDS) return D3DERR_INVALIDCALL;
    bool cube = srcTexture->GetType() == D3DRTYPE_CUBETEXTURE;
    if (!cube && srcTexture->GetType() != D3DRTYPE_TEXTURE) return D3DERR_INVALIDCALL;
    UINT levels = srcTexture->GetLevelCount();
    UINT faces = cube ? 6 : 1;
    Held<IDirect3DSurface9> first;
    if (SurfaceOf(srcTexture, 0, 0, &first.p) != D3D_OK) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc{};
    if (first.p->GetDesc(&desc) != D3D_OK || RowPitch(desc.Format, desc.Width) == 0) return D3DERR_INVALIDCALL;
    std::vector<uint8_t> file = DdsHeader(desc, levels, cube);
    // Faces one after another, each with its levels from the largest down, rows packed.
    for (UINT face = 0; face < faces; ++face) {
        for (UINT level = 0; level < levels; ++level) {
            Held<IDirect3DSurface9> surface;
            D3DSURFACE_DESC d{};
            if (SurfaceOf(srcTexture, face, level, &surface.p) != D3D_OK || surface.p->GetDesc(&d) != D3D_OK) {
                return D3DERR_INVALIDCALL;
            }
            LockedLevel in(surface.p, nullptr, D3DLOCK_READONLY);
            if (in.result() != D3D_OK) return in.result();
            uint32_t pitch = RowPitch(d.Format, d.Width);
            for (uint32_t row = 0; row < RowCount(d.Format, d.Height); ++row) {
                const uint8_t* bits = in.bits() + size_t{row} * in.pitch();
                file.insert(file.end(), bits, bits + pitch);
            }
        }
    }
    FILE* out = std::fopen(destFile, "wb");
    if (out == nullptr) return D3DERR_INVALIDCALL;
    bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    written = std::fclose(out) == 0 && written;
    return written ? D3D_OK : E_FAIL;
}
