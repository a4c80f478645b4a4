// What an occlusion proxy relies on: colour channels left out of D3DRS_COLORWRITEENABLE keep
// their value, a draw with depth writes off is still tested against the depth written so far
// and leaves that depth as it was, and a query counts the pixels such a draw passes.

#include "tests/platform/d3d9_draw_support.h"

#include <d3d9.h>

#include <gtest/gtest.h>

namespace {

class WriteMaskTest : public d3d9_test::DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kClear, 1.0f, 0), D3D_OK);
    }
    // Clears colour and depth between cases; the masks are the device's, so a clear is full.
    void Restart() {
        device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kClear, 1.0f, 0), D3D_OK);
    }

    static constexpr DWORD kClear = 0xFF204060;
};

TEST_F(WriteMaskTest, ChannelsLeftOutOfTheColourMaskKeepTheirValue) {
    struct Case {
        DWORD mask;
        DWORD expected;  // 0x00RRGGBB after drawing white over kClear
    };
    const Case cases[] = {
        {0x0, 0x204060},  {0x1, 0xFF4060},  {0x2, 0x20FF60}, {0x4, 0x2040FF},
        {0x3, 0xFFFF60},  {0x7, 0xFFFFFF},  {0x8, 0x204060}, {0xF, 0xFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mask " << c.mask);
        Restart();
        ASSERT_EQ(device_->SetRenderState(D3DRS_COLORWRITEENABLE, c.mask), D3D_OK);
        DWORD read = 0xDEAD;
        ASSERT_EQ(device_->GetRenderState(D3DRS_COLORWRITEENABLE, &read), D3D_OK);
        EXPECT_EQ(read, c.mask);
        ASSERT_EQ(DrawScreenQuad(9.5f, 9.5f, 49.5f, 39.5f, 0.5f, 0xFFFFFFFF), D3D_OK);
        EXPECT_EQ(Pixel(20, 20), c.expected);
        EXPECT_EQ(Pixel(60, 60), kClear & 0xFFFFFF) << "outside the quad";
    }
}

TEST_F(WriteMaskTest, DepthWritesOffStillTestButLeaveTheDepthAsItWas) {
    ASSERT_EQ(DrawScreenQuad(9.5f, 9.5f, 49.5f, 39.5f, 0.5f, 0xFFFF0000), D3D_OK);
    ASSERT_EQ(device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE), D3D_OK);
    ASSERT_EQ(DrawScreenQuad(9.5f, 9.5f, 49.5f, 39.5f, 0.75f, 0xFF00FF00), D3D_OK);
    EXPECT_EQ(Pixel(20, 20), 0xFF0000u) << "behind the depth written before: tested and hidden";
    ASSERT_EQ(DrawScreenQuad(9.5f, 9.5f, 49.5f, 39.5f, 0.25f, 0xFF0000FF), D3D_OK);
    EXPECT_EQ(Pixel(20, 20), 0x0000FFu) << "in front: drawn";
    ASSERT_EQ(device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE), D3D_OK);
    ASSERT_EQ(DrawScreenQuad(9.5f, 9.5f, 49.5f, 39.5f, 0.4f, 0xFFFFFFFF), D3D_OK);
    EXPECT_EQ(Pixel(20, 20), 0xFFFFFFu) << "the depth is still 0.5: 0.25 was never written";
}

// A proxy drawn inside a query with colour and depth writes off: counted against the depth of
// what was drawn before, invisible, and no obstacle for what is drawn after.
TEST_F(WriteMaskTest, AQueryCountsADrawThatWritesNothing) {
    IDirect3DQuery9* query = nullptr;
    ASSERT_EQ(device_->CreateQuery(D3DQUERYTYPE_OCCLUSION, &query), D3D_OK);
    owned_.push_back(query);
    // An occluder over the left half of the counted area (pixels 20-39 of 20-59).
    ASSERT_EQ(DrawScreenQuad(19.5f, 19.5f, 39.5f, 49.5f, 0.25f, 0xFF00FF00), D3D_OK);

    ASSERT_EQ(device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0), D3D_OK);
    ASSERT_EQ(device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE), D3D_OK);
    ASSERT_EQ(query->Issue(D3DISSUE_BEGIN), D3D_OK);
    ASSERT_EQ(DrawScreenQuad(19.5f, 19.5f, 59.5f, 49.5f, 0.5f, 0xFFFFFFFF), D3D_OK);
    ASSERT_EQ(query->Issue(D3DISSUE_END), D3D_OK);
    ASSERT_EQ(device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF), D3D_OK);
    ASSERT_EQ(device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE), D3D_OK);

    // Without D3DGETDATA_FLUSH the answer may be S_FALSE for a while, never a wait.
    DWORD count = 0xDEAD;
    HRESULT hr = query->GetData(&count, sizeof count, 0);
    for (int i = 0; i < 1000 && hr == S_FALSE; ++i) {
        Pixel(0, 0);
        hr = query->GetData(&count, sizeof count, 0);
    }
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(count, 600u);
    EXPECT_EQ(Pixel(50, 30), kClear & 0xFFFFFF) << "the proxy wrote no colour";
    ASSERT_EQ(DrawScreenQuad(19.5f, 19.5f, 59.5f, 49.5f, 0.75f, 0xFFFF0000), D3D_OK);
    EXPECT_EQ(Pixel(50, 30), 0xFF0000u) << "the proxy wrote no depth";
    EXPECT_EQ(Pixel(30, 30), 0x00FF00u) << "the occluder's depth still holds";
}

}  // namespace
