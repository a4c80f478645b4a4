#include "platform/audio/mixer.h"

#include <algorithm>
#include <cmath>

namespace rh::audio {

Mixer::Mixer(long outputRate) : outputRate_(outputRate > 0 ? outputRate : 44100) {}

Mixer::~Mixer() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    decodeChanged_.notify_all();
    // Without the lock: a decoder takes it to publish its last block.
    for (auto& sample : samples_) {
        if (sample->decoder.joinable()) sample->decoder.join();
    }
}

uint32_t Mixer::AddSample(DecodedSample sample, uint32_t maximum, uint32_t flags) {
    if (maximum == 0 || sample.FrameCount() == 0) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    auto added = std::make_unique<Sample>();
    added->sound = std::move(sample);
    added->ready = added->sound.FrameCount();
    added->maximum = std::min(maximum, kMaxPlaybacks);
    added->loop = (flags & kSampleLoop) != 0;
    samples_.push_back(std::move(added));
    return static_cast<uint32_t>(samples_.size());
}

uint32_t Mixer::AddStream(std::unique_ptr<VorbisStream> stream, uint32_t maximum, uint32_t flags) {
    if (maximum == 0 || stream == nullptr) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    auto added = std::make_unique<Sample>();
    added->sound.rate = stream->Rate();
    added->sound.channels = stream->Channels();
    added->complete = false;
    added->maximum = std::min(maximum, kMaxPlaybacks);
    added->loop = (flags & kSampleLoop) != 0;
    Sample* sample = added.get();
    samples_.push_back(std::move(added));
    // The thread starts under the lock: the sample is in place before it can publish.
    sample->decoder = std::thread(&Mixer::Decode, this, sample, std::move(stream));
    return static_cast<uint32_t>(samples_.size());
}

// Decodes block by block into a buffer of the thread's own, then appends each block to the
// sample's frames under the lock (reserved for the length the headers give, so the frames
// move only when a stream runs longer than it said), up to the limit of a sample's length.
void Mixer::Decode(Sample* sample, std::unique_ptr<VorbisStream> stream) {
    const size_t channels = static_cast<size_t>(stream->Channels());
    const uint64_t maxFrames = stream->MaxFrames();
    std::vector<int16_t> storage;
    storage.reserve(static_cast<size_t>(stream->ExpectedFrames()) * channels);
    {
        std::lock_guard<std::mutex> guard(lock_);
        sample->sound.frames.swap(storage);
    }
    std::vector<int16_t> block(8192);
    const size_t blockFrames = block.size() / channels;
    uint64_t at = 0;
    while (at < maxFrames) {
        {
            std::unique_lock<std::mutex> guard(lock_);
            decodeChanged_.wait(guard, [&] { return stopping_ || at < hold_; });
            if (stopping_) break;
        }
        const long got = stream->Next(block.data(), static_cast<size_t>(std::min<uint64_t>(blockFrames, maxFrames - at)));
        if (got <= 0) break;
        at += static_cast<uint64_t>(got);
        std::lock_guard<std::mutex> guard(lock_);
        sample->sound.frames.insert(sample->sound.frames.end(), block.begin(),
                                    block.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(got) * channels));
        sample->ready = at;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        sample->complete = true;
    }
    decodeChanged_.notify_all();
}

uint64_t Mixer::DecodedFrames(uint32_t sample) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (sample == 0 || sample > samples_.size()) return 0;
    return samples_[sample - 1]->ready;
}

uint64_t Mixer::SampleLength(uint32_t sample) const {
    std::unique_lock<std::mutex> guard(lock_);
    if (sample == 0 || sample > samples_.size()) return 0;
    const Sample& s = *samples_[sample - 1];
    decodeChanged_.wait(guard, [&] { return s.complete; });
    return s.ready;
}

void Mixer::HoldDecoders(uint64_t frames) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        hold_ = frames;
    }
    decodeChanged_.notify_all();
}

uint32_t Mixer::GetChannel(uint32_t sample) {
    std::lock_guard<std::mutex> guard(lock_);
    if (sample == 0 || sample > samples_.size()) return 0;
    Sample& s = *samples_[sample - 1];
    const uint32_t handle = nextChannel_++;
    for (uint32_t& slot : s.slots) {
        auto found = channels_.find(slot);
        if (found->second.playing) continue;
        // A stopped channel is handed out again under a new handle; the old one lapses.
        channels_.erase(found);
        slot = handle;
        channels_[handle] = Channel{&s};
        return handle;
    }
    if (s.slots.size() >= s.maximum) return 0;
    s.slots.push_back(handle);
    channels_[handle] = Channel{&s};
    return handle;
}

bool Mixer::Play(uint32_t channel, bool restart) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = channels_.find(channel);
    if (found == channels_.end()) return false;
    Channel& c = found->second;
    if (restart) {
        c.position = 0;
        c.fraction = 0.0;
    }
    c.playing = true;
    return true;
}

bool Mixer::IsPlaying(uint32_t channel) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = channels_.find(channel);
    return found != channels_.end() && found->second.playing;
}

void Mixer::SetVolume(int volume) {
    std::lock_guard<std::mutex> guard(lock_);
    volume_ = std::clamp(volume, 0, 100);
}

int Mixer::Volume() const {
    std::lock_guard<std::mutex> guard(lock_);
    return volume_;
}

void Mixer::SetOutputRate(long rate) {
    std::lock_guard<std::mutex> guard(lock_);
    if (rate > 0) outputRate_ = rate;
}

long Mixer::OutputRate() const {
    std::lock_guard<std::mutex> guard(lock_);
    return outputRate_;
}

void Mixer::Mix(int16_t* out, size_t frames) {
    if (frames == 0) return;
    std::lock_guard<std::mutex> guard(lock_);
    accumulator_.assign(frames * kOutputChannels, 0.0f);
    for (auto& [handle, channel] : channels_) {
        if (channel.playing) MixChannel(channel, frames);
    }
    // The gain moves from where the last block ended to the volume in even steps, so a change
    // of volume never jumps within a wave.
    const float target = static_cast<float>(volume_) / 100.0f;
    const float start = blockGain_;
    const float slope = (target - start) / static_cast<float>(frames);
    for (size_t i = 0; i < frames; ++i) {
        const float gain = i + 1 == frames ? target : start + slope * static_cast<float>(i + 1);
        for (int c = 0; c < kOutputChannels; ++c) {
            const float value = std::nearbyint(accumulator_[i * kOutputChannels + c] * gain);
            out[i * kOutputChannels + c] = static_cast<int16_t>(std::clamp(value, -32768.0f, 32767.0f));
        }
    }
    blockGain_ = target;
}

// Linear interpolation between neighbouring frames at the sample's rate over the output's;
// at equal rates the step is exactly 1 and the frames pass through unchanged. A looping
// sample's last frame leads into its first, so the seam has no gap.
//
// While the sample is still being decoded, a channel that needs a frame not yet decoded waits
// on the frame it is at, silent for the rest of the block.
void Mixer::MixChannel(Channel& channel, size_t frames) {
    const DecodedSample& sound = channel.sample->sound;
    const bool loop = channel.sample->loop;
    const bool complete = channel.sample->complete;
    const uint64_t count = channel.sample->ready;
    if (complete && count == 0) {
        // A decode that broke off before any sound: the channel ends at once.
        channel.playing = false;
        channel.position = 0;
        channel.fraction = 0.0;
        return;
    }
    if (complete && channel.position >= count) {
        // It waited past the end of what was decoded then, and the decode ended there.
        channel.position = loop ? channel.position % count : 0;
        channel.fraction = loop ? channel.fraction : 0.0;
        channel.playing = loop;
        if (!loop) return;
    }
    const int16_t* data = sound.frames.data();
    const bool stereo = sound.channels == 2;
    const double step = static_cast<double>(sound.rate) / static_cast<double>(outputRate_);
    float* acc = accumulator_.data();
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t here = channel.position;
        if (!complete && here + 1 >= count) return;
        uint64_t next = here + 1;
        if (next >= count) next = loop ? 0 : here;
        const float f = static_cast<float>(channel.fraction);
        const int16_t* a = data + here * sound.channels;
        const int16_t* b = data + next * sound.channels;
        const float left = a[0] + (b[0] - a[0]) * f;
        const float right = stereo ? a[1] + (b[1] - a[1]) * f : left;
        acc[i * 2] += left;
        acc[i * 2 + 1] += right;

        channel.fraction += step;
        const double whole = std::floor(channel.fraction);
        channel.fraction -= whole;
        channel.position += static_cast<uint64_t>(whole);
        if (complete && channel.position >= count) {
            if (loop) {
                channel.position %= count;
            } else {
                channel.playing = false;
                channel.position = 0;
                channel.fraction = 0.0;
                return;
            }
        }
    }
}

}  // namespace rh::audio
