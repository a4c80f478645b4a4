#include "render/format_facts.h"

#include <cstring>

int FormatBits(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_R8G8B8: return 24;
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
        case D3DFMT_A2B10G10R10:
        case D3DFMT_A8B8G8R8:
        case D3DFMT_X8B8G8R8:
        case D3DFMT_G16R16:
        case D3DFMT_A2R10G10B10:
        case D3DFMT_X8L8V8U8:
        case D3DFMT_Q8W8V8U8:
        case D3DFMT_V16U16:
        case D3DFMT_A2W10V10U10:
        case D3DFMT_D32:
        case D3DFMT_D24S8:
        case D3DFMT_D24X8:
        case D3DFMT_D24X4S4:
        case D3DFMT_INDEX32:
        case D3DFMT_G16R16F:
        case D3DFMT_R32F: return 32;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_A8R3G3B2:
        case D3DFMT_X4R4G4B4:
        case D3DFMT_A8P8:
        case D3DFMT_A8L8:
        case D3DFMT_V8U8:
        case D3DFMT_L6V5U5:
        case D3DFMT_D16_LOCKABLE:
        case D3DFMT_D15S1:
        case D3DFMT_D16:
        case D3DFMT_L16:
        case D3DFMT_INDEX16:
        case D3DFMT_R16F:
        case D3DFMT_CxV8U8: return 16;
        case D3DFMT_R3G3B2:
        case D3DFMT_A8:
        case D3DFMT_P8:
        case D3DFMT_L8:
        case D3DFMT_A4L4: return 8;
        case D3DFMT_A16B16G16R16:
        case D3DFMT_Q16W16V16U16:
        case D3DFMT_A16B16G16R16F:
        case D3DFMT_G32R32F: return 64;
        case D3DFMT_A32B32G32R32F: return 128;
        default: return 0;
    }
}

bool FormatHasAlpha(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_A8:
        case D3DFMT_A8R3G3B2:
        case D3DFMT_A2B10G10R10:
        case D3DFMT_A8B8G8R8:
        case D3DFMT_A16B16G16R16:
        case D3DFMT_A8P8:
        case D3DFMT_A8L8:
        case D3DFMT_A4L4:
        case D3DFMT_A2W10V10U10:
        case D3DFMT_A16B16G16R16F:
        case D3DFMT_A32B32G32R32F:
        case D3DFMT_MULTI2_ARGB8: return true;
        default: return false;
    }
}

namespace {

// Channel (shift, bits) pairs in the order red, green, blue, alpha, luminance.
constexpr FormatChannelBits Channels(uint32_t rs, uint32_t rb, uint32_t gs, uint32_t gb,
                                     uint32_t bs, uint32_t bb, uint32_t as = 0, uint32_t ab = 0,
                                     uint32_t ls = 0, uint32_t lb = 0) {
    return FormatChannelBits{rs, rb, gs, gb, bs, bb, as, ab, ls, lb};
}

}  // namespace

FormatChannelBits FormatChannels(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_R8G8B8:
        case D3DFMT_X8R8G8B8: return Channels(16, 8, 8, 8, 0, 8);
        case D3DFMT_A8R8G8B8: return Channels(16, 8, 8, 8, 0, 8, 24, 8);
        case D3DFMT_R5G6B5: return Channels(11, 5, 5, 6, 0, 5);
        case D3DFMT_X1R5G5B5: return Channels(10, 5, 5, 5, 0, 5);
        case D3DFMT_A1R5G5B5: return Channels(10, 5, 5, 5, 0, 5, 15, 1);
        case D3DFMT_A4R4G4B4: return Channels(8, 4, 4, 4, 0, 4, 12, 4);
        case D3DFMT_X4R4G4B4: return Channels(8, 4, 4, 4, 0, 4);
        case D3DFMT_R3G3B2: return Channels(5, 3, 2, 3, 0, 2);
        case D3DFMT_A8R3G3B2: return Channels(5, 3, 2, 3, 0, 2, 8, 8);
        case D3DFMT_A8: return Channels(0, 0, 0, 0, 0, 0, 0, 8);
        case D3DFMT_A2B10G10R10: return Channels(0, 10, 10, 10, 20, 10, 30, 2);
        case D3DFMT_A8B8G8R8: return Channels(0, 8, 8, 8, 16, 8, 24, 8);
        case D3DFMT_X8B8G8R8: return Channels(0, 8, 8, 8, 16, 8);
        case D3DFMT_G16R16: return Channels(0, 16, 16, 16, 0, 0);
        case D3DFMT_A2R10G10B10: return Channels(20, 10, 10, 10, 0, 10, 30, 2);
        case D3DFMT_A16B16G16R16: return Channels(0, 16, 16, 16, 32, 16, 48, 16);
        case D3DFMT_A8P8: return Channels(0, 0, 0, 0, 0, 0, 8, 8);
        case D3DFMT_L8: return Channels(0, 0, 0, 0, 0, 0, 0, 0, 0, 8);
        // The luminance of these two is reported as red, so that code reading "the red channel"
        // of a grey-scale texture finds it.
        case D3DFMT_A8L8: return Channels(0, 8, 0, 0, 0, 0, 8, 8);
        case D3DFMT_A4L4: return Channels(0, 4, 0, 0, 0, 0, 4, 4);
        default: return Channels(0, 0, 0, 0, 0, 0);
    }
}

D3DFORMAT ParseFormatName(const char* name) {
    static constexpr struct {
        const char* name;
        D3DFORMAT format;
    } kNames[] = {
        {"D3DFMT_R8G8B8", D3DFMT_R8G8B8},     {"D3DFMT_A8R8G8B8", D3DFMT_A8R8G8B8},
        {"D3DFMT_X8R8G8B8", D3DFMT_X8R8G8B8}, {"D3DFMT_R5G6B5", D3DFMT_R5G6B5},
        {"D3DFMT_X1R5G5B5", D3DFMT_X1R5G5B5}, {"D3DFMT_A1R5G5B5", D3DFMT_A1R5G5B5},
        {"D3DFMT_A4R4G4B4", D3DFMT_A4R4G4B4},
    };
    if (name == nullptr) return D3DFMT_UNKNOWN;
    for (const auto& entry : kNames) {
        if (std::strcmp(name, entry.name) == 0) return entry.format;
    }
    return D3DFMT_UNKNOWN;
}

const char* FormatName(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_UNKNOWN: return "UNKNOWN";
        case D3DFMT_R8G8B8: return "R8G8B8";
        case D3DFMT_A8R8G8B8: return "A8R8G8B8";
        case D3DFMT_X8R8G8B8: return "X8R8G8B8";
        case D3DFMT_R5G6B5: return "R5G6B5";
        case D3DFMT_X1R5G5B5: return "X1R5G5B5";
        case D3DFMT_A1R5G5B5: return "A1R5G5B5";
        case D3DFMT_A4R4G4B4: return "A4R4G4B4";
        case D3DFMT_R3G3B2: return "R3G3B2";
        case D3DFMT_A8: return "A8";
        case D3DFMT_A8R3G3B2: return "A8R3G3B2";
        case D3DFMT_X4R4G4B4: return "X4R4G4B4";
        case D3DFMT_A2B10G10R10: return "A2B10G10R10";
        case D3DFMT_A8B8G8R8: return "A8B8G8R8";
        case D3DFMT_X8B8G8R8: return "X8B8G8R8";
        case D3DFMT_G16R16: return "G16R16";
        case D3DFMT_A2R10G10B10: return "A2R10G10B10";
        case D3DFMT_A16B16G16R16: return "A16B16G16R16";
        case D3DFMT_A8P8: return "A8P8";
        case D3DFMT_P8: return "P8";
        case D3DFMT_L8: return "L8";
        case D3DFMT_A8L8: return "A8L8";
        case D3DFMT_A4L4: return "A4L4";
        case D3DFMT_V8U8: return "V8U8";
        case D3DFMT_L6V5U5: return "L6V5U5";
        case D3DFMT_X8L8V8U8: return "X8L8V8U8";
        case D3DFMT_Q8W8V8U8: return "Q8W8V8U8";
        case D3DFMT_V16U16: return "V16U16";
        case D3DFMT_A2W10V10U10: return "A2W10V10U10";
        case D3DFMT_UYVY: return "UYVY";
        case D3DFMT_YUY2: return "YUY2";
        case D3DFMT_DXT1: return "DXT1";
        case D3DFMT_DXT2: return "DXT2";
        case D3DFMT_DXT3: return "DXT3";
        case D3DFMT_DXT4: return "DXT4";
        case D3DFMT_DXT5: return "DXT5";
        case D3DFMT_D16_LOCKABLE: return "D16_LOCKABLE";
        case D3DFMT_D32: return "D32";
        case D3DFMT_D15S1: return "D15S1";
        case D3DFMT_D24S8: return "D24S8";
        case D3DFMT_D24X8: return "D24X8";
        case D3DFMT_D24X4S4: return "D24X4S4";
        case D3DFMT_D16: return "D16";
        case D3DFMT_L16: return "L16";
        case D3DFMT_VERTEXDATA: return "VERTEXDATA";
        case D3DFMT_INDEX16: return "INDEX16";
        case D3DFMT_INDEX32: return "INDEX32";
        case D3DFMT_Q16W16V16U16: return "Q16W16V16U16";
        case D3DFMT_MULTI2_ARGB8: return "MULTI2_ARGB8";
        case D3DFMT_R16F: return "R16F";
        case D3DFMT_G16R16F: return "G16R16F";
        case D3DFMT_A16B16G16R16F: return "A16B16G16R16F";
        case D3DFMT_R32F: return "R32F";
        case D3DFMT_G32R32F: return "G32R32F";
        case D3DFMT_A32B32G32R32F: return "A32B32G32R32F";
        case D3DFMT_CxV8U8: return "CxV8U8";
        default: return "Unknown format";
    }
}

const char* MultiSampleName(D3DMULTISAMPLE_TYPE type) {
    static constexpr const char* kNames[] = {
        "D3DMULTISAMPLE_NONE",       "D3DMULTISAMPLE_NONMASKABLE", "D3DMULTISAMPLE_2_SAMPLES",
        "D3DMULTISAMPLE_3_SAMPLES",  "D3DMULTISAMPLE_4_SAMPLES",   "D3DMULTISAMPLE_5_SAMPLES",
        "D3DMULTISAMPLE_6_SAMPLES",  "D3DMULTISAMPLE_7_SAMPLES",   "D3DMULTISAMPLE_8_SAMPLES",
        "D3DMULTISAMPLE_9_SAMPLES",  "D3DMULTISAMPLE_10_SAMPLES",  "D3DMULTISAMPLE_11_SAMPLES",
        "D3DMULTISAMPLE_12_SAMPLES", "D3DMULTISAMPLE_13_SAMPLES",  "D3DMULTISAMPLE_14_SAMPLES",
        "D3DMULTISAMPLE_15_SAMPLES", "D3DMULTISAMPLE_16_SAMPLES",
    };
    const auto index = static_cast<uint32_t>(type);
    if (index < sizeof(kNames) / sizeof(kNames[0])) return kNames[index];
    return "Unknown Multisample Type";
}

const char* VertexProcessingName(int vertexProcessing) {
    switch (vertexProcessing) {
        case 0: return "SOFTWARE_VP";
        case 1: return "MIXED_VP";
        case 2: return "HARDWARE_VP";
        case 3: return "PURE_HARDWARE_VP";
        default: return "Unknown VertexProcessingType";
    }
}

const char* PresentIntervalName(uint32_t presentInterval) {
    switch (presentInterval) {
        case D3DPRESENT_INTERVAL_IMMEDIATE: return "D3DPRESENT_INTERVAL_IMMEDIATE";
        case D3DPRESENT_INTERVAL_DEFAULT: return "D3DPRESENT_INTERVAL_DEFAULT";
        case D3DPRESENT_INTERVAL_ONE: return "D3DPRESENT_INTERVAL_ONE";
        case D3DPRESENT_INTERVAL_TWO: return "D3DPRESENT_INTERVAL_TWO";
        case D3DPRESENT_INTERVAL_THREE: return "D3DPRESENT_INTERVAL_THREE";
        case D3DPRESENT_INTERVAL_FOUR: return "D3DPRESENT_INTERVAL_FOUR";
        default: return "Unknown PresentInterval";
    }
}

int DeclTypeSize(int declType) {
    switch (declType) {
        case D3DDECLTYPE_FLOAT1: return 4;
        case D3DDECLTYPE_FLOAT2: return 8;
        case D3DDECLTYPE_FLOAT3: return 12;
        case D3DDECLTYPE_FLOAT4: return 16;
        case D3DDECLTYPE_D3DCOLOR: return 4;
        case D3DDECLTYPE_UBYTE4: return 4;
        case D3DDECLTYPE_SHORT2: return 4;
        case D3DDECLTYPE_SHORT4: return 8;
        case D3DDECLTYPE_UBYTE4N: return 4;
        case D3DDECLTYPE_SHORT2N: return 4;
        case D3DDECLTYPE_SHORT4N: return 8;
        case D3DDECLTYPE_USHORT2N: return 4;
        case D3DDECLTYPE_USHORT4N: return 8;
        case D3DDECLTYPE_UDEC3: return 4;
        case D3DDECLTYPE_DEC3N: return 4;
        case D3DDECLTYPE_FLOAT16_2: return 4;
        case D3DDECLTYPE_FLOAT16_4: return 8;
        default: return 0;  // UNUSED, and damaged types read from files
    }
}
