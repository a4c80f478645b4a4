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

// The pictures, before encoding. Colour textures tile; each height map (1 high, 0 low, in
// grey) matches its colour texture's shapes, for the parallax path's "Bump" maps.
Picture SnowPicture();            // 512 x 512, blue-white grain with sparkling crystals
Picture PlasterPicture();         // 512 x 512, cream, mottled and trowelled, weather stains
Picture PlasterOchrePicture();    // 512 x 512, the same in an ochre wash
Picture PlasterRosePicture();     // 512 x 512, the same in a faded rose wash
Picture TimberPicture();          // 256 x 512, dark brown beams, grain along v
Picture TimberDarkPicture();      // 256 x 512, the same tarred nearly black
Picture TimberHeightPicture();    // 256 x 512
Picture RoofPicture();            // 512 x 512, staggered wooden shingles, 16 courses of 12
Picture StonePicture();           // 512 x 512, coursed blocks in light mortar
Picture StoneHeightPicture();     // 512 x 512
Picture CobblesPicture();         // 512 x 512, rounded cobbles, snow in the joints
Picture CobblesHeightPicture();   // 512 x 512
Picture BarkPicture();            // 256 x 512, plates between furrows along the trunk
Picture NeedlesPicture();         // 256 x 512, fir needles: bare round v = 0, under snow round 0.5
Picture FenceWoodPicture();       // 256 x 512, weathered grey boards
Picture IronPicture();            // 64 x 64, dark wrought iron
Picture GlowPicture();            // 128 x 128, a warm core in a soft halo fading to transparent
Picture SnowflakePicture();       // 32 x 32, a soft white flake on transparent
Picture MoonPicture();            // 128 x 128, a full moon in a faint halo on transparent

struct TextureEntry {
    const char* name;  // the member name, "Media/Txt/snow.jpg"
    Picture (*make)();
    bool alpha;  // PNG with alpha; else baseline JPEG
};
// Every texture the maker writes, in a fixed order.
const std::vector<TextureEntry>& TextureEntries();
// Their member names, in the same order.
const std::vector<std::string>& TextureNames();

// Every texture, encoded, in a fixed order. False with a message when encoding fails.
bool MakeTextures(std::vector<MadeFile>* out, std::string* error);

}  // namespace rh::texturemake
