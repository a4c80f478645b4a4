// Texture description files (".ts"): a script in the free-form dialect (core/script/
// script_parser.h) that describes one texture: its picture and creation parameters, and
// optionally an atlas of sub-textures ("Subs") and animations made of them ("Animation").
//
//   FileName = "snow.png";  Format = "D3DFMT_A8R8G8B8";  ColorKey = object(r = 255);
//   Subs.Flake.FileName = "flake.png";          packed into the atlas
//   Subs.Lamp.x1 = 0; Subs.Lamp.y1 = 0; Subs.Lamp.w = 16; Subs.Lamp.h = 16;  placed there
//   Animation.Blink = array("Lamp", "Flake");
//
// Key names compare without regard to case, as every script lookup; numbers are the value's
// whole text as an int (anything else reads 0).
#pragma once

#include "core/files/file_ref.h"
#include "core/script/script_node.h"
#include "core/text/string.h"
#include "core/types/point_rect.h"

#include <d3d9.h>

#include <cstdint>

class Texture;

// What one description object says, every key with its default.
struct TextureDescription {
    String fileName;     // "FileName", relative to the description's folder; "" none
    bool empty = false;  // "Empty": no Direct3D texture of its own
    // Source flags: "InitFlags" "SAVE_NAME" 2, "SAVE_DATA" 1; else 1 with a file name, 8 without.
    int32_t kind = 8;
    // "Width" and "Height", both or neither; -1 is D3DX_DEFAULT.
    int32_t width = -1;
    int32_t height = -1;
    // "x1", "y1" with "x2", "y2" (corners) or with "w", "h" (size); or "Rect" = array(l, t, r, b),
    // whose missing elements keep what the keys gave. A mix of the two forms gives none.
    bool hasRect = false;
    Rect rect;
    bool parentSpace = false;  // "ParentSpace"; default: whether a rectangle was given
    int32_t delay = 100;       // "Delay"; default: the parent's, or 100; never negative
    DWORD usage = 0;           // "Usage": "D3DUSAGE_DYNAMIC" 0x200
    String id;                 // "Id"; default: the key of the "Subs" entry
    D3DPOOL pool = D3DPOOL_MANAGED;    // "Pool": "D3DPOOL_DEFAULT", "_MANAGED", "_SYSTEMMEM"
    int32_t levels = 1;                // "Levels"
    D3DFORMAT format = D3DFMT_UNKNOWN;  // "Format": seven D3DFMT_ names, anything else 0
    // "ColorKey": a number is the colour itself; an object or array gives r ("0" or "r"), g
    // ("1" or "g"), b ("2" or "b") as 0xFF000000 | r << 16 | g << 8 | b. 0 is none.
    D3DCOLOR colorKey = 0;
    DWORD filter = 3;     // "Filter": "D3DX_FILTER_NONE", _LINEAR, _TRIANGLE or _BOX
    DWORD mipFilter = 5;  // "MipFilter": the same names
};

// Reads every key of the table (not "Subs" or "Animation") from one description object.
// inheritedDelay is the Delay when the key is absent.
void ReadTextureDescription(const ScriptNode& node, int32_t inheritedDelay, const String& defaultId,
                            TextureDescription& out);

// Reads the description file into the texture (unloaded first). False when the file does not
// open or parse, or when any step of ParseTextureScript fails.
bool LoadTextureScript(Texture* texture, const FileRef& locator);

// Reads one description object (the root, or a "Subs" entry when parent is set) into the
// texture: registers it as a device resource (false without a device), creates it from its
// picture (resolved in `directory`, read whole and copied), as an empty texture, or not at all
// ("Empty"); then, for the root, its sub-textures and animations.
//
// Sub-textures: each "Subs" entry, in file order. One with its own pixels hangs under the
// texture; one sharing the texture's pixels is placed at its given rectangle or packed
// (PackSubTexture, depth 3), and after the last entry every placed or moved one loads its
// picture into the texture's pixels. An entry whose Id an earlier entry took replaces it.
// Any failing entry fails the description.
//
// Animations: each "Animation" entry is an array of sub-texture Ids in playing order; an Id
// that names no sub-texture is skipped, an Id given twice plays once (at its first place), and
// an animation left without frames is not kept.
bool ParseTextureScript(Texture* texture, const ScriptNode& node, Texture* parent, const FileRef& directory,
                        const String& defaultId);
