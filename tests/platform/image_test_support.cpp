#include "tests/platform/image_test_support.h"

#include "platform/d3dx9/pixel_formats.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace rh::testing {
namespace {

uint32_t Mix(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v;
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Reads the next header token of a PNM or PAM file, skipping white space and comments.
std::string Token(const std::vector<uint8_t>& data, size_t* at) {
    while (*at < data.size()) {
        if (data[*at] == '#') {
            while (*at < data.size() && data[*at] != '\n') ++*at;
        } else if (std::isspace(data[*at])) {
            ++*at;
        } else {
            break;
        }
    }
    std::string token;
    while (*at < data.size() && !std::isspace(data[*at])) token += char(data[(*at)++]);
    return token;
}

// Netpbm files with 8-bit samples: P5 (grey), P6 (RGB), P7 (PAM of 1 to 4 channels).
::testing::AssertionResult ParseNetpbm(const std::vector<uint8_t>& data, Rgba* out) {
    size_t at = 0;
    const std::string magic = Token(data, &at);
    uint32_t width = 0, height = 0, channels = 0, maxval = 0;
    if (magic == "P5" || magic == "P6") {
        width = uint32_t(std::stoul(Token(data, &at)));
        height = uint32_t(std::stoul(Token(data, &at)));
        maxval = uint32_t(std::stoul(Token(data, &at)));
        channels = magic == "P5" ? 1 : 3;
        ++at;  // the one white-space byte before the samples
    } else if (magic == "P7") {
        for (std::string key = Token(data, &at); key != "ENDHDR" && !key.empty(); key = Token(data, &at)) {
            if (key == "TUPLTYPE") {
                Token(data, &at);
                continue;
            }
            const uint32_t value = uint32_t(std::stoul(Token(data, &at)));
            if (key == "WIDTH") width = value;
            if (key == "HEIGHT") height = value;
            if (key == "DEPTH") channels = value;
            if (key == "MAXVAL") maxval = value;
        }
        ++at;
    } else {
        return ::testing::AssertionFailure() << "not a Netpbm file: " << magic;
    }
    if ((maxval != 255 && maxval != 65535) || channels < 1 || channels > 4) {
        return ::testing::AssertionFailure() << "unexpected Netpbm samples: maxval " << maxval
                                             << ", " << channels << " channels";
    }
    const size_t sampleBytes = maxval == 255 ? 1 : 2;
    const size_t need = size_t(width) * height * channels * sampleBytes;
    if (data.size() - at < need) return ::testing::AssertionFailure() << "short Netpbm file";
    // 16-bit samples (big-endian) to 8 bits, rounding to nearest.
    std::vector<uint8_t> samples(size_t(width) * height * channels);
    for (size_t i = 0; i < samples.size(); ++i) {
        const uint8_t* s = data.data() + at + i * sampleBytes;
        samples[i] = sampleBytes == 1 ? s[0] : uint8_t(((uint32_t(s[0]) << 8 | s[1]) * 255 + 32767) / 65535);
    }
    out->width = width;
    out->height = height;
    out->bytes.resize(size_t(width) * height * 4);
    const uint8_t* in = samples.data();
    for (size_t i = 0; i < size_t(width) * height; ++i, in += channels) {
        uint8_t* p = &out->bytes[i * 4];
        const bool grey = channels <= 2;
        p[0] = in[0];
        p[1] = grey ? in[0] : in[1];
        p[2] = grey ? in[0] : in[2];
        p[3] = channels == 2 ? in[1] : channels == 4 ? in[3] : 255;
    }
    return ::testing::AssertionSuccess();
}

int g_counter = 0;

}  // namespace

Rgba TestPattern(uint32_t width, uint32_t height, uint32_t seed) {
    Rgba out;
    out.width = width;
    out.height = height;
    out.bytes.resize(size_t(width) * height * 4);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t noise = Mix(x * 73856093u ^ y * 19349663u ^ seed * 83492791u);
            uint8_t* p = &out.bytes[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(width > 1 ? x * 255 / (width - 1) : 128);
            p[1] = uint8_t(height > 1 ? (height - 1 - y) * 255 / (height - 1) : 64);
            p[2] = uint8_t(noise);
            switch ((x / 3 + y / 2 + seed) % 4) {
                case 0: p[3] = 0; break;
                case 1: p[3] = 255; break;
                default: p[3] = uint8_t(noise >> 8); break;
            }
        }
    }
    return out;
}

const char* PackageOfTool(const std::string& name) {
    static const std::map<std::string, const char*> packages = {
        {"convert", "imagemagick"},         {"identify", "imagemagick"},
        {"djpeg", "libjpeg-turbo-progs"},   {"nvcompress", "libnvtt-bin"},
        {"nvdecompress", "libnvtt-bin"},    {"nvassemble", "libnvtt-bin"},
        {"nvddsinfo", "libnvtt-bin"},
    };
    const auto it = packages.find(name);
    return it == packages.end() ? "?" : it->second;
}

::testing::AssertionResult FindTool(const std::string& name, std::string* path) {
    const std::string full = "/usr/bin/" + name;
    if (access(full.c_str(), X_OK) != 0) {
        return ::testing::AssertionFailure()
               << "the test needs " << full << " from the Debian package " << PackageOfTool(name)
               << " (bash scripts/test installs it; or apt-get install " << PackageOfTool(name) << ")";
    }
    *path = full;
    return ::testing::AssertionSuccess();
}

std::string Quote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

::testing::AssertionResult RunCommand(const std::string& folder, const std::string& command) {
    const std::string log = folder + "/command" + std::to_string(++g_counter) + ".log";
    const std::string line = "cd " + Quote(folder) + " && (" + command + ") >" + Quote(log) + " 2>&1";
    const int status = std::system(line.c_str());
    if (status == 0) return ::testing::AssertionSuccess();
    const std::vector<uint8_t> output = ReadBytes(log);
    return ::testing::AssertionFailure() << "command failed (" << status << "): " << command << "\n"
                                         << std::string(output.begin(), output.end());
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void WriteRawRgba(const std::string& path, const Rgba& picture) { WriteBytes(path, picture.bytes); }

void WriteRawRgba16(const std::string& path, const Rgba& picture, uint32_t seed) {
    std::vector<uint8_t> out;
    out.reserve(picture.bytes.size() * 2);
    for (size_t i = 0; i < picture.bytes.size(); ++i) {
        // Low halves that make rounding to 8 bits go either way.
        out.push_back(uint8_t(Mix(uint32_t(i) ^ seed)));
        out.push_back(picture.bytes[i]);
    }
    WriteBytes(path, out);
}

::testing::AssertionResult ConvertDecode(const std::string& folder, const std::string& file,
                                         int frame, Rgba* out, bool sixteen) {
    std::string convert;
    if (auto found = FindTool("convert", &convert); !found) return found;
    const std::string pam = "decoded" + std::to_string(++g_counter) + ".pam";
    const std::string source = frame < 0 ? file : file + "[" + std::to_string(frame) + "]";
    const std::string depth = sixteen ? " -depth 16 " : " -depth 8 ";
    if (auto ran = RunCommand(folder, convert + " " + Quote(source) + " -auto-orient" + depth +
                                          Quote("pam:" + pam));
        !ran) {
        return ran;
    }
    return ParseNetpbm(ReadBytes(folder + "/" + pam), out);
}

::testing::AssertionResult DjpegDecode(const std::string& folder, const std::string& file,
                                       Rgba* out) {
    std::string djpeg;
    if (auto found = FindTool("djpeg", &djpeg); !found) return found;
    const std::string pnm = "djpeg" + std::to_string(++g_counter) + ".pnm";
    if (auto ran = RunCommand(folder, djpeg + " -outfile " + Quote(pnm) + " " + Quote(file)); !ran) {
        return ran;
    }
    return ParseNetpbm(ReadBytes(folder + "/" + pnm), out);
}

::testing::AssertionResult NvDecompress(const std::string& folder, const std::string& file,
                                        Rgba* out) {
    std::string nvdecompress;
    if (auto found = FindTool("nvdecompress", &nvdecompress); !found) return found;
    // It writes NAME.tga beside NAME.dds.
    const std::string name = "nv" + std::to_string(++g_counter);
    WriteBytes(folder + "/" + name + ".dds", ReadBytes(folder + "/" + file));
    if (auto ran = RunCommand(folder, nvdecompress + " " + Quote(name + ".dds")); !ran) return ran;
    return ConvertDecode(folder, name + ".tga", -1, out);
}

Rgba LevelAsRgba(const d3dx9::DecodedImage& image, uint32_t face, uint32_t level) {
    const d3dx9::ImageLevel& l = image.Level(face, level);
    Rgba out;
    out.width = l.width;
    out.height = l.height;
    std::vector<uint8_t> argb(size_t(l.width) * l.height * 4);
    EXPECT_TRUE(d3dx9::ConvertPixels(image.format, l.bits, l.pitch, D3DFMT_A8R8G8B8, argb.data(),
                                     l.width * 4, l.width, l.height))
        << "format " << image.format;
    out.bytes.resize(argb.size());
    for (size_t i = 0; i < argb.size(); i += 4) {
        out.bytes[i] = argb[i + 2];
        out.bytes[i + 1] = argb[i + 1];
        out.bytes[i + 2] = argb[i];
        out.bytes[i + 3] = argb[i + 3];
    }
    return out;
}

::testing::AssertionResult SamePixels(const Rgba& ours, const Rgba& oracle, const int bits[4],
                                      int tolerance) {
    if (ours.width != oracle.width || ours.height != oracle.height) {
        return ::testing::AssertionFailure() << "size " << ours.width << "x" << ours.height
                                             << ", the oracle's " << oracle.width << "x" << oracle.height;
    }
    const auto reduce = [](int v, int b) { return b >= 8 ? v : (v * ((1 << b) - 1) + 127) / 255; };
    std::ostringstream report;
    int differences = 0, worst = 0;
    static const char kChannel[] = "RGBA";
    for (uint32_t y = 0; y < ours.height; ++y) {
        for (uint32_t x = 0; x < ours.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                const int a = reduce(ours.At(x, y)[c], bits[c]);
                const int b = reduce(oracle.At(x, y)[c], bits[c]);
                const int d = std::abs(a - b);
                worst = std::max(worst, d);
                if (d > tolerance && ++differences <= 5) {
                    report << " (" << x << "," << y << ") " << kChannel[c] << " ours " << a
                           << " oracle " << b << ";";
                }
            }
        }
    }
    if (differences == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differences << " samples differ by more than "
                                         << tolerance << " (worst " << worst << "):" << report.str();
}

void ChannelPrecision(D3DFORMAT format, int bits[4]) {
    for (int c = 0; c < 4; ++c) bits[c] = 8;
    const d3dx9::ChannelLayout* layout = d3dx9::FindChannelLayout(format);
    if (layout == nullptr) return;
    const auto limit = [](int b) { return b == 0 || b > 8 ? 8 : b; };
    if (layout->luminance.bits != 0) {
        bits[0] = bits[1] = bits[2] = limit(layout->luminance.bits);
    } else {
        bits[0] = limit(layout->red.bits);
        bits[1] = limit(layout->green.bits);
        bits[2] = limit(layout->blue.bits);
    }
    bits[3] = limit(layout->alpha.bits);
}

std::vector<uint8_t> SliceDds(const std::vector<uint8_t>& dds, uint32_t face, uint32_t level) {
    const uint8_t* h = dds.data();
    const uint32_t height = Le32(h + 12), width = Le32(h + 16);
    const uint32_t levels = std::max(1u, Le32(h + 28));
    const uint32_t pixelFlags = Le32(h + 80);
    const uint32_t fourCC = Le32(h + 84), bitCount = Le32(h + 88);
    const bool compressed = (pixelFlags & 4) != 0;
    const uint32_t blockBytes = fourCC == 0x31545844u ? 8 : 16;  // "DXT1"
    const auto levelBytes = [&](uint32_t w, uint32_t hh) {
        return compressed ? size_t((w + 3) / 4) * ((hh + 3) / 4) * blockBytes
                          : size_t(w) * hh * (bitCount / 8);
    };
    size_t faceBytes = 0;
    for (uint32_t l = 0; l < levels; ++l) {
        faceBytes += levelBytes(std::max(1u, width >> l), std::max(1u, height >> l));
    }
    size_t at = 128 + faceBytes * face;
    for (uint32_t l = 0; l < level; ++l) at += levelBytes(std::max(1u, width >> l), std::max(1u, height >> l));
    const uint32_t w = std::max(1u, width >> level), hh = std::max(1u, height >> level);
    std::vector<uint8_t> out(dds.begin(), dds.begin() + 128);
    PutLe32(&out[8], Le32(h + 8) & ~(0x8u | 0x20000u | 0x80000u));  // no pitch, size or count
    PutLe32(&out[12], hh);
    PutLe32(&out[16], w);
    PutLe32(&out[20], 0);
    PutLe32(&out[28], 1);
    PutLe32(&out[108], Le32(h + 108) & ~(0x8u | 0x400000u));  // neither complex nor mipmapped
    PutLe32(&out[112], 0);                                      // no cube map
    const size_t bytes = levelBytes(w, hh);
    out.resize(128 + bytes);
    std::memcpy(out.data() + 128, dds.data() + at, bytes);
    return out;
}

}  // namespace rh::testing
