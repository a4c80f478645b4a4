// The occlusion query's bracket and its life across device loss, on a test-double device whose
// query answers when the test says so. The same cases run on the real layer in
// geometry_layer_test.cpp with its hook that holds results back.
#include "render/occlusion_query.h"

#include "render/renderable.h"
#include "tests/render/support/fake_framework.h"
#include "tests/render/support/fake_resources.h"

#include <gtest/gtest.h>

namespace {

using rh::test::FakeFramework;
using rh::test::FakeQuery;
using rh::test::ResourceDevice;
using State = OcclusionQuery::State;

class OcclusionQueryTest : public ::testing::Test {
protected:
    ResourceDevice device;
    FakeFramework framework{&device};
};

TEST_F(OcclusionQueryTest, EndWithoutBeginIssuesNothing) {
    OcclusionQuery query;
    EXPECT_FALSE(query.End());
    EXPECT_EQ(device.queryCreations, 1) << "only the framework's probe";
    ASSERT_TRUE(query.Begin());
    ASSERT_TRUE(query.End());
    EXPECT_FALSE(query.End()) << "a second End has no bracket to end";
    EXPECT_EQ(device.queryScript.ends, 1);
}

TEST_F(OcclusionQueryTest, ResultIsAskedForUntilReadyAndThenOncePerBracket) {
    OcclusionQuery query;
    uint32_t pixels = 77;
    EXPECT_FALSE(query.GetResult(&pixels)) << "no bracket yet";
    device.queryScript.ready = false;
    device.queryScript.pixels = 1200;
    ASSERT_TRUE(query.Begin());
    EXPECT_FALSE(query.GetResult(&pixels)) << "begun, not ended";
    ASSERT_TRUE(query.End());
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(query.GetResult(&pixels)) << "not ready, try " << i;
        EXPECT_EQ(query.state(), State::Ended);
    }
    EXPECT_EQ(pixels, 77u) << "untouched while not ready";
    device.queryScript.ready = true;
    EXPECT_TRUE(query.GetResult(&pixels));
    EXPECT_EQ(pixels, 1200u);
    EXPECT_EQ(query.state(), State::ResultRead);
    const int asked = device.queryScript.getDataCalls;
    EXPECT_FALSE(query.GetResult(&pixels)) << "read once per bracket";
    EXPECT_EQ(device.queryScript.getDataCalls, asked) << "without asking the device";

    device.queryScript.pixels = 600;
    ASSERT_TRUE(query.Begin());
    ASSERT_TRUE(query.Begin()) << "Begin in any state restarts";
    ASSERT_TRUE(query.End());
    EXPECT_TRUE(query.GetResult(&pixels));
    EXPECT_EQ(pixels, 600u);
    EXPECT_EQ(query.visiblePixels(), 600u);
    EXPECT_EQ(FakeQuery::live, 1) << "one device query for every bracket";
}

// After a loss the pending result is never read; a query held at the loss is made again at the
// restore, one never made stays unmade.
TEST_F(OcclusionQueryTest, LossAndRestoreStartOver) {
    struct Row {
        const char* name;
        bool bracketBefore;
        State lost;
        int liveAfterRestore;
    };
    const Row rows[] = {
        {"never begun", false, State::LostEmpty, 0},
        {"pending at the loss", true, State::LostHolding, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        {
            OcclusionQuery query;
            if (r.bracketBefore) {
                ASSERT_TRUE(query.Begin());
                ASSERT_TRUE(query.End());
            }
            ASSERT_TRUE(framework.app().InvalidateDeviceObjects());
            EXPECT_EQ(query.state(), r.lost);
            EXPECT_EQ(FakeQuery::live, 0) << "released at the loss";
            ASSERT_TRUE(framework.app().RestoreDeviceObjects());
            EXPECT_EQ(query.state(), State::Idle);
            EXPECT_EQ(FakeQuery::live, r.liveAfterRestore);
            uint32_t pixels = 0;
            EXPECT_FALSE(query.GetResult(&pixels)) << "no result until a new bracket";
            EXPECT_FALSE(query.End());
            ASSERT_TRUE(query.Begin());
            ASSERT_TRUE(query.End());
            EXPECT_TRUE(query.GetResult(&pixels));
        }
        EXPECT_EQ(FakeQuery::live, 0) << "the destructor releases the query";
    }
}

TEST_F(OcclusionQueryTest, FailuresLeaveNoResult) {
    OcclusionQuery query;
    device.supportQueries = false;
    EXPECT_FALSE(query.Begin()) << "no query can be made";
    EXPECT_FALSE(query.End());
    device.supportQueries = true;
    device.queryScript.issueAnswer = D3DERR_INVALIDCALL;
    EXPECT_FALSE(query.Begin());
    EXPECT_EQ(query.state(), State::Idle);
    device.queryScript.issueAnswer = D3D_OK;
    ASSERT_TRUE(query.Begin());
    device.queryScript.issueAnswer = D3DERR_INVALIDCALL;
    EXPECT_FALSE(query.End());
    uint32_t pixels = 0;
    EXPECT_FALSE(query.GetResult(&pixels)) << "the failed End ended nothing";

    // A restore that cannot make the query again fails and keeps the state for the next one.
    device.queryScript.issueAnswer = D3D_OK;
    ASSERT_TRUE(query.Begin());
    framework.app().InvalidateDeviceObjects();
    device.supportQueries = false;
    EXPECT_FALSE(query.OnDeviceRestore());
    EXPECT_EQ(query.state(), State::LostHolding);
    device.supportQueries = true;
    EXPECT_TRUE(query.OnDeviceRestore());
    EXPECT_EQ(query.state(), State::Idle);
}

class Box : public Renderable {
public:
    FlagWord Render(MultiMaterial*) override { return FlagWord(!IsHidden()); }
};

TEST(RenderableTest, PropertiesOwnerHiddenAndTypeQuery) {
    Box box;
    EXPECT_FALSE(box.IsHidden());
    EXPECT_FALSE(box.HasBounds());
    EXPECT_EQ(box.owner(), nullptr);
    int owner = 0;
    box.AssignOwner(&owner);
    EXPECT_EQ(box.owner(), &owner);
    box.properties().SetIntProperty("Layer", 5);
    int layer = 0;
    EXPECT_TRUE(box.properties().GetInt("layer", layer));
    EXPECT_EQ(layer, 5);
    box.Hide();
    EXPECT_TRUE(box.IsHidden());

    RefCounted* object = &box;
    EXPECT_EQ(QueryAs<Renderable>(object), static_cast<Renderable*>(&box));
    EXPECT_EQ(QueryAs<RefCounted>(object), nullptr) << "a renderable answers only its own id";
}

}  // namespace
