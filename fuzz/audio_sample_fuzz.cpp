// Arbitrary bytes as the music file: decoded as the audio library's sample load decodes it,
// then played on a channel of the sample for a few mixing blocks. A decode must hold whole
// frames of one or two channels at a rate within the limits, and the mixer must stay inside the
// sample whatever the rates; anything else aborts, besides what ASan and UBSan see.
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

    auto sample = rh::audio::DecodeOggVorbis(block.get(), size - 1);
    if (!sample) return 0;
    Check(sample->channels == 1 || sample->channels == 2);
    Check(sample->rate >= rh::audio::kMinSampleRate && sample->rate <= rh::audio::kMaxSampleRate);
    Check(sample->FrameCount() > 0 && sample->frames.size() % sample->channels == 0);
    Check(sample->FrameCount() <= rh::audio::kMaxSampleSeconds * static_cast<uint64_t>(sample->rate));

    static const long kRates[] = {44100, 48000, 22050, 8000};
    rh::audio::Mixer mixer(kRates[options & 3]);
    mixer.SetVolume((options >> 3) * 4);
    const uint32_t handle = mixer.AddSample(std::move(*sample), 2, (options & 4) ? rh::audio::kSampleLoop : 0);
    Check(handle != 0);
    const uint32_t channel = mixer.GetChannel(handle);
    Check(channel != 0 && mixer.Play(channel, true));
    std::vector<int16_t> out(1024 * rh::audio::kOutputChannels);
    for (int i = 0; i < 4; ++i) mixer.Mix(out.data(), 1024);
    return 0;
}
