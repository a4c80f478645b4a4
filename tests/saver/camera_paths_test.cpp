// The saver's camera paths: the path file reader (keys by type, damaged leaves, disk over
// archive), the choice of the next path against an independent model of the two lists drawing
// the same rand values, and the flights passing over broken paths.

#include "saver/camera_paths.h"

#include "core/files/archive/archive_file_source.h"
#include "tools/rarwrite/rar_writer.h"
#include "tools/zwfwrite/zwf_writer.h"

#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

struct Key {
    const char* type;
    float time, x, y, z, w;
};

rh::zwf::Bytes CamBytes(const std::vector<Key>& keys, int leafPadding = 0) {
    rh::zwf::Node root = rh::zwf::Node::Compound("root");
    int n = 0;
    for (const Key& k : keys) {
        rh::zwf::Bytes bytes = rh::zwf::PackTrackKey(k.time, k.x, k.y, k.z, k.w);
        bytes.resize(bytes.size() + leafPadding);
        root.AddChild(rh::zwf::Node::Leaf(std::string(k.type) + std::to_string(n++), k.type, bytes));
    }
    return rh::zwf::Write(root);
}

std::string AsText(const rh::zwf::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A path of `length` units from (x, 0, 0) to (x, 0, length), looking along +z.
std::string SimplePath(float x, float length) {
    return AsText(CamBytes({{"pos", 0, x, 0, 0, 0}, {"rot", 0, 0, 0, 0, 1}, {"pos", length, x, 0, length, 0},
                            {"rot", length, 0, 0, 0, 1}}));
}

bool Range(CameraPathPlayer& player, TimeRange& range) { return player.GetTimeRange(range); }

using CameraPathFile = rh::testing::ScratchDirTest;

// What a file gives the two tracks, one row per file.
TEST_F(CameraPathFile, KeysByTypeAndOrder) {
    struct Row {
        const char* what;
        std::vector<Key> keys;
        int positionKeys, rotationKeys;
        float first, last;
    };
    const Row rows[] = {
        {"both kinds", {{"pos", 0, 1, 2, 3, 0}, {"rot", 0, 0, 0, 0, 1}, {"pos", 20, 4, 5, 6, 0}, {"rot", 20, 0, 1, 0, 0}},
         2, 2, 0, 20},
        {"positions only", {{"pos", 5, 0, 0, 0, 0}, {"pos", 40, 0, 0, 1, 0}}, 2, 0, 5, 40},
        {"rotations only", {{"rot", 3, 0, 0, 0, 1}, {"rot", 9, 0, 1, 0, 0}}, 0, 2, 3, 9},
        {"out of time order", {{"pos", 40, 0, 0, 40, 0}, {"pos", 0, 0, 0, 0, 0}, {"pos", 20, 0, 0, 20, 0}}, 3, 0, 0, 40},
        // Only the exact bytes "pos" make a position key.
        {"other type names", {{"Pos", 0, 0, 0, 0, 1}, {"position", 1, 0, 0, 0, 1}, {"", 2, 0, 0, 0, 1}}, 0, 3, 0, 2},
        // A later key at an equal time replaces the earlier one.
        {"equal times", {{"pos", 0, 0, 0, 0, 0}, {"pos", 0, 7, 0, 0, 0}}, 1, 0, 0, 0},
        // Non-finite keys are refused by the tracks; the rest play.
        {"NaN key", {{"pos", NAN, 0, 0, 0, 0}, {"pos", 1, 0, 0, 0, 0}, {"rot", 2, NAN, 0, 0, 1}}, 1, 0, 1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile("Media/p.cam", AsText(CamBytes(row.keys)));
        CameraPathPlayer player;
        ASSERT_TRUE(LoadCameraPath(player, nullptr, "Media", "p.cam"));
        EXPECT_EQ(player.GetPositionTrack().keys().count(), row.positionKeys);
        EXPECT_EQ(player.GetRotationTrack().keys().count(), row.rotationKeys);
        TimeRange range;
        ASSERT_TRUE(Range(player, range));
        EXPECT_EQ(range.first, row.first);
        EXPECT_EQ(range.last, row.last);
    }

    // Out of order keys play in time order: halfway between the keys at 0 and 20.
    WriteFile("Media/p.cam", AsText(CamBytes(rows[3].keys)));
    CameraPathPlayer player;
    ASSERT_TRUE(LoadCameraPath(player, nullptr, "Media", "p.cam"));
    TypedMatrix view;
    player.GetMatrix(10, view);
    EXPECT_NEAR(player.GetPosition().z, 10.0f, 1e-4f);
    // Equal times: the later key won.
    WriteFile("Media/p.cam", AsText(CamBytes(rows[5].keys)));
    ASSERT_TRUE(LoadCameraPath(player, nullptr, "Media", "p.cam"));
    player.GetMatrix(0, view);
    EXPECT_EQ(player.GetPosition().x, 7.0f);
}

// Files that give nothing leave both tracks empty, also after a good path was loaded.
TEST_F(CameraPathFile, BrokenFilesLeaveEmptyTracks) {
    const std::string good = SimplePath(0, 30);
    rh::zwf::Node withCompound = rh::zwf::Node::Compound("root");
    withCompound.AddChild(rh::zwf::Node::Compound("pos0", "pos"))
        .AddChild(rh::zwf::Node::Leaf("pos", "pos", rh::zwf::PackTrackKey(0, 1, 1, 1, 0)));
    struct Row {
        const char* what;
        const char* file;  // null: no file
        std::string bytes;
        bool opens;
    };
    const Row rows[] = {
        {"missing", nullptr, "", false},
        {"not a data file", "Media/p.cam", "plain text, not a path", false},
        {"truncated header", "Media/p.cam", good.substr(0, 10), false},
        {"empty root", "Media/p.cam", AsText(rh::zwf::Write(rh::zwf::Node::Compound("r"))), true},
        // The leaves are not 32 bytes: none is a key.
        {"33-byte leaves", "Media/p.cam", AsText(CamBytes({{"pos", 0, 0, 0, 0, 0}, {"rot", 1, 0, 0, 0, 1}}, 1)), true},
        // A compound child is no key, whatever its type and size.
        {"compound child", "Media/p.cam", AsText(rh::zwf::Write(withCompound)), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile("Media/good.cam", good);
        CameraPathPlayer player;
        ASSERT_TRUE(LoadCameraPath(player, nullptr, "Media", "good.cam"));
        std::remove("Media/p.cam");
        if (row.file != nullptr) WriteFile(row.file, row.bytes);
        EXPECT_EQ(LoadCameraPath(player, nullptr, "Media", "p.cam"), row.opens);
        TimeRange range;
        EXPECT_FALSE(Range(player, range));
        EXPECT_EQ(player.GetPositionTrack().keys().count() + player.GetRotationTrack().keys().count(), 0);
    }
}

// A path comes from the media archive unless a disk file of the same name shadows it.
TEST_F(CameraPathFile, ArchiveMemberAndDiskShadow) {
    std::vector<rh::rarwrite::Member> members;
    const std::string inArchive = SimplePath(0, 50);
    members.emplace_back("Media", true, std::vector<uint8_t>{});
    members.emplace_back("Media\\c01.cam", false, std::vector<uint8_t>(inArchive.begin(), inArchive.end()));
    std::vector<uint8_t> archive;
    std::string error;
    ASSERT_TRUE(rh::rarwrite::WriteArchive(members, {}, &archive, &error)) << error;
    ArchiveFileSource media;
    ASSERT_TRUE(media.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));

    CameraPathPlayer player;
    TimeRange range;
    ASSERT_TRUE(LoadCameraPath(player, &media, "Media", "c01.cam"));
    ASSERT_TRUE(Range(player, range));
    EXPECT_EQ(range.last, 50.0f);

    WriteFile("Media/c01.cam", SimplePath(0, 70));
    ASSERT_TRUE(LoadCameraPath(player, &media, "Media", "c01.cam"));
    ASSERT_TRUE(Range(player, range));
    EXPECT_EQ(range.last, 70.0f);

    EXPECT_FALSE(LoadCameraPath(player, &media, "Media", "c02.cam"));
}

// ---------------------------------------------------------------------------------------------
// The choice of paths against a model: the two lists as vectors in ring order with a cursor
// index, drawing from the same rand sequence.

struct ListModel {
    std::vector<std::string> remaining, played;
    size_t rc = 0, pc = 0;

    static void Append(std::vector<std::string>& ring, size_t& cursor, const std::string& name) {
        if (ring.empty()) {
            ring.push_back(name);
            cursor = 0;
        } else {
            ring.insert(ring.begin() + long(cursor) + 1, name);
            ++cursor;
        }
    }
    std::string Step() {
        const size_t k = size_t(std::rand()) % remaining.size();
        rc = (rc + k) % remaining.size();
        return remaining[rc];
    }
    std::string First() { return Step(); }
    std::string Next() {
        const std::string done = remaining[rc];
        remaining.erase(remaining.begin() + long(rc));
        if (rc > 0) --rc;  // back one, or forward from the first (which is then index 0 again)
        Append(played, pc, done);
        if (remaining.empty()) {
            while (!played.empty()) {
                const std::string name = played[pc];
                played.erase(played.begin() + long(pc));
                pc = pc > 0 ? pc - 1 : (played.empty() ? 0 : played.size() - 1);
                Append(remaining, rc, name);
            }
        }
        return Step();
    }
};

std::vector<std::string> Names(int n) {
    std::vector<std::string> names;
    for (int i = 1; i <= n; ++i) names.push_back((i < 10 ? "c0" : "c") + std::to_string(i) + ".cam");
    return names;
}

// The same choices as the model, switch after switch, for several list sizes and seeds; with
// twenty names every round of twenty plays each path once.
TEST(CameraPathListTest, FollowsTheModel) {
    struct Row {
        int names;
        unsigned seed;
        int switches;
    };
    const Row rows[] = {{20, 1, 100}, {20, 77, 100}, {1, 5, 10}, {2, 3, 40}, {3, 12345, 60}, {7, 9, 70}};
    for (const Row& row : rows) {
        SCOPED_TRACE("names " + std::to_string(row.names) + " seed " + std::to_string(row.seed));
        CameraPathList list;
        ListModel model;
        for (const std::string& name : Names(row.names)) {
            list.Add(name.c_str());
            ListModel::Append(model.remaining, model.rc, name);
        }
        std::srand(row.seed);
        std::vector<std::string> chosen;
        String got;
        ASSERT_TRUE(list.ChooseFirst(got));
        chosen.push_back(got.Text());
        for (int i = 0; i < row.switches; ++i) {
            ASSERT_TRUE(list.ChooseNext(got));
            chosen.push_back(got.Text());
            ASSERT_EQ(list.remaining().count() + list.played().count(), row.names);
        }
        std::srand(row.seed);
        std::vector<std::string> flown{model.First()};
        for (int i = 0; i < row.switches; ++i) flown.push_back(model.Next());
        ASSERT_EQ(chosen, flown);
        // Rounds: from the first path on, each run of `names` paths holds every name once.
        for (size_t start = 0; start + size_t(row.names) <= flown.size(); start += size_t(row.names)) {
            const std::set<std::string> round(flown.begin() + long(start), flown.begin() + long(start) + row.names);
            EXPECT_EQ(round.size(), size_t(row.names)) << "round from " << start;
        }
    }
}

// A repeat of the path just flown happens right after a refill, and only there.
TEST(CameraPathListTest, RepeatOnlyAcrossARefill) {
    CameraPathList list;
    for (const std::string& name : Names(3)) list.Add(name.c_str());
    std::srand(4);
    String previous;
    ASSERT_TRUE(list.ChooseFirst(previous));
    int repeats = 0;
    for (int i = 1; i <= 300; ++i) {
        String next;
        ASSERT_TRUE(list.ChooseNext(next));
        const bool refilled = list.played().count() == 0;
        if (StringsEqual(next, previous)) {
            ++repeats;
            EXPECT_TRUE(refilled) << "switch " << i;
        }
        previous = next;
    }
    EXPECT_GT(repeats, 0);
}

TEST(CameraPathListTest, EmptyListDrawsNothing) {
    CameraPathList list;
    std::srand(8);
    const int before = std::rand();
    std::srand(8);
    String name;
    EXPECT_FALSE(list.ChooseFirst(name));
    EXPECT_FALSE(list.ChooseNext(name));
    EXPECT_EQ(std::rand(), before);
}

// ---------------------------------------------------------------------------------------------
// Flights over a list with broken paths: the good paths fly in the model's order with the
// broken names passed over; with every path broken the flights stop and the tracks are empty.

using CameraPathFlightsTest = rh::testing::ScratchDirTest;

TEST_F(CameraPathFlightsTest, BrokenPathsArePassedOver) {
    const std::vector<std::string> names = Names(6);
    const std::set<std::string> broken = {"c02.cam", "c05.cam", "c06.cam"};
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "c02.cam") continue;  // missing
        WriteFile("Media/" + names[i], broken.count(names[i]) ? "damaged" : SimplePath(float(i), 30));
    }
    CameraPathList list;
    ListModel model;
    for (const std::string& name : names) {
        list.Add(name.c_str());
        ListModel::Append(model.remaining, model.rc, name);
    }
    CameraPathPlayer player;
    CameraPathFlights flights(list, player, nullptr, "Media");

    std::srand(21);
    std::vector<std::string> expected{model.First()};
    for (int i = 0; i < 60; ++i) expected.push_back(model.Next());
    std::vector<std::string> goodExpected;
    for (const std::string& name : expected) {
        if (!broken.count(name)) goodExpected.push_back(name);
    }

    std::srand(21);
    std::vector<std::string> flown;
    ASSERT_TRUE(flights.StartFirst());
    flown.push_back(flights.current().Text());
    while (flown.size() < 20) {
        ASSERT_TRUE(flights.StartNext());
        flown.push_back(flights.current().Text());
        TimeRange range;
        ASSERT_TRUE(player.GetTimeRange(range));
        TypedMatrix view;
        player.GetMatrix(range.first, view);
        EXPECT_EQ(player.GetPosition().x, float(std::stoi(flown.back().substr(1, 2)) - 1));
    }
    ASSERT_GE(goodExpected.size(), flown.size());
    EXPECT_EQ(flown, std::vector<std::string>(goodExpected.begin(), goodExpected.begin() + long(flown.size())));
}

// A long run of switches over twenty good paths: every switch loads a path with a range, and
// (under the sanitizer build) nothing of the readers, streams or node trees is left behind.
TEST_F(CameraPathFlightsTest, HundredSwitches) {
    const std::vector<std::string> names = Names(20);
    CameraPathList list;
    for (size_t i = 0; i < names.size(); ++i) {
        WriteFile("Media/" + names[i], SimplePath(float(i), 20.0f + float(i)));
        list.Add(names[i].c_str());
    }
    CameraPathPlayer player;
    CameraPathFlights flights(list, player, nullptr, "Media");
    std::srand(99);
    ASSERT_TRUE(flights.StartFirst());
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(flights.StartNext());
        TimeRange range;
        ASSERT_TRUE(player.GetTimeRange(range));
        EXPECT_EQ(range.last, 20.0f + float(std::stoi(std::string(flights.current().Text()).substr(1, 2)) - 1));
    }
}

TEST_F(CameraPathFlightsTest, AllBrokenFallsBackToTheFreeCamera) {
    WriteFile("Media/c01.cam", "damaged");
    for (int names : {1, 4}) {
        SCOPED_TRACE(names);
        CameraPathList list;
        for (const std::string& name : Names(names)) list.Add(name.c_str());
        CameraPathPlayer player;
        CameraPathFlights flights(list, player, nullptr, "Media");
        std::srand(2);
        EXPECT_FALSE(flights.StartFirst());
        TimeRange range;
        EXPECT_FALSE(player.GetTimeRange(range));
        EXPECT_FALSE(flights.StartNext());
        EXPECT_EQ(list.count(), names);
    }
    CameraPathList empty;
    CameraPathPlayer player;
    CameraPathFlights flights(empty, player, nullptr, "Media");
    EXPECT_FALSE(flights.StartFirst());
}

// The black quad: opacity by path time near both ends, none between; a path under 20 units
// fades in while below 10 and out from there.
TEST(CameraPathFadeTest, OpacityNearTheEnds) {
    struct Row {
        float time, end;
        bool fades;
        float opacity;
    };
    const Row rows[] = {
        {0, 100, true, 1.0f},   {5, 100, true, 0.5f},   {10, 100, false, 0},     {50, 100, false, 0},
        {90, 100, false, 0},    {95, 100, true, 0.5f},  {100, 100, true, 1.0f},
        {8, 15, true, 0.2f},    {12, 15, true, 0.7f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.time) + " of " + std::to_string(row.end));
        float opacity = -1;
        EXPECT_EQ(CameraPathFade(row.time, row.end, opacity), row.fades);
        if (row.fades) {
            EXPECT_NEAR(opacity, row.opacity, 1e-6f);
        }
    }
}

}  // namespace
