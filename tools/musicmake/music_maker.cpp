#include "tools/musicmake/music_maker.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace rh::musicmake {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = static_cast<double>(kSampleRate);
constexpr double kBeatSeconds = static_cast<double>(kFramesPerBeat) / kRate;

double MidiHertz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// Equal-power gains of a position from -1 (left) to 1 (right).
std::array<float, 2> Pan(double position) {
    const double angle = (position + 1.0) * kPi / 4.0;
    return {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
}

// 0.5 - 0.5 cos(pi x) for x in [0, 1], the smooth rise of every swell and onset, from a table:
// the envelopes need it for millions of samples.
class RaisedCosine {
public:
    static constexpr int kSize = 2048;
    RaisedCosine() {
        for (int i = 0; i <= kSize; ++i) table_[i] = 0.5 - 0.5 * std::cos(kPi * i / kSize);
    }
    double operator()(double x) const {
        const double at = std::clamp(x, 0.0, 1.0) * kSize;
        const int i = std::min(static_cast<int>(at), kSize - 1);
        return table_[i] + (table_[i + 1] - table_[i]) * (at - i);
    }

private:
    std::array<double, kSize + 1> table_;
};
const RaisedCosine kRise;

// The loop being built: every sound is added at its frame modulo the loop length, so what rings
// past the end is heard at the start.
class LoopBuffer {
public:
    LoopBuffer() : samples_(kLoopFrames * kChannels, 0.0f) {}

    // Adds frame after frame from `frame` on, round the loop.
    class Writer {
    public:
        Writer(std::vector<float>& samples, size_t frame) : samples_(samples.data()), at_(frame % kLoopFrames) {}
        void Add(float left, float right) {
            samples_[at_ * kChannels] += left;
            samples_[at_ * kChannels + 1] += right;
            if (++at_ == kLoopFrames) at_ = 0;
        }

    private:
        float* samples_;
        size_t at_;
    };
    Writer From(size_t frame) { return Writer(samples_, frame); }
    std::vector<float>& samples() { return samples_; }

private:
    std::vector<float> samples_;
};

// ---- Struck voices: decaying partials, the bell's inharmonic, the celesta's nearly harmonic.

struct Partial {
    double ratio;      // of the fundamental
    double amplitude;
    double decay;      // seconds for the partial to fall by 1/e
};

struct StruckVoice {
    std::vector<Partial> partials;
    double attack;     // seconds of the raised-cosine onset
    double damping;    // 1/e seconds once the note has been held its length
};

const StruckVoice kBell{{{1.0, 1.0, 2.6}, {2.0, 0.32, 1.5}, {2.76, 0.16, 1.0}, {4.07, 0.12, 0.55},
                         {5.43, 0.06, 0.32}, {8.93, 0.02, 0.14}},
                        0.004,
                        1.2};
const StruckVoice kCelesta{{{1.0, 1.0, 1.7}, {2.0, 0.1, 0.9}, {4.0, 0.09, 0.35}, {5.93, 0.025, 0.15}},
                           0.003,
                           0.9};
const StruckVoice kSoftBass{{{1.0, 1.0, 2.4}, {2.0, 0.22, 1.2}, {3.0, 0.05, 0.5}}, 0.02, 1.0};

// Adds one struck note: `seconds` held, then damped; the partials run as rotating phasors so
// that a note costs a few multiplications a sample.
void Strike(LoopBuffer& out, const StruckVoice& voice, size_t startFrame, double hertz, double seconds,
            double level, double pan) {
    const double ringSeconds = seconds + 5.0 * voice.damping;
    const size_t frames = static_cast<size_t>(ringSeconds * kRate);
    const size_t heldFrames = static_cast<size_t>(seconds * kRate);
    const size_t attackFrames = std::max<size_t>(1, static_cast<size_t>(voice.attack * kRate));
    const std::array<float, 2> gains = Pan(pan);

    struct Phasor {
        double re, im, stepRe, stepIm, amplitude, fall;
    };
    std::vector<Phasor> phasors;
    for (const Partial& p : voice.partials) {
        const double f = hertz * p.ratio;
        if (f >= kRate * 0.45) continue;
        const double w = 2.0 * kPi * f / kRate;
        phasors.push_back({1.0, 0.0, std::cos(w), std::sin(w), p.amplitude, std::exp(-1.0 / (p.decay * kRate))});
    }
    const double dampFall = std::exp(-1.0 / (voice.damping * kRate));
    LoopBuffer::Writer writer = out.From(startFrame);
    double damp = 1.0;
    for (size_t i = 0; i < frames; ++i) {
        double value = 0.0;
        for (Phasor& p : phasors) {
            value += p.im * p.amplitude;
            const double re = p.re * p.stepRe - p.im * p.stepIm;
            p.im = p.re * p.stepIm + p.im * p.stepRe;
            p.re = re;
            p.amplitude *= p.fall;
        }
        if ((i & 1023) == 1023) {
            // Keeps the phasors on the unit circle against rounding.
            for (Phasor& p : phasors) {
                const double length = std::sqrt(p.re * p.re + p.im * p.im);
                p.re /= length;
                p.im /= length;
            }
        }
        double envelope = damp;
        if (i < attackFrames) envelope *= kRise(static_cast<double>(i) / attackFrames);
        if (i >= heldFrames) damp *= dampFall;
        // The last few milliseconds fade to nothing, so no note ends on a step.
        const size_t left = frames - i;
        if (left < 256) envelope *= static_cast<double>(left) / 256.0;
        const double s = value * envelope * level;
        writer.Add(static_cast<float>(s * gains[0]), static_cast<float>(s * gains[1]));
    }
}

// ---- The pad: a soft, string-like tone from a table of harmonics falling as 1/k², two
// slightly detuned copies spread left and right, swelling in and out.

class PadTable {
public:
    static constexpr int kSize = 4096;
    PadTable() {
        double peak = 0.0;
        for (int i = 0; i <= kSize; ++i) {
            double v = 0.0;
            for (int k = 1; k <= 7; ++k) v += std::sin(2.0 * kPi * k * i / kSize) / (k * k);
            table_[i] = v;
            peak = std::max(peak, std::abs(v));
        }
        for (double& v : table_) v /= peak;
    }
    double At(double phase) const {  // phase in [0, 1)
        const double x = phase * kSize;
        const int i = static_cast<int>(x);
        const double f = x - i;
        return table_[i] + (table_[i + 1] - table_[i]) * f;
    }

private:
    std::array<double, kSize + 1> table_;
};

void Pad(LoopBuffer& out, const PadTable& table, size_t startFrame, double hertz, double seconds, double level,
         double phaseSeed) {
    constexpr double kAttack = 1.6, kRelease = 2.2, kDetune = 0.0018;
    const size_t frames = static_cast<size_t>((seconds + kRelease) * kRate);
    const double holdEnd = seconds;
    const double step1 = hertz * (1.0 - kDetune) / kRate, step2 = hertz * (1.0 + kDetune) / kRate;
    double phase1 = phaseSeed, phase2 = std::fmod(phaseSeed + 0.37, 1.0);
    LoopBuffer::Writer writer = out.From(startFrame);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double envelope = 1.0;
        if (t < kAttack) envelope = kRise(t / kAttack);
        if (t > holdEnd) envelope *= 1.0 - kRise((t - holdEnd) / kRelease);
        const double a = table.At(phase1), b = table.At(phase2);
        phase1 += step1;
        if (phase1 >= 1.0) phase1 -= 1.0;
        phase2 += step2;
        if (phase2 >= 1.0) phase2 -= 1.0;
        const double g = envelope * level;
        writer.Add(static_cast<float>(g * (0.8 * a + 0.2 * b)), static_cast<float>(g * (0.2 * a + 0.8 * b)));
    }
}

// ---- The score, in F major, three beats a bar.

struct Chord {
    int bass;                 // MIDI note of the bass, F2 to D3
    std::vector<int> tones;   // intervals above the bass
};

const Chord kF{41, {0, 4, 7}};
const Chord kBb{46, {0, 4, 7}};
const Chord kGm{43, {0, 3, 7}};
const Chord kC7{48, {0, 4, 7, 10}};
const Chord kDm{50, {0, 3, 7}};

// One chord a bar. The loop starts on the tune's first downbeat, no introduction: the verse
// on bells, a short interlude of broken chords, the verse again on bells with a celesta an
// octave up, and the tune's second half once more, softly, whose last beat is the upbeat back
// into the start.
const Chord* const kChords[kBars] = {
    &kF,  &kF,  &kC7, &kF, &kDm, &kGm, &kC7, &kF, &kF, &kF, &kC7, &kF,                    // verse
    &kDm, &kBb, &kGm, &kC7,                                                               // interlude
    &kF,  &kF,  &kC7, &kF, &kDm, &kGm, &kC7, &kF, &kF, &kF, &kC7, &kF,                    // verse
    &kDm, &kGm, &kC7, &kF, &kF, &kF, &kC7, &kF,                                           // reprise
};
constexpr int kFirstVerseBar = 0;
constexpr int kInterludeBar = 12;
constexpr int kSecondVerseBar = 16;
constexpr int kRepriseBar = 28;
constexpr double kLoopBeats = double(kBars * kBeatsPerBar);

struct MelodyNote {
    double beats;
    int midi;
};

// The tune from its upbeat, one verse: "O Tannenbaum, o Tannenbaum, wie treu sind deine
// Blätter! Du grünst nicht nur zur Sommerzeit, nein, auch im Winter, wenn es schneit. O
// Tannenbaum, ..." (12 bars after the upbeat).
const MelodyNote kTune[] = {
    {1, 60},                                            // upbeat
    {0.75, 65}, {0.25, 65}, {1.5, 65}, {0.5, 67},       // 1
    {0.75, 69}, {0.25, 69}, {1.5, 69}, {0.5, 69},       // 2
    {0.5, 67},  {0.5, 69},  {1.5, 70}, {0.5, 64},       // 3
    {1, 67},    {1, 65},    {1, 72},                    // 4, upbeat
    {0.5, 72},  {0.5, 69},  {1.5, 74}, {0.5, 72},       // 5
    {0.5, 72},  {0.5, 70},  {1.5, 70}, {0.5, 70},       // 6
    {0.5, 70},  {0.5, 67},  {1.5, 72}, {0.5, 70},       // 7
    {0.5, 70},  {0.5, 69},  {1, 69},   {1, 60},         // 8, upbeat
    {0.75, 65}, {0.25, 65}, {1.5, 65}, {0.5, 67},       // 9
    {0.75, 69}, {0.25, 69}, {1.5, 69}, {0.5, 69},       // 10
    {0.5, 67},  {0.5, 69},  {1.5, 70}, {0.5, 64},       // 11
    {1, 67},    {2, 65},                                // 12
};
constexpr size_t kTuneNotes = sizeof(kTune) / sizeof(kTune[0]);
constexpr size_t kSecondHalf = 16;  // kTune's index of bar 5's first note
// The reprise's last bar: its last beat is the first verse's upbeat, round the loop.
const MelodyNote kRepriseEnd[] = {{1, 67}, {1, 65}};

// Frame of a beat round the loop: beats before the start count from the loop's end.
size_t BeatFrame(double beat) {
    const double wrapped = std::fmod(beat + kLoopBeats, kLoopBeats);
    return static_cast<size_t>(std::llround(wrapped * kFramesPerBeat)) % kLoopFrames;
}

// The loop's dynamics, a level for every beat: each section has its own, and the phrases
// swell a little towards their third bar; changes glide over a bar, and the level at the end
// leads into the start's.
double Dynamics(double beat) {
    auto section = [](double b) {
        const double bar = std::fmod(b / kBeatsPerBar + kBars, double(kBars));
        if (bar < kInterludeBar) return 0.86;
        if (bar < kSecondVerseBar) return 0.7;
        if (bar < kRepriseBar) return 1.0;
        return 0.74;
    };
    const double bars = beat / kBeatsPerBar;
    const double into = bars - std::floor(bars);
    // Over a section's first bar the level glides there from the last bar's.
    const double before = section(beat - kBeatsPerBar), now = section(beat);
    const double level = before + (now - before) * kRise(into);
    // The swell of four-bar phrases: softest on their first bar, fullest on the third.
    const double phraseBar = std::fmod(std::floor(bars) + kBars, 4.0);
    const double swell = 0.93 + 0.07 * std::sin(kPi * (phraseBar + into) / 4.0);
    return level * swell;
}

// The chord's tones between G3 and F#4, lowest first.
std::vector<int> PadVoicing(const Chord& chord) {
    std::vector<int> notes;
    for (int interval : chord.tones) {
        int note = chord.bass + interval;
        while (note < 55) note += 12;
        while (note >= 67) note -= 12;
        notes.push_back(note);
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

// Plays notes from `beat` on, returns the beat after the last.
double PlayNotes(LoopBuffer& out, const MelodyNote* notes, size_t count, double beat, const StruckVoice& voice,
                 int transpose, double level, double pan) {
    for (size_t i = 0; i < count; ++i) {
        const MelodyNote& note = notes[i];
        const double inBar = std::fmod(beat + kLoopBeats, double(kBeatsPerBar));
        const double accent = inBar < 1e-9 ? 1.0 : (std::abs(inBar - 2.0) < 1e-9 ? 0.8 : 0.88);
        Strike(out, voice, BeatFrame(beat), MidiHertz(note.midi + transpose), note.beats * kBeatSeconds,
               level * accent * Dynamics(beat), pan);
        beat += note.beats;
    }
    return beat;
}

// The whole verse, its upbeat on the beat before `firstBar`.
void PlayVerse(LoopBuffer& out, int firstBar, const StruckVoice& voice, int transpose, double level, double pan) {
    PlayNotes(out, kTune, kTuneNotes, firstBar * kBeatsPerBar - 1.0, voice, transpose, level, pan);
}

void Compose(LoopBuffer& out) {
    const PadTable table;
    for (int bar = 0; bar < kBars; ++bar) {
        const Chord& chord = *kChords[bar];
        const double barBeat = bar * kBeatsPerBar;
        const double barSeconds = kBeatsPerBar * kBeatSeconds;
        const double dynamics = Dynamics(barBeat + 1.0);
        // Pads: the chord's tones and the bass an octave up, overlapping the next bar's swell.
        std::vector<int> voicing = PadVoicing(chord);
        voicing.push_back(chord.bass + 12);
        for (size_t i = 0; i < voicing.size(); ++i) {
            const double seed = std::fmod(0.137 * voicing[i] + 0.291 * bar, 1.0);
            Pad(out, table, BeatFrame(barBeat), MidiHertz(voicing[i]), barSeconds, 0.03 * dynamics, seed);
        }
        // The soft bass on the bar's first beat, and its fifth softly on the third in the fuller
        // sections.
        Strike(out, kSoftBass, BeatFrame(barBeat), MidiHertz(chord.bass), barSeconds, 0.14 * dynamics, 0.0);
        if (dynamics > 0.9) {
            Strike(out, kSoftBass, BeatFrame(barBeat + 2.0), MidiHertz(chord.bass + 7), kBeatSeconds, 0.06 * dynamics,
                   0.0);
        }
        // In the interlude, the chord broken slowly on a high bell; its last bar leaves the
        // last beat to the verse's upbeat.
        if (bar >= kInterludeBar && bar < kSecondVerseBar) {
            const bool beforeVerse = bar + 1 == kSecondVerseBar;
            std::vector<int> tones = PadVoicing(chord);
            for (int beat = 0; beat < kBeatsPerBar; ++beat) {
                if (beforeVerse && beat == kBeatsPerBar - 1) break;
                const int note = tones[(beat * 2 + bar) % tones.size()] + 12;
                Strike(out, kBell, BeatFrame(barBeat + beat), MidiHertz(note), kBeatSeconds,
                       0.085 * Dynamics(barBeat + beat), beat % 2 == 0 ? 0.45 : -0.45);
            }
        }
    }
    // The melody on bells throughout; the second verse doubled an octave up on the celesta.
    PlayVerse(out, kFirstVerseBar, kBell, 0, 0.2, -0.1);
    PlayVerse(out, kSecondVerseBar, kBell, 0, 0.2, -0.1);
    PlayVerse(out, kSecondVerseBar, kCelesta, 12, 0.07, 0.25);
    const double end = PlayNotes(out, kTune + kSecondHalf, kTuneNotes - kSecondHalf - 2, kRepriseBar * kBeatsPerBar,
                                 kBell, 0, 0.2, -0.1);
    PlayNotes(out, kRepriseEnd, 2, end, kBell, 0, 0.2, -0.1);
}

// ---- The reverb: eight delay lines fed back through a Hadamard matrix, each with a gentle
// low-pass so that the highs die first, a decay of about three seconds.

class Reverb {
public:
    Reverb() {
        constexpr double kDecaySeconds = 3.0;
        constexpr std::array<int, kLines> kLengths = {1433, 1601, 1867, 2053, 2251, 2399, 2617, 2797};
        for (int i = 0; i < kLines; ++i) {
            lines_[i].assign(kLengths[i], 0.0);
            gain_[i] = std::pow(10.0, -3.0 * kLengths[i] / (kDecaySeconds * kRate));
        }
        preDelay_.assign(static_cast<size_t>(0.025 * kRate), 0.0);
    }

    // One frame in (mono), two out.
    void Process(double in, double& left, double& right) {
        const double delayed = preDelay_[preAt_];
        preDelay_[preAt_] = in;
        if (++preAt_ == preDelay_.size()) preAt_ = 0;

        std::array<double, kLines> taps;
        for (int i = 0; i < kLines; ++i) {
            const double raw = lines_[i][at_[i]];
            lowpass_[i] += (raw - lowpass_[i]) * (1.0 - kDamping);
            taps[i] = lowpass_[i] * gain_[i];
        }
        left = taps[0] - taps[2] + taps[4] - taps[6];
        right = taps[1] - taps[3] + taps[5] - taps[7];
        // Fast Hadamard transform of the taps, scaled to keep energy.
        for (int span = 1; span < kLines; span *= 2) {
            for (int i = 0; i < kLines; i += span * 2) {
                for (int j = i; j < i + span; ++j) {
                    const double a = taps[j], b = taps[j + span];
                    taps[j] = a + b;
                    taps[j + span] = a - b;
                }
            }
        }
        constexpr double kScale = 0.35355339059327373;  // 1/sqrt(8)
        for (int i = 0; i < kLines; ++i) {
            lines_[i][at_[i]] = taps[i] * kScale + ((i & 1) ? -delayed : delayed);
            if (++at_[i] == lines_[i].size()) at_[i] = 0;
        }
    }

private:
    static constexpr int kLines = 8;
    static constexpr double kDamping = 0.3;
    std::array<std::vector<double>, kLines> lines_;
    std::array<size_t, kLines> at_{};
    std::array<double, kLines> gain_{};
    std::array<double, kLines> lowpass_{};
    std::vector<double> preDelay_;
    size_t preAt_ = 0;
};

double Rms(const std::vector<float>& samples) {
    double sum = 0.0;
    for (float s : samples) sum += static_cast<double>(s) * s;
    return std::sqrt(sum / std::max<size_t>(1, samples.size()));
}

}  // namespace

std::vector<float> RenderLoop() {
    LoopBuffer dry;
    Compose(dry);
    const std::vector<float>& drySamples = dry.samples();

    // The reverb runs over the loop twice and the second pass is kept: by then its tail from
    // the loop's end is what it carries into the start, as it will when the loop repeats.
    Reverb reverb;
    std::vector<float> wet(drySamples.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < kLoopFrames; ++i) {
            double left = 0.0, right = 0.0;
            reverb.Process(0.5 * (drySamples[2 * i] + drySamples[2 * i + 1]), left, right);
            wet[2 * i] = static_cast<float>(left);
            wet[2 * i + 1] = static_cast<float>(right);
        }
    }
    // The wet sound sits about 7 dB under the dry.
    const double wetRms = Rms(wet);
    const double wetGain = wetRms > 0.0 ? 0.45 * Rms(drySamples) / wetRms : 0.0;
    // Mixed in place of the wet sound, then brought to the loop's level.
    std::vector<float>& mixed = wet;
    for (size_t i = 0; i < mixed.size(); ++i) mixed[i] = static_cast<float>(drySamples[i] + wetGain * wet[i]);
    const double rms = Rms(mixed);
    const double gain = rms > 0.0 ? std::pow(10.0, kLevelDb / 20.0) / rms : 0.0;
    // A soft knee from 2 dB under kPeak: samples above it bend towards kPeak and never reach
    // it (a bell's strike now and then; too few to move the RMS).
    const double knee = kPeak * 0.7943282;
    for (float& sample : mixed) {
        const double v = sample * gain, magnitude = std::abs(v);
        double out = magnitude;
        if (magnitude > knee) out = knee + (kPeak - knee) * std::tanh((magnitude - knee) / (kPeak - knee));
        sample = static_cast<float>(v < 0.0 ? -out : out);
    }
    return mixed;
}

namespace {

void AppendPage(std::string& out, const ogg_page& page) {
    out.append(reinterpret_cast<const char*>(page.header), page.header_len);
    out.append(reinterpret_cast<const char*>(page.body), page.body_len);
}

}  // namespace

std::string EncodeVorbis(const std::vector<float>& interleaved) {
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, kChannels, kSampleRate, kVorbisQuality) != 0) {
        vorbis_info_clear(&info);
        return {};
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, kStreamSerial);

    std::string out;
    ogg_packet identification, comments, codebooks;
    vorbis_analysis_headerout(&dsp, &comment, &identification, &comments, &codebooks);
    ogg_stream_packetin(&stream, &identification);
    ogg_stream_packetin(&stream, &comments);
    ogg_stream_packetin(&stream, &codebooks);
    ogg_page page;
    // The headers stand on pages of their own, as players expect.
    while (ogg_stream_flush(&stream, &page) != 0) AppendPage(out, page);

    const size_t frames = interleaved.size() / kChannels;
    constexpr size_t kChunk = 4096;
    size_t done = 0;
    bool ended = false;
    while (!ended) {
        const size_t n = std::min(kChunk, frames - done);
        if (n > 0) {
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(n));
            for (size_t i = 0; i < n; ++i) {
                for (int c = 0; c < kChannels; ++c) buffer[c][i] = interleaved[(done + i) * kChannels + c];
            }
        }
        vorbis_analysis_wrote(&dsp, static_cast<int>(n));  // 0 marks the end of the stream
        done += n;
        ended = n == 0;
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page) != 0) AppendPage(out, page);
            }
        }
    }
    while (ogg_stream_flush(&stream, &page) != 0) AppendPage(out, page);

    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

std::string MakeMusic() { return EncodeVorbis(RenderLoop()); }

bool WriteMusic(const std::string& path, std::string* error) {
    const std::string bytes = MakeMusic();
    if (bytes.empty()) {
        *error = "the encoder refused the music";
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace rh::musicmake
