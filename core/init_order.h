// The order in which the program's process-wide objects are built before main: the order of
// this list, whatever order the linker puts their modules in (GCC and Clang honour
// init_priority across modules). They are destroyed in the reverse order after main returns,
// so the managers go after the application object and the shared texts outlive them all.
//
// Objects that need no constructor (constants, the engine settings, the identity matrix, the
// matrix product table) are constant-initialised and so exist before any of these. Each
// definition carries its number: `Type g_name RH_INIT_ORDER(RH_INIT_...);`. Numbers 101 and
// up are the program's; the gaps leave room for objects added between two rows.
#pragma once

#define RH_INIT_ORDER(n) __attribute__((init_priority(n)))

#define RH_INIT_TITLE 1010               // String g_title
#define RH_INIT_MAKER_ADDRESS 1020       // String g_makerAddress
#define RH_INIT_REGISTRY_PATH 1030       // String g_registryPath
#define RH_INIT_FONT_MANAGER 1110        // FontManager
#define RH_INIT_GUI_ROOT 1140            // GuiRoot g_guiRoot
#define RH_INIT_OCCLUSION_PROXY 1150     // OcclusionBoxMesh
#define RH_INIT_FRAME_STATS 1160         // FrameStats g_frameStats
#define RH_INIT_LIGHT_SLOTS 1170         // LightSlotManager g_lightSlotManager
#define RH_INIT_EFFECT_MANAGER 1180      // EffectManager g_effectManager
#define RH_INIT_TEXTURE_REGISTRY 1190    // TextureRegistry g_textureRegistry
#define RH_INIT_STYLE_REGISTRY 1200      // StyleRegistry g_styleRegistry
#define RH_INIT_GEOMETRY_CACHE 1210      // GeometryBufferCache g_geometryBufferCache
