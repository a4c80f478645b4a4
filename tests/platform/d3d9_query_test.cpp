// Conformance of occlusion queries: sample counts of a 40 x 30 quad seen whole, hidden and
// half hidden; brackets, held-back results, loss and Reset; support and its absence.

#include "tests/platform/d3d9_draw_support.h"

#include "platform/d3d9/d3d9_testing.h"

#include <d3d9.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using rh::d3d9::testing::HoldQueryResults;
using rh::d3d9::testing::MakeQueriesUnsupported;

class QueryTest : public d3d9_test::DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(device_->CreateQuery(D3DQUERYTYPE_OCCLUSION, &query_), D3D_OK);
        owned_.push_back(query_);
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
    }
    void TearDown() override {
        HoldQueryResults(false);
        MakeQueriesUnsupported(false);
        DrawTest::TearDown();
    }

    // The 40 x 30 quad the counts are about: pixels 20-59 by 20-49 at depth 0.5.
    HRESULT DrawCountedQuad() { return DrawScreenQuad(19.5f, 19.5f, 59.5f, 49.5f, 0.5f, 0xFFFF0000); }

    // GetData until it answers something other than S_FALSE. Reading a pixel back waits for
    // the drawing, and with it for the count; the bound only keeps a broken query from hanging
    // the test.
    HRESULT Wait(IDirect3DQuery9* query, DWORD* count) {
        HRESULT hr = query->GetData(count, sizeof *count, D3DGETDATA_FLUSH);
        for (int i = 0; i < 1000 && hr == S_FALSE; ++i) {
            Pixel(0, 0);
            hr = query->GetData(count, sizeof *count, D3DGETDATA_FLUSH);
        }
        return hr;
    }

    IDirect3DQuery9* query_ = nullptr;
};

TEST_F(QueryTest, CountsTheSamplesThatPassTheDepthTest) {
    struct Case {
        const char* what;
        std::function<void()> before;  // drawn before the bracket
        DWORD expected;
    };
    const std::vector<Case> cases = {
        {"fully visible", [] {}, 1200},
        {"hidden behind a nearer quad", [&] { DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.25f, 0xFF00FF00); }, 0},
        {"the left half hidden", [&] { DrawScreenQuad(0.0f, 0.0f, 40.0f, kHeight, 0.25f, 0xFF00FF00); }, 600},
        {"behind a farther quad: visible", [&] { DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.75f, 0xFF00FF00); },
         1200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
        c.before();
        ASSERT_EQ(query_->Issue(D3DISSUE_BEGIN), D3D_OK);
        ASSERT_EQ(DrawCountedQuad(), D3D_OK);
        ASSERT_EQ(query_->Issue(D3DISSUE_END), D3D_OK);
        DWORD count = 0xDEAD;
        ASSERT_EQ(Wait(query_, &count), S_OK);
        EXPECT_EQ(count, c.expected);
    }
}

TEST_F(QueryTest, BracketsAndResultsFollowDirect3D) {
    DWORD count = 0xDEAD;
    EXPECT_EQ(query_->GetType(), D3DQUERYTYPE_OCCLUSION);
    EXPECT_EQ(query_->GetDataSize(), sizeof(DWORD));
    EXPECT_EQ(query_->GetData(&count, sizeof count, 0), D3DERR_INVALIDCALL) << "before any bracket";
    EXPECT_EQ(query_->Issue(D3DISSUE_END), D3DERR_INVALIDCALL) << "END without BEGIN";
    EXPECT_EQ(query_->Issue(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(query_->Issue(D3DISSUE_BEGIN | D3DISSUE_END), D3DERR_INVALIDCALL);

    // Results held back: S_FALSE, again and again, without waiting; then the count.
    HoldQueryResults(true);
    ASSERT_EQ(query_->Issue(D3DISSUE_BEGIN), D3D_OK);
    EXPECT_EQ(query_->GetData(&count, sizeof count, 0), S_FALSE) << "the bracket is open";
    ASSERT_EQ(DrawCountedQuad(), D3D_OK);
    ASSERT_EQ(query_->Issue(D3DISSUE_END), D3D_OK);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(query_->GetData(&count, sizeof count, 0), S_FALSE);
    EXPECT_EQ(query_->GetData(nullptr, 0, 0), S_FALSE) << "asking without a place for the count";
    EXPECT_EQ(count, 0xDEADu) << "nothing written before the result";
    HoldQueryResults(false);
    EXPECT_EQ(Wait(query_, &count), S_OK);
    EXPECT_EQ(count, 1200u);
    count = 0;
    EXPECT_EQ(query_->GetData(&count, sizeof count, 0), S_OK) << "a result can be read again";
    EXPECT_EQ(count, 1200u);
    EXPECT_EQ(query_->GetData(nullptr, 0, 0), S_OK);
    EXPECT_EQ(query_->GetData(&count, 2, 0), D3DERR_INVALIDCALL) << "no room for the count";
    EXPECT_EQ(query_->GetData(nullptr, 4, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(query_->GetData(&count, sizeof count, 0x2), D3DERR_INVALIDCALL) << "an unknown flag";

    // BEGIN again restarts: only what is drawn after the second BEGIN counts.
    ASSERT_EQ(query_->Issue(D3DISSUE_BEGIN), D3D_OK);
    ASSERT_EQ(DrawCountedQuad(), D3D_OK);
    ASSERT_EQ(query_->Issue(D3DISSUE_BEGIN), D3D_OK);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(DrawScreenQuad(99.5f, 9.5f, 109.5f, 19.5f, 0.5f, 0xFFFF0000), D3D_OK);
    ASSERT_EQ(query_->Issue(D3DISSUE_END), D3D_OK);
    ASSERT_EQ(Wait(query_, &count), S_OK);
    EXPECT_EQ(count, 100u);

    // One bracket open at a time.
    IDirect3DQuery9* other = nullptr;
    ASSERT_EQ(device_->CreateQuery(D3DQUERYTYPE_OCCLUSION, &other), D3D_OK);
    ASSERT_EQ(query_->Issue(D3DISSUE_BEGIN), D3D_OK);
    EXPECT_EQ(other->Issue(D3DISSUE_BEGIN), D3DERR_INVALIDCALL);
    EXPECT_EQ(other->Issue(D3DISSUE_END), D3DERR_INVALIDCALL);
    ASSERT_EQ(query_->Issue(D3DISSUE_END), D3D_OK);
    ASSERT_EQ(other->Issue(D3DISSUE_BEGIN), D3D_OK);
    EXPECT_EQ(other->Release(), 0u) << "released with its bracket open";
    ASSERT_EQ(query_->Issue(D3DISSUE_BEGIN), D3D_OK) << "the released query's bracket closed with it";
    ASSERT_EQ(query_->Issue(D3DISSUE_END), D3D_OK);
    EXPECT_EQ(Wait(query_, &count), S_OK);
    EXPECT_EQ(count, 0u) << "nothing drawn";
}

TEST_F(QueryTest, ALostDeviceAnswersLostAndAResetForgetsTheBracket) {
    DWORD count = 0xDEAD;
    HoldQueryResults(true);
    ASSERT_EQ(query_->Issue(D3DISSUE_BEGIN), D3D_OK);
    ASSERT_EQ(DrawCountedQuad(), D3D_OK);
    ASSERT_EQ(query_->Issue(D3DISSUE_END), D3D_OK);
    rh::d3d9::testing::ForceDeviceLoss(device_, true);
    HoldQueryResults(false);
    EXPECT_EQ(query_->GetData(&count, sizeof count, 0), D3DERR_DEVICELOST);
    rh::d3d9::testing::ForceDeviceLoss(device_, false);
    EXPECT_EQ(query_->GetData(&count, sizeof count, 0), D3DERR_DEVICELOST) << "until the Reset";
    D3DPRESENT_PARAMETERS pp = d3d9_test::WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp), D3D_OK) << "queries do not stop a Reset";
    EXPECT_EQ(query_->GetData(&count, sizeof count, 0), D3DERR_INVALIDCALL) << "the bracket before the Reset";
    EXPECT_EQ(count, 0xDEADu);
    // A bracket left open across the Reset closes without a result.
    ASSERT_EQ(query_->Issue(D3DISSUE_BEGIN), D3D_OK);
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    EXPECT_EQ(query_->GetData(&count, sizeof count, 0), D3DERR_INVALIDCALL);
    // A new bracket counts again.
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(query_->Issue(D3DISSUE_BEGIN), D3D_OK);
    ASSERT_EQ(DrawCountedQuad(), D3D_OK);
    ASSERT_EQ(query_->Issue(D3DISSUE_END), D3D_OK);
    EXPECT_EQ(Wait(query_, &count), S_OK);
    EXPECT_EQ(count, 1200u);
}

TEST_F(QueryTest, OnlyOcclusionIsSupportedAndATestCanTakeItAway) {
    EXPECT_EQ(device_->CreateQuery(D3DQUERYTYPE_OCCLUSION, nullptr), D3D_OK);
    for (D3DQUERYTYPE type : {D3DQUERYTYPE_EVENT, D3DQUERYTYPE_TIMESTAMP, D3DQUERYTYPE_VCACHE,
                              static_cast<D3DQUERYTYPE>(0), static_cast<D3DQUERYTYPE>(31)}) {
        IDirect3DQuery9* query = reinterpret_cast<IDirect3DQuery9*>(1);
        EXPECT_EQ(device_->CreateQuery(type, nullptr), D3DERR_NOTAVAILABLE) << type;
        EXPECT_EQ(device_->CreateQuery(type, &query), D3DERR_NOTAVAILABLE) << type;
    }
    MakeQueriesUnsupported(true);
    EXPECT_EQ(device_->CreateQuery(D3DQUERYTYPE_OCCLUSION, nullptr), D3DERR_NOTAVAILABLE);
    IDirect3DQuery9* query = nullptr;
    EXPECT_EQ(device_->CreateQuery(D3DQUERYTYPE_OCCLUSION, &query), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(query, nullptr);
    MakeQueriesUnsupported(false);
    EXPECT_EQ(device_->CreateQuery(D3DQUERYTYPE_OCCLUSION, nullptr), D3D_OK);
}

TEST_F(QueryTest, AQueryHoldsItsDevice) {
    EXPECT_EQ(d3d9_test::RefCount(device_), 2u);
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(query_->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, device_);
    owner->Release();
}

}  // namespace
