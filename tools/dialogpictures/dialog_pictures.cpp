#include "tools/dialogpictures/dialog_pictures.h"

#include <cstdio>

namespace dialogpictures {

std::vector<uint8_t> EncodeBmp(const Picture& picture) {
    int stride = (picture.width * 3 + 3) & ~3;
    uint32_t imageSize = static_cast<uint32_t>(stride) * picture.height;
    uint32_t fileSize = 14 + 40 + imageSize;
    std::vector<uint8_t> out;
    auto u16 = [&](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    out.push_back('B');
    out.push_back('M');
    u32(fileSize);
    u32(0);
    u32(14 + 40);
    u32(40);
    u32(static_cast<uint32_t>(picture.width));
    u32(static_cast<uint32_t>(picture.height));
    u16(1);
    u16(24);
    u32(0);  // BI_RGB
    u32(imageSize);
    u32(2835);  // 72 dots per inch
    u32(2835);
    u32(0);
    u32(0);
    for (int y = picture.height - 1; y >= 0; --y) {
        const uint8_t* row = &picture.rgb[static_cast<size_t>(y) * picture.width * 3];
        for (int x = 0; x < picture.width; ++x) {
            out.push_back(row[x * 3 + 2]);
            out.push_back(row[x * 3 + 1]);
            out.push_back(row[x * 3 + 0]);
        }
        for (int pad = picture.width * 3; pad < stride; ++pad) out.push_back(0);
    }
    return out;
}

bool WriteBmp(const Picture& picture, const std::string& path) {
    std::vector<uint8_t> bytes = EncodeBmp(picture);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

Picture DrawVillageView(int width, int height, const picturemake::ViewCamera& camera) {
    constexpr int kFactor = 2;
    const picturemake::Image big = picturemake::RenderVillage(width * kFactor, height * kFactor, camera);
    Picture picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = 0; dy < kFactor; ++dy) {
                    for (int dx = 0; dx < kFactor; ++dx) {
                        sum += big.rgba[(static_cast<size_t>(y * kFactor + dy) * big.width + x * kFactor + dx) * 4 + c];
                    }
                }
                picture.At(x, y)[c] = static_cast<uint8_t>((sum + kFactor * kFactor / 2) / (kFactor * kFactor));
            }
        }
    }
    return picture;
}

}  // namespace dialogpictures
