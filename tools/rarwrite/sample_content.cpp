#include "tools/rarwrite/sample_content.h"

#include <algorithm>
#include <string>

namespace rh::rarwrite::sample {

namespace {

// A small fast generator (xorshift32 of a hashed seed); never 0.
class Rng {
public:
    explicit Rng(uint32_t seed) : s_(seed * 0x9E3779B1u ^ 0x6A09E667u) {
        if (s_ == 0) s_ = 1;
    }
    uint32_t Next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return s_;
    }
    // Below n (n > 0).
    uint32_t Below(uint32_t n) { return uint32_t((uint64_t(Next()) * n) >> 32); }

private:
    uint32_t s_;
};

// A sine-like wave of amplitude 32767 over a period of 65536 phase steps: two parabolic
// halves, close enough to a tone for a predictor.
int Wave(uint32_t phase) {
    const int64_t x = phase & 0x7FFF;  // position in the half period
    const int64_t y = 4 * x * (0x8000 - x) * 32767 / (int64_t(0x8000) * 0x8000);
    return (phase & 0x8000) != 0 ? -int(y) : int(y);
}

}  // namespace

std::vector<uint8_t> TextLike(size_t size, uint32_t seed) {
    Rng rng(seed);
    static const char* const kOnsets[] = {"b", "c", "d", "f", "g", "h", "l", "m", "n", "p", "r", "s",
                                          "t", "v", "w", "st", "th", "ch", "pr", "tr", "gr", "sh"};
    static const char* const kVowels[] = {"a", "e", "i", "o", "u", "ea", "ou", "ai", "io", "y"};
    static const char* const kCodas[] = {"", "", "", "n", "r", "s", "t", "l", "nd", "ng", "st", "rt"};
    std::vector<std::string> words(3000);
    for (std::string& w : words) {
        const uint32_t syllables = 1 + rng.Below(3);
        for (uint32_t i = 0; i < syllables; ++i) {
            w += kOnsets[rng.Below(22)];
            w += kVowels[rng.Below(10)];
            w += kCodas[rng.Below(12)];
        }
    }
    std::string out;
    out.reserve(size + 100);
    size_t lineStart = 0;
    bool sentenceStart = true;
    while (out.size() < size) {
        // Word ranks skewed towards the front: the cube of a uniform fraction.
        const uint64_t u = rng.Below(1 << 16);
        std::string word = words[size_t(u * u * u * words.size() >> 48)];
        if (rng.Below(40) == 0) word = std::to_string(rng.Below(2000));
        if (sentenceStart && word[0] >= 'a' && word[0] <= 'z') word[0] = char(word[0] - 'a' + 'A');
        out += word;
        sentenceStart = false;
        const uint32_t r = rng.Below(100);
        if (r < 8) {
            out += '.';
            sentenceStart = true;
        } else if (r < 14) {
            out += ',';
        }
        if (out.size() - lineStart > 70) {
            out += "\r\n";
            lineStart = out.size();
        } else {
            out += ' ';
        }
    }
    out.resize(size);
    return std::vector<uint8_t>(out.begin(), out.end());
}

std::vector<uint8_t> BinaryLike(size_t size, uint32_t seed) {
    Rng rng(seed);
    std::vector<uint8_t> patterns[64];
    for (auto& p : patterns) {
        p.resize(1 + rng.Below(4));
        for (uint8_t& b : p) b = uint8_t(rng.Next());
    }
    std::vector<uint8_t> out;
    out.reserve(size + 256);
    while (out.size() < size) {
        const uint32_t kind = rng.Below(100);
        if (kind < 80) {
            // A run of instructions: an opcode pattern and an operand, mostly small or an
            // address near the last ones.
            for (uint32_t n = 8 + rng.Below(64); n > 0; --n) {
                const auto& p = patterns[std::min(rng.Below(64), rng.Below(64))];
                out.insert(out.end(), p.begin(), p.end());
                const uint32_t operand = rng.Below(4) == 0 ? 0x401000 + rng.Below(0x4000) : rng.Below(64);
                for (uint32_t k = 0, bytes = 1 + rng.Below(4); k < bytes; ++k) out.push_back(uint8_t(operand >> (8 * k)));
            }
        } else if (kind < 90) {
            uint32_t value = rng.Below(1000);
            for (uint32_t n = 4 + rng.Below(60); n > 0; --n) {
                value += rng.Below(50);
                for (int k = 0; k < 4; ++k) out.push_back(uint8_t(value >> (8 * k)));
            }
        } else if (kind < 96) {
            const std::vector<uint8_t> text = TextLike(8 + rng.Below(40), rng.Next());
            out.insert(out.end(), text.begin(), text.end());
            out.push_back(0);
        } else {
            out.insert(out.end(), 16 + rng.Below(500), uint8_t{0});
        }
    }
    out.resize(size);
    return out;
}

std::vector<uint8_t> PictureLike(size_t size, uint32_t seed) {
    Rng rng(seed);
    constexpr int kWidth = 512;
    struct Disc {
        int x, y, r2;
        int rgb[3];
    } discs[6];
    for (Disc& d : discs) {
        d.x = int(rng.Below(kWidth));
        d.y = int(rng.Below(kWidth));
        const int r = 20 + int(rng.Below(120));
        d.r2 = r * r;
        for (int& c : d.rgb) c = int(rng.Below(256));
    }
    const int gx[3] = {int(rng.Below(5)) - 2, int(rng.Below(5)) - 2, int(rng.Below(5)) - 2};
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i) {
        const int c = int(i % 3);
        const int x = int(i / 3 % kWidth);
        const int y = int(i / 3 / kWidth);
        int v = 128 + (gx[c] * x + (2 - c) * y) / 8 + ((x * y) >> 12);
        for (const Disc& d : discs) {
            const int dx = x - d.x, dy = (y % kWidth) - d.y;
            if (dx * dx + dy * dy < d.r2) v = d.rgb[c] + (dx + dy) / 16;
        }
        v += int(rng.Below(5)) - 2;
        out[i] = uint8_t(std::clamp(v, 0, 255));
    }
    return out;
}

std::vector<uint8_t> SamplesLike(size_t size, int bytesPerSample, int channels, uint32_t seed) {
    Rng rng(seed);
    struct Tone {
        uint32_t step, phase;
        int amplitude;  // of 1024
    };
    std::vector<Tone> tones(size_t(channels) * 3);
    for (Tone& t : tones) t = {60 + rng.Below(1500), rng.Next(), 100 + int(rng.Below(250))};
    std::vector<uint8_t> out;
    out.reserve(size + 8);
    while (out.size() < size) {
        for (int c = 0; c < channels; ++c) {
            int64_t v = 0;
            for (int k = 0; k < 3; ++k) {
                Tone& t = tones[size_t(c * 3 + k)];
                v += int64_t(Wave(t.phase)) * t.amplitude / 1024;
                t.phase += t.step;
            }
            v += int(rng.Below(257)) - 128;  // noise of about 1/256 of full scale
            if (bytesPerSample == 1) {
                out.push_back(uint8_t(std::clamp<int64_t>(128 + v / 256, 0, 255)));
            } else {
                const auto s = uint16_t(int16_t(std::clamp<int64_t>(v, -32768, 32767)));
                out.push_back(uint8_t(s));
                out.push_back(uint8_t(s >> 8));
            }
        }
    }
    out.resize(size);
    return out;
}

std::vector<uint8_t> Random(size_t size, uint32_t seed) {
    Rng rng(seed);
    std::vector<uint8_t> out(size);
    for (uint8_t& b : out) b = uint8_t(rng.Next() >> 24);
    return out;
}

}  // namespace rh::rarwrite::sample
