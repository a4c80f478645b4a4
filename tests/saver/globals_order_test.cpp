// The process-wide objects come into being before main in their fixed order and go after it in
// the reverse order, whatever order the linker put their modules in. A probe stands just before
// and just after each object: the one before sees it unbuilt (its memory still zero), the one
// after sees it built. The first probe, destroyed last of all, checks that the objects' probes
// were destroyed in exactly the reverse order and ends the process with a failure otherwise.

#include "core/init_order.h"
#include "core/settings/frame_stats.h"
#include "gui/gui_root.h"
#include "render/effect_manager.h"
#include "render/geometry_buffer_cache.h"
#include "render/light.h"
#include "render/texture_registry.h"
#include "core/object/style_registry.h"
#include "saver/saver_app.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// Plain arrays: constant-initialised, so they exist before every probe.
constexpr int kMaxEvents = 64;
int g_built[kMaxEvents];
int g_builtCount = 0;
int g_gone[kMaxEvents];
int g_goneCount = 0;

// A probe's construction-time check of its neighbour.
using Check = bool (*)();

struct Probe {
    int number;
    bool sawExpected;
    Probe(int n, Check check) : number(n), sawExpected(check()) { g_built[g_builtCount++] = n; }
    ~Probe() {
        if (g_goneCount < kMaxEvents) g_gone[g_goneCount++] = number;
    }
};

// Destroyed last: every probe must be gone by now, the newest first.
struct FinalCheck {
    ~FinalCheck() {
        bool ok = g_goneCount == g_builtCount;
        for (int i = 0; ok && i < g_goneCount; ++i) ok = g_gone[i] == g_built[g_builtCount - 1 - i];
        if (!ok) {
            std::fprintf(stderr, "globals were not destroyed in the reverse order of their construction\n");
            _exit(1);
        }
    }
};

// Zero memory: an object whose constructor has not run yet.
template <typename T>
bool Unbuilt(const T& object) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&object);
    for (size_t i = 0; i < sizeof(T); ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}
template <typename T>
bool Built(const T& object) {
    return !Unbuilt(object);
}

#define RH_PROBES(name, order, object)                                                            \
    Probe name##Before RH_INIT_ORDER(order - 1){order - 1, [] { return Unbuilt(object); }};      \
    Probe name##After RH_INIT_ORDER(order + 1) { order + 1, [] { return Built(object); } }

FinalCheck g_finalCheck RH_INIT_ORDER(1000);
Probe g_first RH_INIT_ORDER(1001){1001, [] { return true; }};
RH_PROBES(title, RH_INIT_TITLE, g_title);
RH_PROBES(maker, RH_INIT_MAKER_ADDRESS, g_makerAddress);
RH_PROBES(registry, RH_INIT_REGISTRY_PATH, g_registryPath);
RH_PROBES(guiRoot, RH_INIT_GUI_ROOT, g_guiRoot);
RH_PROBES(frameStats, RH_INIT_FRAME_STATS, g_frameStats);
RH_PROBES(lightSlots, RH_INIT_LIGHT_SLOTS, g_lightSlotManager);
RH_PROBES(effects, RH_INIT_EFFECT_MANAGER, g_effectManager);
RH_PROBES(textures, RH_INIT_TEXTURE_REGISTRY, g_textureRegistry);
RH_PROBES(styles, RH_INIT_STYLE_REGISTRY, g_styleRegistry);
RH_PROBES(geometry, RH_INIT_GEOMETRY_CACHE, g_geometryBufferCache);

const Probe* const kProbes[] = {
    &titleBefore,      &titleAfter,      &makerBefore,   &makerAfter,   &registryBefore, &registryAfter,
    &guiRootBefore,    &guiRootAfter,    &frameStatsBefore, &frameStatsAfter, &lightSlotsBefore,
    &lightSlotsAfter,  &effectsBefore,   &effectsAfter,  &texturesBefore, &texturesAfter, &stylesBefore,
    &stylesAfter,      &geometryBefore,  &geometryAfter,
};

TEST(GlobalsOrder, BuiltInTableOrderBeforeMain) {
    ASSERT_EQ(g_builtCount, 1 + static_cast<int>(std::size(kProbes)));
    for (int i = 1; i < g_builtCount; ++i) EXPECT_LT(g_built[i - 1], g_built[i]) << "probe " << g_built[i];
    for (const Probe* probe : kProbes) {
        EXPECT_TRUE(probe->sawExpected) << "probe " << probe->number
                                        << (probe->number % 10 == 9 ? ": its object was built already"
                                                                    : ": its object was not built yet");
    }
    EXPECT_STREQ(g_title.Text(), "Rimeholt 3D Screensaver") << "before the messages are read";
    EXPECT_STREQ(g_registryPath.Text(), "Software\\Larchmere Studio\\Rimeholt 3D Screensaver");
    EXPECT_EQ(g_guiRoot.farPlane(), 1000.0f);
    SaverApp app;
    app.LoadMessages();
    EXPECT_STREQ(g_title.Text(), "Glintwold 3D Screensaver") << "the message \"AppName\"";
}

}  // namespace
