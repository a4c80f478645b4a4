// The engine's caching switches: whether compiled effects and generated normal maps are kept
// on disk. One process-wide record, g_engineSettings; nothing changes it at run time.
#pragma once

struct EngineSettings {
    // Compile effects from source even when a compiled binary exists.
    bool forceEffectRecompile = false;
    // Write the compiled binary (".fxo") after compiling an effect.
    bool saveCompiledEffects = true;
    // Save generated normal maps, and use the ones saved before.
    bool saveNormalMaps = true;

    constexpr EngineSettings() = default;
};

// Constant-initialised: ready before any other global is constructed.
extern EngineSettings g_engineSettings;
