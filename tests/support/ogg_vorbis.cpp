#include "tests/support/ogg_vorbis.h"

#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>

namespace rh::testing {

std::vector<float> ToneFrames(long rate, int channels, size_t frames, double hertz) {
    std::vector<float> out(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(rate);
        for (int c = 0; c < channels; ++c) {
            const double amplitude = c == 0 ? 0.5 : 0.3;
            out[i * channels + c] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * hertz * (c + 1) * t));
        }
    }
    return out;
}

namespace {

void AppendPage(std::string& out, const ogg_page& page) {
    out.append(reinterpret_cast<const char*>(page.header), page.header_len);
    out.append(reinterpret_cast<const char*>(page.body), page.body_len);
}

}  // namespace

std::string EncodeOggVorbis(const std::vector<float>& interleaved, long rate, int channels, float quality,
                            int serial) {
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, channels, rate, quality) != 0) {
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
    ogg_stream_init(&stream, serial);

    std::string out;
    ogg_packet identification, comments, codebooks;
    vorbis_analysis_headerout(&dsp, &comment, &identification, &comments, &codebooks);
    ogg_stream_packetin(&stream, &identification);
    ogg_stream_packetin(&stream, &comments);
    ogg_stream_packetin(&stream, &codebooks);
    ogg_page page;
    while (ogg_stream_flush(&stream, &page) != 0) AppendPage(out, page);

    const size_t frames = interleaved.size() / channels;
    const size_t chunk = 4096;
    // The last call writes 0 frames, which marks the end of the stream, whatever the length.
    for (size_t done = 0;;) {
        const size_t n = std::min(chunk, frames - done);
        if (n > 0) {
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(n));
            for (size_t i = 0; i < n; ++i) {
                for (int c = 0; c < channels; ++c) buffer[c][i] = interleaved[(done + i) * channels + c];
            }
        }
        vorbis_analysis_wrote(&dsp, static_cast<int>(n));
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page) != 0) AppendPage(out, page);
            }
        }
        if (n == 0) break;
        done += n;
    }
    while (ogg_stream_flush(&stream, &page) != 0) AppendPage(out, page);

    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

Decoded DecodeOggFile(const std::string& path) {
    Decoded result;
    OggVorbis_File file;
    if (ov_fopen(path.c_str(), &file) != 0) return result;
    const vorbis_info* info = ov_info(&file, -1);
    result.rate = info->rate;
    result.channels = info->channels;
    char block[8192];
    int link = 0;
    for (;;) {
        const long got = ov_read(&file, block, sizeof block, 0, 2, 1, &link);
        if (got == OV_HOLE) continue;
        if (got <= 0) break;
        const auto* values = reinterpret_cast<const int16_t*>(block);
        result.samples.insert(result.samples.end(), values, values + got / 2);
    }
    ov_clear(&file);
    return result;
}

}  // namespace rh::testing
