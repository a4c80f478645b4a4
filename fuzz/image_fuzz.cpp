// Arbitrary bytes as a picture file in memory, through every decoder of D3DX (JPEG, PNG, TGA,
// BMP and DDS: the signature picks one, and TGA takes the rest): the header-only info, then the
// whole decode within a 1024-pixel side. A good decode must agree with the header-only info,
// describe levels that lie inside its pixel block, and convert level by level to A8R8G8B8 (the
// DXT decoder and the channel layouts); anything else aborts, besides what ASan and UBSan see.

#include "platform/d3dx9/image_decode.h"
#include "platform/d3dx9/pixel_formats.h"

#include "fuzz/fuzz_input.h"

#include <cstdint>
#include <cstring>
#include <vector>

using fuzz_input::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const auto block = fuzz_input::ExactCopy(data, size);

    D3DXIMAGE_INFO info{};
    const HRESULT infoResult = rh::d3dx9::ReadImageInfo(block.get(), size, &info);
    Check(infoResult == S_OK || infoResult == D3DXERR_INVALIDDATA);

    rh::d3dx9::DecodedImage image;
    const HRESULT hr = rh::d3dx9::DecodeImage(block.get(), size, rh::d3dx9::DecodeLimits{1024}, &image);
    Check(hr == S_OK || hr == D3DXERR_INVALIDDATA || hr == E_OUTOFMEMORY);
    if (hr != S_OK) {
        Check(image.levels == 0 && image.data() == nullptr);
        return 0;
    }
    // What the header says is what the decode reports.
    Check(infoResult == S_OK && std::memcmp(&info, &image.info, sizeof(info)) == 0);
    Check(image.width == info.Width && image.height == info.Height && image.levels == info.MipLevels);
    Check(image.width >= 1 && image.width <= 1024 && image.height >= 1 && image.height <= 1024);
    Check(image.faces == 1 || image.faces == 6);

    std::vector<uint8_t> argb;
    uint32_t sum = 0;
    for (uint32_t face = 0; face < image.faces; ++face) {
        for (uint32_t level = 0; level < image.levels; ++level) {
            const rh::d3dx9::ImageLevel& l = image.Level(face, level);
            Check(l.bits >= image.data() && l.bits + size_t(l.pitch) * l.rows <= image.data() + image.size());
            Check(l.pitch == rh::d3dx9::RowPitch(image.format, l.width));
            argb.assign(size_t(l.width) * l.height * 4, 0);
            Check(rh::d3dx9::ConvertPixels(image.format, l.bits, l.pitch, D3DFMT_A8R8G8B8, argb.data(),
                                           l.width * 4, l.width, l.height));
            for (uint8_t b : argb) sum += b;
        }
    }
    // Keeps the reads from being optimised away.
    volatile uint32_t sink = sum;
    (void)sink;
    return 0;
}
