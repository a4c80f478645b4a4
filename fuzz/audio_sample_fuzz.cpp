// Arbitrary bytes as the music file: decoded whole as a caller of DecodeOggVorbis gets it, and
// as the audio library's sample load takes it -- headers checked at once, the sound decoded on
// the sample's thread while a channel of it already plays for a few mixing blocks, then the
// same after the decode has ended. A decode must hold whole frames of one or two channels at a
// rate within the limits; what decodes whole must open as a stream and give the same length
// there; the mixer must stay inside what is decoded whatever the rates and the timing; anything
// else aborts, besides what ASan and UBSan see.
//
// Input: one options byte (bits 0-1 the output rate: 44100, 48000, 22050 or 8000 Hz; bit 2 the
// loop flag; bits 3-7 the volume in steps of 4, past 100 clamped), then the file.

#include "platform/audio/mixer.h"
#include "platform/audio/sample_decode.h"

#include "fuzz/fuzz_input.h"

#include <cstdint>
#include <vector>

using fuzz_input::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const uint8_t options = data[0];
    const auto block = fuzz_input::ExactCopy(data + 1, size - 1);

    auto whole = rh::audio::DecodeOggVorbis(block.get(), size - 1);
    if (whole) {
        Check(whole->channels == 1 || whole->channels == 2);
        Check(whole->rate >= rh::audio::kMinSampleRate && whole->rate <= rh::audio::kMaxSampleRate);
        Check(whole->FrameCount() > 0 && whole->frames.size() % whole->channels == 0);
        Check(whole->FrameCount() <= rh::audio::kMaxSampleSeconds * static_cast<uint64_t>(whole->rate));
    }
    auto stream = rh::audio::VorbisStream::Open(block.get(), size - 1, true);
    Check(stream != nullptr || !whole);
    if (!stream) return 0;
    const uint64_t maxFrames = stream->MaxFrames();

    static const long kRates[] = {44100, 48000, 22050, 8000};
    rh::audio::Mixer mixer(kRates[options & 3]);
    mixer.SetVolume((options >> 3) * 4);
    const uint32_t flags = (options & 4) ? rh::audio::kSampleLoop : 0;
    const uint64_t wholeFrames = whole ? whole->FrameCount() : 0;
    if (whole) {
        const uint32_t handle = mixer.AddSample(std::move(*whole), 2, flags);
        Check(handle != 0);
        const uint32_t channel = mixer.GetChannel(handle);
        Check(channel != 0 && mixer.Play(channel, true));
    }
    const uint32_t streamed = mixer.AddStream(std::move(stream), 2, flags);
    Check(streamed != 0);
    const uint32_t channel = mixer.GetChannel(streamed);
    Check(channel != 0 && mixer.Play(channel, true));
    std::vector<int16_t> out(1024 * rh::audio::kOutputChannels);
    for (int i = 0; i < 4; ++i) mixer.Mix(out.data(), 1024);
    const uint64_t length = mixer.SampleLength(streamed);
    Check(length <= maxFrames);
    Check(wholeFrames == 0 || length == wholeFrames);
    for (int i = 0; i < 2; ++i) mixer.Mix(out.data(), 1024);
    return 0;
}
