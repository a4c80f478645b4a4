// The audio library's exported functions: one mixer for the process, fed to SDL's audio
// callback (device 1) or to nothing (device 0, the no-sound device). The program loads the
// library from a file and never calls a free function, so unloading it stops the output.

#include "platform/audio/mixer.h"
#include "platform/audio/sample_decode.h"

#include <bass.h>

#include <SDL.h>

#include <climits>
#include <memory>
#include <mutex>

#define RH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr DWORD kDefaultFrequency = 44100;
// Frames per SDL callback: about 23 ms at 44.1 kHz, also the span of a volume ramp.
constexpr Uint16 kBlockFrames = 1024;

struct Output {
    std::mutex lock;  // guards the fields below, not the mixer (which has its own)
    std::unique_ptr<rh::audio::Mixer> mixer;
    SDL_AudioDeviceID device = 0;
    bool audioSubsystem = false;

    void Close() {
        if (device != 0) SDL_CloseAudioDevice(device);  // waits for the callback to return
        device = 0;
        if (audioSubsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioSubsystem = false;
        mixer.reset();  // stops and joins any decode still running: its code leaves with us
    }
    // The library's unload: the program frees nothing itself.
    ~Output() { Close(); }
};

Output g_output;

void FillBlock(void* userdata, Uint8* stream, int length) {
    auto* mixer = static_cast<rh::audio::Mixer*>(userdata);
    mixer->Mix(reinterpret_cast<int16_t*>(stream),
               static_cast<size_t>(length) / (sizeof(int16_t) * rh::audio::kOutputChannels));
}

rh::audio::Mixer* TheMixer() {
    std::lock_guard<std::mutex> guard(g_output.lock);
    return g_output.mixer.get();
}

}  // namespace

RH_EXPORT BOOL BASS_Init(int device, DWORD frequency, DWORD /*flags*/, HWND /*window*/, const void* /*guid*/) {
    std::lock_guard<std::mutex> guard(g_output.lock);
    if (g_output.mixer != nullptr || (device != 0 && device != 1)) return FALSE;
    if (frequency == 0 || frequency > static_cast<DWORD>(rh::audio::kMaxSampleRate)) frequency = kDefaultFrequency;
    auto mixer = std::make_unique<rh::audio::Mixer>(static_cast<long>(frequency));
    if (device == 1) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return FALSE;
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(frequency);
        want.format = AUDIO_S16SYS;
        want.channels = rh::audio::kOutputChannels;
        want.samples = kBlockFrames;
        want.callback = FillBlock;
        want.userdata = mixer.get();
        SDL_AudioSpec have{};
        // The device may take another rate: the mixer resamples to it.
        const SDL_AudioDeviceID id =
            SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (id == 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return FALSE;
        }
        mixer->SetOutputRate(have.freq);
        g_output.device = id;
        g_output.audioSubsystem = true;
        g_output.mixer = std::move(mixer);
        SDL_PauseAudioDevice(id, 0);
        return TRUE;
    }
    g_output.mixer = std::move(mixer);
    return TRUE;
}

RH_EXPORT BOOL BASS_Set3DFactors(float /*distance*/, float /*rolloff*/, float /*doppler*/) {
    return TheMixer() != nullptr ? TRUE : FALSE;
}

RH_EXPORT void BASS_Apply3D(void) {}

RH_EXPORT DWORD BASS_SetConfig(DWORD option, DWORD value) {
    rh::audio::Mixer* mixer = TheMixer();
    if (option != BASS_CONFIG_GVOL_SAMPLE || mixer == nullptr) return static_cast<DWORD>(-1);
    // A negative volume arrives as a large DWORD: read it back as the signed number it was.
    const int volume = value > static_cast<DWORD>(INT_MAX) ? -1 : static_cast<int>(value);
    mixer->SetVolume(volume);
    return static_cast<DWORD>(mixer->Volume());
}

RH_EXPORT HSAMPLE BASS_SampleLoad(BOOL memory, const void* file, DWORD offset, DWORD length, DWORD maximum,
                                  DWORD flags) {
    rh::audio::Mixer* mixer = TheMixer();
    if (mixer == nullptr || !memory || file == nullptr || maximum == 0) return 0;
    // The headers are read and checked now; the sound is decoded behind the call, from a copy
    // of the bytes (the caller's may go as soon as this returns).
    auto stream = rh::audio::VorbisStream::Open(static_cast<const unsigned char*>(file) + offset, length, true);
    if (!stream) return 0;
    return mixer->AddStream(std::move(stream), maximum, flags);
}

RH_EXPORT HCHANNEL BASS_SampleGetChannel(HSAMPLE sample, BOOL /*onlyNew*/) {
    rh::audio::Mixer* mixer = TheMixer();
    return mixer != nullptr ? mixer->GetChannel(sample) : 0;
}

RH_EXPORT BOOL BASS_ChannelPlay(DWORD channel, BOOL restart) {
    rh::audio::Mixer* mixer = TheMixer();
    return mixer != nullptr && mixer->Play(channel, restart != FALSE) ? TRUE : FALSE;
}
