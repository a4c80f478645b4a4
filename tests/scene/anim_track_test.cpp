// Animation tracks and track sets on the clock's test source: which source time a track asks
// for, the tolerance cache, and the order of a set's product.
#include "scene/anim_track.h"

#include "core/time/clock_source.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

uint32_t g_now = 0;
uint32_t TestClock() { return g_now; }

// A source that records the times it is asked for and answers a translation by (time, id, 0)
// over a fixed range.
class RecordingSource : public TransformSource {
public:
    RecordingSource(TimeRange range, float id, bool hasRange = true) : range_(range), id_(id), hasRange_(hasRange) {}
    bool GetMatrix(float time, TypedMatrix& out) override {
        asked.push_back(time);
        out = IdentityMatrix();
        out.m[12] = time;
        out.m[13] = id_;
        out.kind = kMatrixTranslation;
        return answers;
    }
    bool GetTimeRange(TimeRange& range) override {
        if (hasRange_) range = range_;
        return hasRange_;
    }
    std::vector<float> asked;
    bool answers = true;

private:
    TimeRange range_;
    float id_;
    bool hasRange_;
};

class AnimTrackTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 100000;
        SetClockSource(&TestClock);
    }
    void TearDown() override { SetClockSource(nullptr); }

    // A track over a new recording source; `source` is left pointing at it.
    AnimTrack TrackOver(TimeRange range, RecordingSource*& source) {
        source = new RecordingSource(range, 0);
        AnimTrack track;
        track.SetSource(SharedRef<TransformSource>(source));
        return track;
    }
};

TEST_F(AnimTrackTest, TheClockBecomesSourceTimeByTheFlags) {
    struct Case {
        const char* what;
        int32_t flags;
        float speed;
        TimeRange playRange;
        bool started;
        uint32_t elapsedMs;
        float expected;
    };
    const Case cases[] = {
        {"speed 2, wrapped into the source range: 15 wraps to 5", kAnimWrapSource, 2, {}, true, 7500, 5},
        {"clamped: 12 s after the start gives the range's end", kAnimClamp, 1, {}, true, 12000, 10},
        {"clamp wins over wrap", kAnimClamp | kAnimWrapSource, 1, {}, true, 12000, 10},
        {"no flag: the time as it is", 0, 0.5f, {}, true, 30000, 15},
        {"wrapped into the play range (3, 8): 9 wraps to 4", kAnimPlayRange, 1, {3, 8}, true, 9000, 4},
        {"stopped with the play range: its first time", kAnimPlayRange, 1, {3, 8}, false, 50000, 3},
        {"stopped without it: the source range's first time", 0, 1, {3, 8}, false, 50000, 0},
    };
    for (const Case& c : cases) {
        RecordingSource* source = nullptr;
        AnimTrack track = TrackOver(TimeRange{0, 10}, source);
        track.SetFlags(c.flags);
        track.SetSpeed(c.speed);
        track.SetPlayRange(c.playRange.first, c.playRange.last);
        if (c.started) track.Start();
        g_now += c.elapsedMs;
        TypedMatrix m;
        ASSERT_TRUE(track.GetMatrixNow(m)) << c.what;
        ASSERT_EQ(source->asked.size(), 1u) << c.what;
        EXPECT_FLOAT_EQ(source->asked[0], c.expected) << c.what;
    }
}

TEST_F(AnimTrackTest, StoppingHoldsTheFirstTimeAndStartingAgainCountsFromNow) {
    RecordingSource* source = nullptr;
    AnimTrack track = TrackOver(TimeRange{2, 10}, source);
    track.SetFlags(kAnimPlayRange);
    track.SetPlayRange(3, 8);
    track.Start();
    g_now += 2000;
    track.Stop();
    EXPECT_FALSE(track.running());
    TypedMatrix m;
    track.GetMatrixNow(m);
    g_now += 1000;
    track.Start();
    // Elapsed time counts from 0, not from the play range's start: 1 s wraps into (3, 8) as 6.
    g_now += 1000;
    track.GetMatrixNow(m);
    g_now += 3000;
    track.GetMatrixNow(m);
    EXPECT_EQ(source->asked, (std::vector<float>{3, 6, 4}));
}

TEST_F(AnimTrackTest, TheCacheIsReusedWithinTheTolerance) {
    RecordingSource* source = nullptr;
    AnimTrack track = TrackOver(TimeRange{0, 10}, source);
    track.SetFlags(kAnimCache);
    TypedMatrix first, second, third;
    ASSERT_TRUE(track.GetMatrixAt(1.0f, first));
    ASSERT_TRUE(track.GetMatrixAt(1.05f, second));
    EXPECT_EQ(source->asked.size(), 1u) << "0.05 apart: the cached matrix";
    EXPECT_EQ(second.m[12], 1.0f);
    ASSERT_TRUE(track.GetMatrixAt(1.1f, third));
    EXPECT_EQ(source->asked.size(), 2u) << "0.1 apart: asked again";
    EXPECT_FLOAT_EQ(third.m[12], 1.1f);

    // Without the flag every request asks; a new source forgets the cache.
    track.SetFlags(0);
    track.GetMatrixAt(1.1f, third);
    EXPECT_EQ(source->asked.size(), 3u);
    track.SetFlags(kAnimCache);
    track.GetMatrixAt(5.0f, third);
    RecordingSource* other = new RecordingSource(TimeRange{0, 1}, 9);
    track.SetSource(SharedRef<TransformSource>(other));
    track.GetMatrixAt(5.0f, third);
    EXPECT_EQ(other->asked.size(), 1u);
    EXPECT_EQ(track.sourceRange().last, 1.0f) << "the new source's range";
}

TEST_F(AnimTrackTest, WithoutASourceOrAnAnswerThereIsNoMatrix) {
    AnimTrack empty;
    TypedMatrix m;
    EXPECT_FALSE(empty.GetMatrixNow(m));
    EXPECT_FALSE(empty.GetMatrixAt(1, m));
    EXPECT_FALSE(empty.QuerySourceRange());

    RecordingSource* rangeless = new RecordingSource(TimeRange{4, 5}, 0, false);
    AnimTrack track;
    track.SetSource(SharedRef<TransformSource>(rangeless));
    EXPECT_EQ(track.sourceRange().first, 0.0f);
    EXPECT_EQ(track.sourceRange().last, 0.0f);
    rangeless->answers = false;
    EXPECT_FALSE(track.GetMatrixAt(1, m));
}

TEST_F(AnimTrackTest, ASetMultipliesItsTracksInIdOrder) {
    AnimTrackSet set;
    TypedMatrix m;
    TimeRange range;
    EXPECT_FALSE(set.GetMatrixNow(m));
    EXPECT_FALSE(set.GetTimeRange(range));

    // Track 5 scales by 2, track 2 moves by (1, 0, 0): 2 then 5 maps the origin to (2, 0, 0);
    // 5 then 2 would give (1, 0, 0).
    struct Scale : TransformSource {
        bool GetMatrix(float, TypedMatrix& out) override {
            out = IdentityMatrix();
            out.m[0] = out.m[5] = out.m[10] = 2;
            out.kind = kMatrixScale;
            return true;
        }
        bool GetTimeRange(TimeRange& r) override {
            r = TimeRange{-1, 3};
            return true;
        }
    };
    set.AddTrack(5).SetSource(SharedRef<TransformSource>(new Scale));
    set.AddTrack(2).SetSource(SharedRef<TransformSource>(new RecordingSource(TimeRange{0, 10}, 0)));
    set.AddTrack(7);  // no source: skipped
    ASSERT_TRUE(set.GetMatrixAt(1, m));
    EXPECT_EQ(m.m[12], 2.0f) << "track 2's matrix times track 5's";
    ASSERT_TRUE(set.GetTimeRange(range));
    EXPECT_EQ(range.first, -1.0f);
    EXPECT_EQ(range.last, 10.0f);

    EXPECT_FALSE(set.AnyRunning());
    set.Start(2);
    EXPECT_TRUE(set.AnyRunning());
    EXPECT_TRUE(set.FindTrack(2)->running());
    EXPECT_FALSE(set.FindTrack(5)->running());
    set.Start(42);  // a missing id does nothing
    set.Start(AnimTrackSet::kAllTracks);
    EXPECT_TRUE(set.FindTrack(7)->running());
    int visited = 0;
    set.ForEach(AnimTrackSet::kAllTracks, [&](AnimTrack&) { ++visited; });
    EXPECT_EQ(visited, 3);
}

TEST_F(AnimTrackTest, ASetWhoseTracksAllFailIsTheIdentity) {
    AnimTrackSet set;
    RecordingSource* source = new RecordingSource(TimeRange{0, 1}, 0);
    source->answers = false;
    set.AddTrack(1).SetSource(SharedRef<TransformSource>(source));
    TypedMatrix m;
    m.m[3] = 99;
    EXPECT_FALSE(set.GetMatrixNow(m));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i], IdentityMatrix().m[i]) << i;
    EXPECT_EQ(m.kind, kMatrixIdentity);
}

}  // namespace
