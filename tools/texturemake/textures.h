// The procedural textures and sprites of the village: colour textures as baseline JPEG, sprites
// with alpha as PNG, all power-of-two sized and tiling where they repeat. Every picture comes
// from fixed seeds through our own integer hash, so the same program always makes the same
// bytes.
#pragma once

#include "tools/texturemake/picture_files.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rh::texturemake {

struct MadeFile {
    std::string name;  // below the media root, '/'-separated: "Media/Txt/snow.jpg"
    std::vector<uint8_t> bytes;
};

// The pictures, before encoding.
Picture SnowPicture();       // 256 x 256, blue-white with faint sparkle
Picture PlasterPicture();    // 256 x 256, cream with mottling
Picture TimberPicture();     // 256 x 256, dark brown grain running along v
Picture BarkPicture();       // 128 x 256, grey-brown streaks
Picture GlowPicture();       // 128 x 128, warm radial glow fading to transparent
Picture SnowflakePicture();  // 32 x 32, a soft white six-armed flake on transparent

// Every texture, encoded, in a fixed order. False with a message when encoding fails.
bool MakeTextures(std::vector<MadeFile>* out, std::string* error);

}  // namespace rh::texturemake
