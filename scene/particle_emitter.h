// Particle emitters: a drawable attachment of a scene node that creates particles at random
// moments around the node, moves them under a constant acceleration, removes them when their
// life is over and draws all of them from one dynamic vertex block, as point sprites when the
// device allows or as camera-facing quads otherwise.
//
// Three layers: ParticleMesh hands out particles, ParticleRenderNode turns them into vertices
// and draws them, ParticleEmitter owns, spawns and moves them. Random draws use the C
// runtime's rand in a fixed order per spawn, so a seed decides every particle.
#pragma once

#include "core/containers/linked_list.h"
#include "core/containers/ordered_map.h"
#include "core/math/vec3.h"
#include "core/text/string.h"
#include "core/time/clock.h"
#include "core/types/argb_color.h"
#include "core/types/random_value.h"
#include "render/mesh.h"
#include "render/texture.h"
#include "render/texture_registry.h"

#include <cstdint>
#include <vector>

class MultiMaterial;
class PropertyNode;
class SceneNode;
class SearchPaths;

// The particle step ("DT"): milliseconds of clock time times this are one step unit.
extern float g_particleTimeStep;

// The most particles an emitter keeps; larger limits from scene files are cut to it.
constexpr int32_t kMaxParticleLimit = 1000000;
// The most spawn times one update takes from the scheduler.
constexpr int32_t kMaxSpawnsPerUpdate = 1000;

struct Particle {
    Vec3 position{0.0f, 0.0f, 0.0f};
    // Width and height of a quad; a sprite uses the width.
    float width = 0.0f;
    float height = 0.0f;
    ArgbColor colour{1.0f, 1.0f, 1.0f, 1.0f};
    // Left u, top v, right u, bottom v: the whole picture until a playback says otherwise.
    UvRect rect;
    // World units per step unit.
    Vec3 velocity{0.0f, 0.0f, 0.0f};
    // Milliseconds; negative never expires.
    int32_t life = 0;
    // ClockNow milliseconds.
    int64_t birth = 0;
    TexturePlayback playback;
};

// A mesh that draws up to `particleLimit` particles handed out by its three operations.
class ParticleMesh : public Mesh {
public:
    // The cursor goes to the first particle.
    virtual void BeginParticles() = 0;
    // The cursor's particle; the cursor moves on.
    virtual Particle* NextParticle() = 0;
    virtual int32_t ParticleCount() = 0;

    // ParticleMesh, Mesh and Renderable.
    bool QueryInterface(int32_t id, void** out) override;

    int32_t particleLimit = 0;
};

// Turns the particles into vertices, one block per draw, and draws them.
class ParticleRenderNode : public ParticleMesh {
public:
    FlagWord Render(MultiMaterial* material) override { return RenderParticles(material); }
    // The box is kept by RenderParticles: true, nothing recomputed.
    bool ComputeBounds() override { return true; }
    bool QueryInterface(int32_t id, void** out) override;

    // Builds the vertices of min(ParticleCount, limit) particles in world coordinates into a
    // block locked with discard and draws them with the material: point sprites when allowed,
    // single-textured, offered by the device and (constant size or a size per vertex), else
    // six vertices of a camera-facing quad each. The world matrix of the material's render
    // context becomes the identity. False without a render context, when the geometry cannot
    // be made, a block cannot be taken or locked, or the draw fails; no particle draws nothing
    // and answers true.
    FlagWord RenderParticles(MultiMaterial* material);

    // Switches; they decide the geometry at the first draw and should not change after it.
    bool pointSpritesAllowed = false;
    bool constantSize = false;
    bool singleTexture = false;
    bool equalColours = false;
};

// Names with integer weights and their running sums, for weighted random picks.
class WeightedNameTable {
public:
    // The running sums from the weights, walked from the cursor (the name inserted last first).
    // Weights of 0 or less count nothing and get no share.
    void Rebuild();
    // One name, each with its weight's share (r = rand() mod total + 1, the smallest sum >= r);
    // the empty name for an empty table. A table whose weights sum to nothing still draws
    // once and gives the empty name. Names past a total of RAND_MAX + 1 are never drawn.
    String Pick() const;
    void Clear();

    OrderedMap<String, int32_t, StringCompare> weights;
    OrderedMap<int64_t, String> cumulative;
};

class ParticleEmitter : public ParticleRenderNode {
public:
    // Sprites allowed, emit direction (0, 1, 0), constant zero values, white colours, the
    // scheduler stopped, spawn centre and acceleration zero and the last update now.
    ParticleEmitter();
    ~ParticleEmitter() override = default;

    FlagWord Render(MultiMaterial* material) override { return UpdateParticles(material); }
    bool QueryInterface(int32_t id, void** out) override;
    void BeginParticles() override { cursor_ = particles.first(); }
    Particle* NextParticle() override;
    int32_t ParticleCount() override { return particles.count(); }

    // Spawns what the scheduler has due (latest first, up to the limit), moves and expires the
    // particles when the step since the last move exceeds the iteration accuracy, then draws.
    FlagWord UpdateParticles(MultiMaterial* material);
    // Removes every particle whose y is below `y` as a walk from the first particle taking each
    // with Take would: the same particles go, in the list the others keep their order, and the
    // cursor ends where that walk leaves it. Answers how many went.
    int32_t RemoveBelow(float y);
    // Has every move (and spawn) note the particles below `y`, so that RemoveBelow(y) takes
    // them without walking the whole list, as long as the list holds the same particles as when
    // they were noted. Only the moves may change the positions of the particles in the list.
    void TrackBelow(float y);
    // Fills position, size, colour, life, velocity and picture of a new particle; the caller
    // sets the birth time and appends it.
    void SpawnParticle(MultiMaterial* material, Particle& particle);
    // The texture names from the Diffuse texture of the material's first sub-material: its
    // animations, else its sub-textures, weight 10 each.
    void WeightTextureNames(MultiMaterial* material);
    // Configures the emitter from a node's properties with the particle texture (null for
    // none) and gives the material's first sub-material that texture.
    void Setup(const PropertyNode& properties, MultiMaterial& material, Texture* texture);
    // Keeps a reference TextureRegistry::Get added (the node factory's particle texture) and
    // gives it back when the emitter goes; the material only points at the texture.
    void HoldTexture(Texture* texture) { heldTextures_.Keep(texture); }

    float iterationAccuracy = 0.0f;
    Vec3 spawnCentre{0.0f, 0.0f, 0.0f};
    Vec3 emitDirection{0.0f, 1.0f, 0.0f};
    Vec3 acceleration{0.0f, 0.0f, 0.0f};
    RandomValue spawnRadius;
    int32_t spawnType = 0;
    RandomValue life;
    RandomValue size;
    RandomValue directionDeviation;
    RandomValue startSpeed;
    ArgbColor startColour{1.0f, 1.0f, 1.0f, 1.0f};
    ArgbColor endColour{1.0f, 1.0f, 1.0f, 1.0f};
    float timeScale = 1.0f;
    int64_t lastUpdate = 0;
    LinkedList<Particle> particles;
    RandomIntervalScheduler spawnScheduler;
    WeightedNameTable textureNames;

private:
    // Where NextParticle reads; set by BeginParticles.
    LinkedList<Particle>::Node* cursor_ = nullptr;
    TextureReferences heldTextures_;
    // TrackBelow's height and the particles noted below it, valid while the list's change
    // count is belowChanges_.
    bool trackBelow_ = false;
    float trackedY_ = 0.0f;
    std::vector<LinkedList<Particle>::Node*> below_;
    uint64_t belowChanges_ = 0;
    bool NotedBelowValid() const { return trackBelow_ && belowChanges_ == particles.changes(); }
    void TakeNotedBelow();
};

// The key readers of emitter nodes; each takes the property found for a key, or null.
int32_t PropertyAsInt(const PropertyNode* node);
float PropertyAsFloat(const PropertyNode* node);
Vec3 PropertyAsVector(const PropertyNode* node);
ArgbColor PropertyAsColor(const PropertyNode* node);
RandomValue PropertyAsRange(const PropertyNode* node);

// (0, 0, radius) turned about x by angle1, then about y by angle2, plus the centre.
Vec3 PickSpherePoint(Vec3 centre, float radius, float angle1, float angle2);
// d tilted by `angle` about an axis perpendicular to it, then turned about d by a random spin
// (one rand draw, made also for a zero d, which comes back unchanged).
Vec3 DeviateDirection(Vec3 d, float angle);
// B := a unit vector perpendicular to d, A := the unit vector perpendicular to both.
void BuildPerpendicularAxes(Vec3 d, Vec3& a, Vec3& b);
// A random angle in [0, 2 pi]: (rand() mod 32767) x 2 pi / 32766.
float RandomAngle();

// The emitter of a node whose "NodeType" is "ParticleEmitter", configured from its properties
// with the texture found through the paths; the scene node's factory.
Renderable* CreateParticleEmitter(SceneNode& node, SearchPaths* paths);
