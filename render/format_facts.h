// Small facts about Direct3D formats and vertex element types that the engine needs without a
// device: bits per pixel, alpha, channel layout, the names shown in the trace and the byte size
// of a vertex element. All are pure functions of their argument.
#pragma once

#include <d3d9.h>

#include <cstdint>

// Bits per pixel of a pixel, depth or index format; 0 for the compressed and four-character
// formats and for any value not listed (callers treat 0 as "no simple pixel size").
int FormatBits(D3DFORMAT format);

// Whether the format stores alpha (the MULTI2_ARGB8 container counts as having alpha).
bool FormatHasAlpha(D3DFORMAT format);

// Where each channel lives in a pixel word: the bit position of its lowest bit and its width,
// following the format's Direct3D bit layout (named from the most significant bit down).
// A channel the format lacks has shift 0 and 0 bits. A8L8 and A4L4 report their luminance
// as red; L8 reports it as luminance.
struct FormatChannelBits {
    uint32_t redShift, redBits;
    uint32_t greenShift, greenBits;
    uint32_t blueShift, blueBits;
    uint32_t alphaShift, alphaBits;
    uint32_t luminanceShift, luminanceBits;
};

// The channel layout of the formats the texture code converts; all zero for any other format.
FormatChannelBits FormatChannels(D3DFORMAT format);

// The format named by its full Direct3D name ("D3DFMT_A8R8G8B8"), compared exactly and with
// regard to case. Only R8G8B8, A8R8G8B8, X8R8G8B8, R5G6B5, X1R5G5B5, A1R5G5B5 and A4R4G4B4
// are known; anything else (null included) gives D3DFMT_UNKNOWN.
D3DFORMAT ParseFormatName(const char* name);

// The Direct3D name without "D3DFMT_" ("A8R8G8B8", "DXT1"); "UNKNOWN" for D3DFMT_UNKNOWN and
// "Unknown format" for a value it does not list. The text is static.
const char* FormatName(D3DFORMAT format);

// "D3DMULTISAMPLE_NONE", "D3DMULTISAMPLE_NONMASKABLE", "D3DMULTISAMPLE_2_SAMPLES" ...
// "D3DMULTISAMPLE_16_SAMPLES", else "Unknown Multisample Type". Static text.
const char* MultiSampleName(D3DMULTISAMPLE_TYPE type);

// 0 "SOFTWARE_VP", 1 "MIXED_VP", 2 "HARDWARE_VP", 3 "PURE_HARDWARE_VP", else
// "Unknown VertexProcessingType". Static text.
const char* VertexProcessingName(int vertexProcessing);

// The D3DPRESENT_INTERVAL_* name of IMMEDIATE, DEFAULT, ONE, TWO, THREE or FOUR, else
// "Unknown PresentInterval". Static text.
const char* PresentIntervalName(uint32_t presentInterval);

// Byte size of one vertex element of the given D3DDECLTYPE; 0 for D3DDECLTYPE_UNUSED and any
// value above 16 (so a damaged type read from a file adds nothing to a stride).
int DeclTypeSize(int declType);
