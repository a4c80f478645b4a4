// The path maker's twenty camera paths, read back by the saver's path reader and flown by the
// engine's player: what the build wrote is what the maker makes, and each flight stays in the
// village, above the ground and clear of the buildings, without jumps and turning gently.

#include "core/files/archive/archive_file_source.h"
#include "saver/camera_paths.h"
#include "tools/pathmake/path_maker.h"
#include "tools/villageplan/village_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

namespace village = rh::village;

const std::string kMediaFolder = std::string(RH_MEDIA_DIR) + "/Media";

// The near plane of the built-in settings ("NearPlane"): a camera closer to a wall than this
// would see through it, so the flights keep twice that from every building box.
constexpr float kNearPlane = 1.0f;
// The player is sampled this often, in path units (50 ms).
constexpr float kSampleStep = 0.5f;
// The fastest turn a viewer finds comfortable, in degrees per second (10 path units).
constexpr float kMaxTurnPerSecond = 45.0f;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

float Degrees(Vec3 a, Vec3 b) {
    const float dot = a.x * b.x + a.y * b.y + a.z * b.z;
    const float la = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z), lb = std::sqrt(b.x * b.x + b.y * b.y + b.z * b.z);
    return std::acos(std::clamp(dot / (la * lb), -1.0f, 1.0f)) * 180.0f / 3.14159265f;
}

float Distance(Vec3 a, Vec3 b) { return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z)); }

TEST(PathMaker, TwentyFlightsWithTheirNames) {
    std::set<std::string> names;
    for (const village::FlightPlan& plan : village::Flights()) names.insert(plan.file);
    ASSERT_EQ(names.size(), 20u);
    for (int i = 1; i <= 20; ++i) {
        EXPECT_EQ(names.count((i < 10 ? "c0" : "c") + std::to_string(i) + ".cam"), 1u) << i;
    }
}

// The same plan gives the same bytes, and the build's files are exactly those.
TEST(PathMaker, DeterministicAndBuilt) {
    for (const village::FlightPlan& plan : village::Flights()) {
        SCOPED_TRACE(plan.file);
        const rh::zwf::Bytes first = rh::pathmake::MakeFlightFile(plan);
        const rh::zwf::Bytes second = rh::pathmake::MakeFlightFile(plan);
        EXPECT_EQ(first, second);
        EXPECT_EQ(ReadFile(kMediaFolder + "/" + plan.file), std::string(first.begin(), first.end()));
    }
}

// The saver finds every path in the media archive the build packed.
TEST(PathMaker, InTheMediaArchive) {
    const std::string archive = ReadFile(RH_MEDIA_ARCHIVE);
    ASSERT_FALSE(archive.empty());
    ArchiveFileSource media;
    ASSERT_TRUE(media.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));
    for (const village::FlightPlan& plan : village::Flights()) {
        SCOPED_TRACE(plan.file);
        CameraPathPlayer player;
        // The tests run in a build folder without a "Media" folder, so only the archive answers.
        ASSERT_TRUE(LoadCameraPath(player, &media, "Media", plan.file));
        TimeRange range;
        ASSERT_TRUE(player.GetTimeRange(range));
        EXPECT_EQ(player.GetPositionTrack().keys().count(), int32_t(range.last / 20.0f) + 1);
    }
}

// Each built file read back: a position and a rotation key at each time from 0 every 20
// units, 300 to 1200 units long, consecutive rotations in one hemisphere.
TEST(PathMaker, KeysReadBack) {
    for (const village::FlightPlan& plan : village::Flights()) {
        SCOPED_TRACE(plan.file);
        CameraPathPlayer player;
        ASSERT_TRUE(LoadCameraPath(player, nullptr, kMediaFolder.c_str(), plan.file));
        const auto& positions = player.GetPositionTrack().keys();
        const auto& rotations = player.GetRotationTrack().keys();
        ASSERT_EQ(positions.count(), rotations.count());
        ASSERT_GT(positions.count(), 1);
        const auto* p = positions.first();
        const auto* r = rotations.first();
        const TrackKey* before = nullptr;
        for (int32_t i = 0; i < positions.count(); ++i, p = p->next, r = r->next) {
            EXPECT_EQ(p->key, 20.0f * float(i));
            EXPECT_EQ(r->key, p->key);
            const TrackKey& q = r->value.key;
            const float norm = std::sqrt(q.value[0] * q.value[0] + q.value[1] * q.value[1] +
                                         q.value[2] * q.value[2] + q.value[3] * q.value[3]);
            EXPECT_NEAR(norm, 1.0f, 1e-5f);
            if (before != nullptr) {
                float dot = 0;
                for (int k = 0; k < 4; ++k) dot += before->value[k] * q.value[k];
                EXPECT_GT(dot, 0.0f) << "key " << i;
            }
            before = &q;
        }
        TimeRange range;
        ASSERT_TRUE(player.GetTimeRange(range));
        EXPECT_EQ(range.first, 0.0f);
        EXPECT_GE(range.last, 300.0f);
        EXPECT_LE(range.last, 1200.0f);
    }
}

// The flights as the saver plays them, sampled every 0.5 units.
TEST(PathMaker, FlightsStayClearAndSmooth) {
    const float grow = 2.0f * kNearPlane;
    const float maxTurn = kMaxTurnPerSecond * kSampleStep / 10.0f;
    for (const village::FlightPlan& plan : village::Flights()) {
        SCOPED_TRACE(plan.file);
        CameraPathPlayer player;
        ASSERT_TRUE(LoadCameraPath(player, nullptr, kMediaFolder.c_str(), plan.file));
        TimeRange range;
        ASSERT_TRUE(player.GetTimeRange(range));
        // The fastest a flight may move in one sample: its plan's speed, with room for the climbs
        // and for the last segment between keys, which the tracks end at up to twice the speed
        // (its end tangent adds half the start tangent), under the fade to black. A jump would
        // also show as a sudden change of the step from one sample to the next.
        const float maxStep = 2.2f * plan.speed * kSampleStep;
        const float maxStepChange = 0.12f * plan.speed * kSampleStep;
        float lastStep = -1, worstStepChange = 0;
        Vec3 lastPosition{}, lastDirection{}, lastUp{};
        float worstTurn = 0, worstStep = 0, lowest = 1e9f, nearest = 1e9f;
        for (float t = range.first; t <= range.last; t += kSampleStep) {
            TypedMatrix view;
            ASSERT_TRUE(player.GetMatrix(t, view));
            const Vec3 at = player.GetPosition(), direction = player.GetDirection(), up = player.GetUp();
            ASSERT_TRUE(std::isfinite(at.x) && std::isfinite(at.y) && std::isfinite(at.z)) << t;
            EXPECT_LE(std::fabs(at.x), village::kVillageHalfSize) << "t " << t;
            EXPECT_LE(std::fabs(at.z), village::kVillageHalfSize) << "t " << t;
            EXPECT_LT(at.y, village::kSkyBoxHalfSize) << "t " << t;
            lowest = std::min(lowest, at.y);
            for (const village::Building& b : village::Buildings()) {
                const float outside = std::max({std::fabs(at.x - b.centreX) - b.halfX - grow,
                                                std::fabs(at.z - b.centreZ) - b.halfZ - grow, at.y - b.height - grow});
                nearest = std::min(nearest, outside);
                if (outside <= 0) {
                    ADD_FAILURE() << "t " << t << " at (" << at.x << ", " << at.y << ", " << at.z
                                  << ") inside the building at " << b.centreX << ", " << b.centreZ;
                }
            }
            // Looking ahead: never backwards or sideways, and no roll (right stays level).
            if (t > range.first) {
                const Vec3 moved{at.x - lastPosition.x, 0.0f, at.z - lastPosition.z};
                if (Distance(moved, Vec3{}) > 1e-3f) {
                    EXPECT_LT(Degrees(Vec3{direction.x, 0.0f, direction.z}, moved), 60.0f) << "t " << t;
                }
                const float step = Distance(at, lastPosition);
                worstStep = std::max(worstStep, step);
                if (lastStep >= 0) worstStepChange = std::max(worstStepChange, std::fabs(step - lastStep));
                lastStep = step;
                worstTurn = std::max({worstTurn, Degrees(direction, lastDirection), Degrees(up, lastUp)});
            }
            const float rightY = up.z * direction.x - up.x * direction.z;  // y of up x direction
            EXPECT_NEAR(rightY, 0.0f, 0.01f) << "t " << t;  // under 0.6 degrees
            lastPosition = at;
            lastDirection = direction;
            lastUp = up;
        }
        EXPECT_GT(lowest, village::kGroundHeight + grow);
        EXPECT_LE(worstStep, maxStep);
        EXPECT_LE(worstStepChange, maxStepChange);
        EXPECT_LE(worstTurn, maxTurn);
        std::printf("%s: turns at most %.1f deg/s, steps at most %.2f (change %.3f), lowest %.1f, nearest box %.1f\n", plan.file,
                    worstTurn * 10.0f / kSampleStep, worstStep, worstStepChange, lowest, nearest);
    }
}

}  // namespace
