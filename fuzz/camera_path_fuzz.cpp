// A camera-path file from the fuzz input, read by the saver's path reader from an archive
// source that serves the input as its one member, then played: the player evaluated at the
// ends, the middle and spread times of its range, and at times outside it and NaN. Besides
// what the sanitizers see, a view that is not finite aborts when every key the tracks took is
// within the bounds below (the tracks refuse non-finite keys; huge finite ones may overflow).

#include "core/files/file_source.h"
#include "core/files/mem_stream.h"
#include "fuzz/fuzz_input.h"
#include "saver/camera_paths.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using fuzz_input::Check;

constexpr float kMaxTime = 1e6f;
constexpr float kMaxValue = 1e3f;
constexpr float kMaxShape = 4.0f;

// Answers every name with a stream over the input (an exact heap copy, so ASan sees reads past
// its end).
class InputSource : public FileSource {
public:
    InputSource(const uint8_t* data, size_t size) : copy_(fuzz_input::ExactCopy(data, size)), size_(size) {}
    bool Mount(const FileRef&) override { return true; }
    bool Exists(String) override { return true; }
    Stream* Open(String, int mode) override {
        if (mode != 1) return nullptr;
        MemStream* stream = new MemStream;
        stream->Open(String(), 1);
        stream->ShowData(copy_.get(), int32_t(size_), true);
        return stream;
    }

private:
    std::unique_ptr<uint8_t[]> copy_;
    size_t size_;
};

bool Within(float v, float bound) { return std::isfinite(v) && std::fabs(v) <= bound; }

template <typename Track>
bool KeysWithinBounds(const Track& track) {
    const auto* node = track.keys().first();
    for (int32_t i = 0; i < track.keys().count(); ++i, node = node->next) {
        const TrackKey& k = node->value.key;
        if (!Within(k.time, kMaxTime) || !Within(k.continuity, kMaxShape) || !Within(k.tension, kMaxShape) ||
            !Within(k.bias, kMaxShape)) {
            return false;
        }
        for (float v : k.value) {
            if (!Within(v, kMaxValue)) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    InputSource source(data, size);
    CameraPathPlayer player;
    // A name no disk file has in the fuzzer's empty working folder, so the source answers.
    LoadCameraPath(player, &source, "Media", "fuzz.cam");
    const bool bounded = KeysWithinBounds(player.GetPositionTrack()) && KeysWithinBounds(player.GetRotationTrack());
    TimeRange range;
    if (!player.GetTimeRange(range)) {
        Check(player.GetPositionTrack().keys().count() == 0 && player.GetRotationTrack().keys().count() == 0);
        return 0;
    }
    Check(range.first <= range.last);
    const float span = range.last - range.first;
    const float times[] = {range.first,
                           range.last,
                           range.first + 0.5f * span,
                           range.first + 0.137f * span,
                           range.first + 0.731f * span,
                           range.first - 10.0f,
                           range.last + 10.0f,
                           std::numeric_limits<float>::quiet_NaN()};
    for (float t : times) {
        TypedMatrix view;
        Check(player.GetMatrix(t, view));
        if (bounded) {
            for (float v : view.m) Check(std::isfinite(v));
        }
        float opacity = 0.0f;
        CameraPathFade(t, range.last, opacity);
    }
    return 0;
}
