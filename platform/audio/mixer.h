// The audio library's samples, channels and mixer (layer-private): independent of any output,
// so that tests, the fuzzer and the benchmark drive it directly and the library feeds it to
// SDL's audio callback.
#pragma once

#include "platform/audio/sample_decode.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
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
    // Stops every decode that is still running and waits for its thread.
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // Takes a decoded sample; a handle, never 0, or 0 when maximum is 0. maximum above
    // kMaxPlaybacks counts as kMaxPlaybacks.
    uint32_t AddSample(DecodedSample sample, uint32_t maximum, uint32_t flags);
    // Takes a stream whose headers are read and checked and decodes its sound on a thread of
    // the sample's own, so that the handle (as AddSample's) comes back at once. Channels of the
    // sample may play from the start: one that reaches the end of what is decoded so far waits
    // there, silent, until more is. A stream that breaks off after its headers (a block that
    // does not decode, more than kMaxSampleSeconds) keeps the sound decoded before the break.
    uint32_t AddStream(std::unique_ptr<VorbisStream> stream, uint32_t maximum, uint32_t flags);
    // The frames of the sample decoded so far; 0 for an unknown sample.
    uint64_t DecodedFrames(uint32_t sample) const;
    // The sample's whole length in frames, waiting for its decode to end; 0 for an unknown one.
    uint64_t SampleLength(uint32_t sample) const;
    // Decoders pause once they have decoded at least `frames` frames of their sample, until a
    // higher hold (kNoHold ends it): tests use it to play ahead of a decode.
    static constexpr uint64_t kNoHold = UINT64_MAX;
    void HoldDecoders(uint64_t frames);
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
        // While a decode runs, its thread writes frames past `ready` without the lock and
        // changes the vector's size (and so its place) only under it.
        DecodedSample sound;
        uint64_t ready = 0;     // frames channels may read
        bool complete = true;   // the decode has ended: ready is the length
        uint32_t maximum = 0;
        bool loop = false;
        std::vector<uint32_t> slots;  // the channels made so far, by handle
        std::thread decoder;
    };
    struct Channel {
        const Sample* sample;
        bool playing = false;
        uint64_t position = 0;  // frame of the sample
        double fraction = 0.0;  // between position and the next frame, for resampling
    };

    void MixChannel(Channel& channel, size_t frames);
    void Decode(Sample* sample, std::unique_ptr<VorbisStream> stream);

    mutable std::mutex lock_;
    mutable std::condition_variable decodeChanged_;  // a decode ended, the hold moved, or stopping
    uint64_t hold_ = kNoHold;
    bool stopping_ = false;
    long outputRate_;
    int volume_ = 100;
    float blockGain_ = 1.0f;  // the gain the last block ended at
    std::vector<std::unique_ptr<Sample>> samples_;
    std::map<uint32_t, Channel> channels_;
    uint32_t nextChannel_ = 0x10000;  // kept apart from sample handles
    std::vector<float> accumulator_;
};

}  // namespace rh::audio
