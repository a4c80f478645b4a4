#include "core/settings/engine_settings.h"

#include <gtest/gtest.h>

namespace {

// The defaults use a compiled effect binary when present, write it when absent, and keep the
// generated normal maps.
TEST(EngineSettingsTest, DefaultsCacheEffectsAndNormalMaps) {
    for (const EngineSettings& s : {EngineSettings(), g_engineSettings}) {
        EXPECT_FALSE(s.forceEffectRecompile);
        EXPECT_TRUE(s.saveCompiledEffects);
        EXPECT_TRUE(s.saveNormalMaps);
    }
}

}  // namespace
