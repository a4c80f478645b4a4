// The audio library's samples, channels and mixer (layer-private): independent of any output,
// so that tests, the fuzzer and the benchmark drive it directly and the library feeds it to
// SDL's audio callback.
#pragma once

#include "platform/audio/sample_decode.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace rh::audio {

// Output is always interleaved stereo, 16-bit signed.
constexpr int kOutputChannels = 2;
// The highest number of channels one sample may play at once.
constexpr uint32_t kMaxPlaybacks = 65535;
// Sample flag: the sample loops.
constexpr uint32_t kSampleLoop = 4;

class Mixer {
public:
    explicit Mixer(long outputRate);

    // Takes a decoded sample; a handle, never 0, or 0 when maximum is 0. maximum above
    // kMaxPlaybacks counts as kMaxPlaybacks.
    uint32_t AddSample(DecodedSample sample, uint32_t maximum, uint32_t flags);
    // A channel of the sample that is not playing (one that stopped or ended, else a new one
    // while fewer than the sample's maximum exist): its handle, a fresh one each time. 0 when
    // every channel plays, or for an unknown sample.
    uint32_t GetChannel(uint32_t sample);
    // Starts the channel, from the start with restart. false for an unknown channel (also one
    // whose slot GetChannel has handed out again).
    bool Play(uint32_t channel, bool restart);
    bool IsPlaying(uint32_t channel) const;

    // The global sample volume, 0 silent to 100 full; values outside are clamped. Reached in
    // steps over one mixed block, from the volume the last block ended at.
    void SetVolume(int volume);
    int Volume() const;

    // The rate output is mixed at; playing channels keep their places.
    void SetOutputRate(long rate);
    long OutputRate() const;

    // Mixes `frames` stereo frames of every playing channel into out (which is overwritten).
    void Mix(int16_t* out, size_t frames);

private:
    struct Sample {
        DecodedSample sound;
        uint32_t maximum;
        bool loop;
        std::vector<uint32_t> slots;  // the channels made so far, by handle
    };
    struct Channel {
        const Sample* sample;
        bool playing = false;
        uint64_t position = 0;  // frame of the sample
        double fraction = 0.0;  // between position and the next frame, for resampling
    };

    void MixChannel(Channel& channel, size_t frames);

    mutable std::mutex lock_;
    long outputRate_;
    int volume_ = 100;
    float blockGain_ = 1.0f;  // the gain the last block ended at
    std::vector<std::unique_ptr<Sample>> samples_;
    std::map<uint32_t, Channel> channels_;
    uint32_t nextChannel_ = 0x10000;  // kept apart from sample handles
    std::vector<float> accumulator_;
};

}  // namespace rh::audio
