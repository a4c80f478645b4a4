// Particle emitter keys from scene files: the input gives the values of the fifteen keys
// (texts, or lists of texts as children), a seed and the clock steps; the emitter is set up,
// seeded with particles by hand and updated 100 times on a hand-driven clock without a device,
// so every draw fails cleanly.
//
// Input: per key a kind byte (0 absent, 1 one text, k >= 2 a list of (k - 2) % 8 items), each
// text a length byte and its bytes; list items are named "0", "1", ... except under "TexGen",
// whose items are a name text and a weight text. Then 4 bytes of seed, a byte of hand spawns,
// and a 2-byte clock step per update.

#include "fuzz/fuzz_input.h"

#include "core/object/property_node.h"
#include "core/time/clock_source.h"
#include "render/material.h"
#include "scene/particle_emitter.h"

#include <cstdlib>
#include <string>

namespace {

uint32_t g_now = 1000;
uint32_t FuzzClock() { return g_now; }

const char* const kKeys[] = {"Texture",    "MaxParticles", "IterationAccuracy", "DirDeviation", "EmitDir",
                             "Acceleration", "ParticleSize", "ParticleLife",    "StartColor",   "EndColor",
                             "SpawnArea",  "SpawnType",    "StartSpeed",        "GenPeriod",    "TexGen"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto copy = fuzz_input::ExactCopy(data, size);
    fuzz_input::Reader in(copy.get(), size);
    g_now = 1000;
    SetClockSource(&FuzzClock);

    PropertyNode props;
    for (const char* key : kKeys) {
        uint8_t kind = in.Byte();
        if (kind == 0) continue;
        String name(key);
        if (kind == 1) {
            props.SetChildString(name, String(in.Text().c_str()));
            continue;
        }
        props.SetChildString(name, String(""));
        PropertyNode* list = props.Child(name);
        const bool named = std::string(key) == "TexGen";
        for (int i = 0; i < (kind - 2) % 8; ++i) {
            std::string item = named ? in.Text() : std::to_string(i);
            list->SetChildString(String(item.c_str()), String(in.Text().c_str()));
        }
    }
    std::srand(in.Number(4));

    MultiMaterial material;
    RenderContext context;
    material.SetRenderContext(&context);
    ParticleEmitter emitter;
    emitter.Setup(props, material, nullptr);
    emitter.lastUpdate = g_now;
    int hand = in.Byte();
    for (int i = 0; i < hand && emitter.particles.count() < emitter.particleLimit; ++i) {
        Particle particle;
        emitter.SpawnParticle(&material, particle);
        particle.birth = g_now;
        emitter.particles.Append(particle);
    }
    for (int i = 0; i < 100; ++i) {
        g_now += in.Number(2) % 1000;
        fuzz_input::Check(emitter.UpdateParticles(&material).value == 0);
        fuzz_input::Check(emitter.particles.count() <= emitter.particleLimit + hand);
    }
    SetClockSource(nullptr);
    return 0;
}
