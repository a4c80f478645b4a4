// The saver's music: a calm night tune made from nothing but code. An old German folk song
// ("O Tannenbaum", public domain) is written in here as notes and played on bells from the
// loop's first beat: a verse, a short interlude of broken chords, the verse again with a
// celesta an octave up, and the tune's second half once more, softly, leading back into the
// start. Under it, slow string-like pad chords and a soft bass, all in a small reverb, with
// gentle dynamics between the sections and within the phrases. The music is a loop: every
// voice and the reverb's tail wrap round from its end into its start, so it repeats without a
// seam. Its level is set by its RMS, not its peak.
//
// Everything is computed the same way every run (no random numbers, fixed encoder settings and
// stream serial): the same source gives the same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace rh::musicmake {

inline constexpr long kSampleRate = 44100;
inline constexpr int kChannels = 2;
// 72 beats a minute: a whole number of frames a beat, so the loop is whole frames too.
inline constexpr size_t kFramesPerBeat = kSampleRate * 60 / 72;
inline constexpr int kBeatsPerBar = 3;
inline constexpr int kBars = 36;
inline constexpr size_t kLoopFrames = kFramesPerBeat * kBeatsPerBar * kBars;  // 90 s
// The loop's level: its RMS over both channels, in dB of full scale. Its loudest sample must
// stay under kPeak (3 dB below full scale, room for the encoder's overshoot).
inline constexpr double kLevelDb = -20.0;
inline constexpr float kPeak = 0.7079458f;
inline constexpr float kVorbisQuality = 0.2f;
inline constexpr int kStreamSerial = 0x52686d31;

// The loop as interleaved stereo samples, kLoopFrames frames, its RMS at kLevelDb; its
// loudest samples are softly limited to kPeak should any pass it.
std::vector<float> RenderLoop();

// Interleaved stereo samples at kSampleRate as a whole Ogg Vorbis file (VBR at kVorbisQuality,
// stream serial kStreamSerial); empty when the encoder refuses.
std::string EncodeVorbis(const std::vector<float>& interleaved);

// The music file: RenderLoop encoded.
std::string MakeMusic();

// Writes the music file to `path`. False with a message when it cannot be made or written.
bool WriteMusic(const std::string& path, std::string* error);

}  // namespace rh::musicmake
