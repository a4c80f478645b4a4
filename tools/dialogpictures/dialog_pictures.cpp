#include "tools/dialogpictures/dialog_pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dialogpictures {
namespace {

// A fixed linear congruential generator: the C library's rand differs between systems.
struct Lcg {
    uint32_t state;
    uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
};

void Put(Picture& p, int x, int y, int r, int g, int b) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
    uint8_t* px = p.At(x, y);
    px[0] = static_cast<uint8_t>(r);
    px[1] = static_cast<uint8_t>(g);
    px[2] = static_cast<uint8_t>(b);
}

void Blend(Picture& p, int x, int y, int r, int g, int b, int alpha256) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
    uint8_t* px = p.At(x, y);
    px[0] = static_cast<uint8_t>((px[0] * (256 - alpha256) + r * alpha256) >> 8);
    px[1] = static_cast<uint8_t>((px[1] * (256 - alpha256) + g * alpha256) >> 8);
    px[2] = static_cast<uint8_t>((px[2] * (256 - alpha256) + b * alpha256) >> 8);
}

void Rect(Picture& p, int x0, int y0, int x1, int y1, int r, int g, int b) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) Put(p, x, y, r, g, b);
    }
}

}  // namespace

Picture DrawEmblem(int size, bool flake) {
    Picture p(size, size);
    double c = (size - 1) / 2.0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            double d = std::hypot(x - c, y - c) / c;
            int shade = static_cast<int>(std::max(0.0, 1.0 - d) * 60);
            Put(p, x, y, 20 + shade, 40 + shade, 80 + shade);
        }
    }
    if (flake) {
        for (int arm = 0; arm < 6; ++arm) {
            double a = arm * 3.14159265358979 / 3;
            for (double r = 0; r < c * 0.85; r += 0.5) {
                int x = static_cast<int>(std::lround(c + r * std::cos(a)));
                int y = static_cast<int>(std::lround(c + r * std::sin(a)));
                Put(p, x, y, 235, 245, 255);
                Put(p, x + 1, y, 235, 245, 255);
                if (std::fmod(r, c * 0.28) < 0.5 && r > 2) {
                    for (int side = -1; side <= 1; side += 2) {
                        double b = a + side * 0.8;
                        for (double s = 0; s < c * 0.22; s += 0.5) {
                            Put(p, static_cast<int>(std::lround(x + s * std::cos(b))),
                                static_cast<int>(std::lround(y + s * std::sin(b))), 235, 245, 255);
                        }
                    }
                }
            }
        }
    } else {
        int top = size / 8, bottom = size * 6 / 8;
        for (int y = top; y < bottom; ++y) {
            int half = (y - top) * size / 3 / std::max(1, bottom - top) + 1;
            for (int x = static_cast<int>(c) - half; x <= static_cast<int>(c) + half; ++x) Put(p, x, y, 30, 110, 60);
        }
        Rect(p, static_cast<int>(c) - size / 14, bottom, static_cast<int>(c) + size / 14 + 1, size * 7 / 8, 90, 60, 40);
        Lcg rng{static_cast<uint32_t>(size)};
        for (int i = 0; i < size; ++i) Blend(p, rng.Below(size), rng.Below(size), 255, 255, 255, 200);
    }
    return p;
}

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
