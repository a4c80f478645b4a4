// A device to draw on for the tests of buffers, draws and queries: buffers filled from
// vectors, quads in render-target pixels, and the back buffer read back.
#pragma once

#include "tests/platform/d3d9_test_support.h"

#include "platform/d3d9/d3d9_testing.h"

#include <d3d9.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace d3d9_test {

// A pre-transformed vertex: render-target pixels, depth, 1 / w, colour.
struct ScreenVertex {
    float x, y, z, rhw;
    DWORD colour;
};
inline constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

// A vertex for the transforms: position and colour.
struct ColourVertex {
    float x, y, z;
    DWORD colour;
};
inline constexpr DWORD kColourFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

inline D3DMATRIX Identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

class DrawTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 160;
    static constexpr int kHeight = 120;

    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        window_ = std::make_unique<TestWindow>(kWidth, kHeight);
        ASSERT_NE(window_->hwnd(), nullptr);
        D3DPRESENT_PARAMETERS pp = WindowedParameters();
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_->hwnd(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                     &device_),
                  D3D_OK);
        ASSERT_EQ(pp.BackBufferWidth, static_cast<UINT>(kWidth));
        ASSERT_EQ(pp.BackBufferHeight, static_cast<UINT>(kHeight));
    }
    void TearDown() override {
        for (IUnknown* object : owned_) object->Release();
        owned_.clear();
        if (device_ != nullptr) {
            EXPECT_EQ(device_->Release(), 0u) << "the device outlived its last reference";
        }
        window_.reset();
        if (d3d_ != nullptr) d3d_->Release();
    }

    // A vertex buffer holding data, released with the fixture.
    template <typename T>
    IDirect3DVertexBuffer9* Vertices(const std::vector<T>& data, DWORD fvf = 0, D3DPOOL pool = D3DPOOL_MANAGED) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        UINT bytes = static_cast<UINT>(data.size() * sizeof(T));
        EXPECT_EQ(device_->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, pool, &buffer, nullptr), D3D_OK);
        if (buffer == nullptr) return nullptr;
        owned_.push_back(buffer);
        void* p = nullptr;
        EXPECT_EQ(buffer->Lock(0, 0, &p, 0), D3D_OK);
        if (p != nullptr) std::memcpy(p, data.data(), bytes);
        EXPECT_EQ(buffer->Unlock(), D3D_OK);
        return buffer;
    }
    // An index buffer of 16- or 32-bit indices, released with the fixture.
    template <typename Index>
    IDirect3DIndexBuffer9* Indices(const std::vector<Index>& data) {
        static_assert(sizeof(Index) == 2 || sizeof(Index) == 4);
        IDirect3DIndexBuffer9* buffer = nullptr;
        UINT bytes = static_cast<UINT>(data.size() * sizeof(Index));
        D3DFORMAT format = sizeof(Index) == 2 ? D3DFMT_INDEX16 : D3DFMT_INDEX32;
        EXPECT_EQ(device_->CreateIndexBuffer(bytes, D3DUSAGE_WRITEONLY, format, D3DPOOL_MANAGED, &buffer, nullptr),
                  D3D_OK);
        if (buffer == nullptr) return nullptr;
        owned_.push_back(buffer);
        void* p = nullptr;
        EXPECT_EQ(buffer->Lock(0, 0, &p, 0), D3D_OK);
        if (p != nullptr) std::memcpy(p, data.data(), bytes);
        EXPECT_EQ(buffer->Unlock(), D3D_OK);
        return buffer;
    }
    // A declaration released with the fixture.
    IDirect3DVertexDeclaration9* Declaration(const std::vector<D3DVERTEXELEMENT9>& elements) {
        IDirect3DVertexDeclaration9* declaration = nullptr;
        EXPECT_EQ(device_->CreateVertexDeclaration(elements.data(), &declaration), D3D_OK);
        if (declaration != nullptr) owned_.push_back(declaration);
        return declaration;
    }

    // The four corners of a rectangle in render-target pixels, as a triangle strip that is
    // clockwise on screen (Direct3D's front faces).
    static std::vector<ScreenVertex> ScreenQuad(float x0, float y0, float x1, float y1, float z, DWORD colour) {
        return {{x0, y0, z, 1.0f, colour}, {x1, y0, z, 1.0f, colour}, {x0, y1, z, 1.0f, colour},
                {x1, y1, z, 1.0f, colour}};
    }
    // Draws that rectangle; the answer of DrawPrimitive.
    HRESULT DrawScreenQuad(float x0, float y0, float x1, float y1, float z, DWORD colour) {
        IDirect3DVertexBuffer9* buffer = Vertices(ScreenQuad(x0, y0, x1, y1, z, colour), kScreenFvf);
        device_->SetFVF(kScreenFvf);
        device_->SetStreamSource(0, buffer, 0, sizeof(ScreenVertex));
        return device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    }

    // The back buffer's pixels in rect as 0x00RRGGBB, top row first.
    std::vector<DWORD> Read(RECT rect) {
        std::vector<DWORD> pixels;
        EXPECT_TRUE(rh::d3d9::testing::ReadBackBuffer(device_, rect, &pixels));
        for (DWORD& p : pixels) p &= 0x00FFFFFF;
        return pixels;
    }
    DWORD Pixel(int x, int y) {
        std::vector<DWORD> one = Read(RECT{x, y, x + 1, y + 1});
        return one.empty() ? 0xDEADBEEF : one[0];
    }
    // How many pixels of rect have exactly colour (0x00RRGGBB).
    int Count(RECT rect, DWORD colour) {
        int n = 0;
        for (DWORD p : Read(rect)) n += p == (colour & 0x00FFFFFF) ? 1 : 0;
        return n;
    }
    // With RH_D3D9_TEST_IMAGES naming a directory, writes the back buffer there as a binary
    // PPM to look at.
    void SaveImage(const char* name) {
        const char* dir = std::getenv("RH_D3D9_TEST_IMAGES");
        if (dir == nullptr || *dir == '\0') return;
        std::vector<DWORD> image = Read(RECT{0, 0, kWidth, kHeight});
        std::string path = std::string(dir) + "/" + name + ".ppm";
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) return;
        std::fprintf(file, "P6\n%d %d\n255\n", kWidth, kHeight);
        for (DWORD p : image) {
            const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                          static_cast<unsigned char>(p)};
            std::fwrite(rgb, 1, 3, file);
        }
        std::fclose(file);
    }

    IDirect3D9* d3d_ = nullptr;
    std::unique_ptr<TestWindow> window_;
    IDirect3DDevice9* device_ = nullptr;
    std::vector<IUnknown*> owned_;
};

}  // namespace d3d9_test
