// Particle emitters: spawning, motion, expiry and the per-draw vertices.

#include "scene/particle_emitter.h"

#include "core/object/property_node.h"
#include "render/app_framework.h"
#include "render/geometry.h"
#include "render/hardware_buffer.h"
#include "render/material.h"
#include "render/state_cache.h"
#include "render/texture_registry.h"
#include "scene/scene_node.h"

#include <d3dx9.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <cmath>
#include <cstdlib>
#include <cstring>

float g_particleTimeStep = 0.1f;

namespace {

constexpr DWORD kSpriteFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE;  // 0x72
constexpr DWORD kQuadFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;      // 0x152

struct SpriteVertex {
    float x, y, z;
    float nx, ny, nz;
    float size;
    DWORD colour;
};
static_assert(sizeof(SpriteVertex) == 32);

struct QuadVertex {
    float x, y, z;
    float nx, ny, nz;
    DWORD colour;
    float u, v;
};
static_assert(sizeof(QuadVertex) == 36);

DWORD Bits(float f) {
    DWORD d;
    std::memcpy(&d, &f, sizeof d);
    return d;
}

D3DXVECTOR3 ToD3DX(Vec3 v) { return D3DXVECTOR3(v.x, v.y, v.z); }
Vec3 FromD3DX(const D3DXVECTOR3& v) { return Vec3{v.x, v.y, v.z}; }

D3DXMATRIX ToD3DX(const TypedMatrix& m) {
    D3DXMATRIX out;
    std::memcpy(&out, m.m, sizeof m.m);
    return out;
}

Vec3 TransformCoord(Vec3 v, const D3DXMATRIX& m) {
    D3DXVECTOR3 in = ToD3DX(v);
    D3DXVECTOR3 out;
    D3DXVec3TransformCoord(&out, &in, &m);
    return FromD3DX(out);
}

// A sampled life in milliseconds as an int: NaN is 0, values beyond the int range its ends
// (a plain conversion of those is undefined).
int32_t LifeFromSample(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// The text of a property node: its value when that is a String, else empty.
String TextOf(const PropertyNode* node) {
    const String* text = node != nullptr ? node->ValueAs<String>() : nullptr;
    return text != nullptr ? *text : String();
}

float NumberOf(const PropertyNode* node) {
    float v = 0.0f;
    TextOf(node).ToFloat(v);
    return v;
}

const PropertyNode* Item(const PropertyNode* list, const char* name) { return list->Child(String(name)); }

// A colour channel: child `index`, else child `letter`, else 1.0.
float Channel(const PropertyNode* list, const char* index, const char* letter) {
    const PropertyNode* item = Item(list, index);
    if (item == nullptr) item = Item(list, letter);
    return item != nullptr ? NumberOf(item) : 1.0f;
}

}  // namespace

// ---- Key readers ----

int32_t PropertyAsInt(const PropertyNode* node) {
    if (node == nullptr) return 0;
    int32_t v = 0;
    TextOf(node).ToInt(v);
    return v;
}

float PropertyAsFloat(const PropertyNode* node) { return node == nullptr ? 0.0f : NumberOf(node); }

Vec3 PropertyAsVector(const PropertyNode* node) {
    if (node == nullptr) return Vec3{0.0f, 0.0f, 0.0f};
    if (node->count() == 0) {
        float v = NumberOf(node);
        return Vec3{v, v, v};
    }
    auto at = [&](const char* name) {
        const PropertyNode* item = Item(node, name);
        return item != nullptr ? NumberOf(item) : 0.0f;
    };
    return Vec3{at("0"), at("1"), at("2")};
}

ArgbColor PropertyAsColor(const PropertyNode* node) {
    if (node == nullptr) return ArgbColor(1.0f, 1.0f, 1.0f, 1.0f);
    if (node->count() == 0) return ArgbColor(NumberOf(node));
    if (node->count() == 3) {
        return ArgbColor(1.0f, Channel(node, "0", "r"), Channel(node, "1", "g"), Channel(node, "2", "b"));
    }
    if (node->count() == 4) {
        return ArgbColor(Channel(node, "0", "a"), Channel(node, "1", "r"), Channel(node, "2", "g"),
                         Channel(node, "3", "b"));
    }
    return ArgbColor(1.0f, 1.0f, 1.0f, 1.0f);
}

RandomValue PropertyAsRange(const PropertyNode* node) {
    if (node == nullptr) return RandomValue(1.0f);
    auto at = [&](const char* name) {
        const PropertyNode* item = Item(node, name);
        return item != nullptr ? NumberOf(item) : 0.0f;
    };
    switch (node->count()) {
        case 0: return RandomValue(NumberOf(node));
        case 2: return RandomValue(at("0"), 1.0f, at("1"), 1.0f);
        case 4: return RandomValue(at("0"), at("1"), at("2"), at("3"));
        case 6: return RandomValue(at("0"), at("1"), at("2"), at("3"), at("4"), at("5"));
        default: return RandomValue();
    }
}

// ---- Geometry of spawning ----

float RandomAngle() {
    // 2 pi as the float 6.2831855 and the float nearest 1 / 32766, so the angle spans [0, 2 pi].
    constexpr float kTwoPi = 6.2831855f;
    constexpr float kStep = 1.0f / 32766.0f;
    return static_cast<float>(std::rand() % 32767) * kTwoPi * kStep;
}

Vec3 PickSpherePoint(Vec3 centre, float radius, float angle1, float angle2) {
    D3DXMATRIX aboutX, aboutY, both;
    D3DXMatrixRotationX(&aboutX, angle1);
    D3DXMatrixRotationY(&aboutY, angle2);
    D3DXMatrixMultiply(&both, &aboutX, &aboutY);
    return Vec3Add(centre, TransformCoord(Vec3{0.0f, 0.0f, radius}, both));
}

void BuildPerpendicularAxes(Vec3 d, Vec3& a, Vec3& b) {
    // An auxiliary axis along the smallest component of d is never parallel to it.
    float ax = std::fabs(d.x), ay = std::fabs(d.y), az = std::fabs(d.z);
    a = ax <= ay && ax <= az ? Vec3{1.0f, 0.0f, 0.0f} : (ay <= az ? Vec3{0.0f, 1.0f, 0.0f} : Vec3{0.0f, 0.0f, 1.0f});
    b = Vec3Normalize(Vec3Cross(d, a));
    a = Vec3Normalize(Vec3Cross(b, d));
}

Vec3 DeviateDirection(Vec3 d, float angle) {
    Vec3 a, b;
    BuildPerpendicularAxes(d, a, b);
    float spin = RandomAngle();
    // A zero direction has no axes to turn about (and stays zero whatever the turn).
    if (Vec3Dot(d, d) == 0.0f) return d;
    D3DXMATRIX tilt, turn;
    D3DXVECTOR3 tiltAxis = ToD3DX(b), turnAxis = ToD3DX(d);
    D3DXMatrixRotationAxis(&tilt, &tiltAxis, angle);
    Vec3 v = TransformCoord(d, tilt);
    D3DXMatrixRotationAxis(&turn, &turnAxis, spin);
    return TransformCoord(v, turn);
}

// ---- Weighted names ----

void WeightedNameTable::Rebuild() {
    cumulative.Clear();
    int64_t sum = 0;
    auto* node = weights.cursor();
    for (int32_t i = 0; i < weights.count(); ++i, node = node->next) {
        // A weight of 0 would take over the name stored under the same sum; negative ones
        // would shrink the shares of the others.
        if (node->value <= 0) continue;
        sum += node->value;
        cumulative.Insert(sum, node->key, 1);
    }
}

String WeightedNameTable::Pick() const {
    if (weights.count() == 0 && cumulative.count() == 0) return String();
    int64_t total = cumulative.count() > 0 ? cumulative.first()->prev->key : 0;
    int64_t r = std::rand();
    if (total <= 0) return String();
    r = r % total + 1;
    decltype(cumulative)::Node* floor = nullptr;
    decltype(cumulative)::Node* ceiling = nullptr;
    cumulative.FindBounds(r, floor, ceiling);
    return ceiling != nullptr ? ceiling->value : String();
}

void WeightedNameTable::Clear() {
    weights.Clear();
    cumulative.Clear();
}

// ---- ParticleMesh and ParticleRenderNode ----

bool ParticleMesh::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<ParticleMesh, Mesh, Renderable>(this, id, out);
}

bool ParticleRenderNode::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<ParticleRenderNode>(this, id, out) || ParticleMesh::QueryInterface(id, out);
}

FlagWord ParticleRenderNode::RenderParticles(MultiMaterial* material) {
    RenderContext* context = material != nullptr ? material->renderContext() : nullptr;
    if (context == nullptr) return FlagWord(false);
    int32_t limit = particleLimit < 0 ? 0 : particleLimit;
    int32_t count = ParticleCount();
    int32_t n = count < limit ? count : limit;
    bool sprites = pointSpritesAllowed && singleTexture && g_appFramework != nullptr &&
                   g_appFramework->SupportsPointSprites() && (constantSize || g_appFramework->SupportsPointSize());

    if (GetGeometry().Get() == nullptr) {
        GeometryDesc& desc = GetGeometryDesc();
        desc.primitiveType = sprites ? D3DPT_POINTLIST : D3DPT_TRIANGLELIST;
        if (!desc.format.SetFromFVF(sprites ? kSpriteFvf : kQuadFvf)) return FlagWord(false);
        BufferDesc& stream = desc.streams[0];
        stream.kind = BufferKind::Vertex;
        stream.format = desc.format;
        stream.stride = sprites ? 32 : 36;
        // In 64 bits: a limit times 216 bytes leaves the int range long before the limit does.
        int64_t bytes = int64_t{limit} * stream.stride * (sprites ? 1 : 6);
        if (bytes > INT32_MAX) return FlagWord(false);
        stream.size = static_cast<int32_t>(bytes);
        stream.usage = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY | (sprites ? D3DUSAGE_POINTS : 0);
        stream.pool = D3DPOOL_DEFAULT;
        stream.flags = kBufferSizeGiven | kBufferUsageGiven;
        // Every draw rewrites its block: zero-filling it when it is returned is wasted work.
        stream.clearFreedBlocks = false;
        if (!CreateGeometry(&desc)) return FlagWord(false);
    }
    Geometry* geometry = GetGeometry().Get();
    GrowableBuffer* buffer = geometry != nullptr ? geometry->streamBuffer(0) : nullptr;
    if (buffer == nullptr) return FlagWord(false);
    // The path is the geometry's, made at the first draw.
    sprites = geometry->primitiveType() == D3DPT_POINTLIST;
    if (n == 0) return FlagWord(true);
    const int32_t stride = sprites ? 32 : 36;
    const int64_t bytes = int64_t{n} * stride * (sprites ? 1 : 6);
    if (bytes > buffer->size()) return FlagWord(false);
    BufferBlock* block = buffer->AllocateBlock(static_cast<int32_t>(bytes), 0, nullptr);
    if (block == nullptr) return FlagWord(false);
    void* data = nullptr;
    // A block that cannot be locked would draw whatever it held before: skipped instead.
    if (!block->Lock(D3DLOCK_DISCARD, &data) || data == nullptr) {
        block->Free();
        return FlagWord(false);
    }

    context->world = IdentityMatrix();
    const TypedMatrix& v = context->view;
    Vec3 up = Vec3Normalize(Vec3{v.At(0, 1), v.At(1, 1), v.At(2, 1)});
    Vec3 forward = Vec3Normalize(Vec3{v.At(0, 2), v.At(1, 2), v.At(2, 2)});
    Vec3 across = Vec3Normalize(Vec3Cross(forward, up));
    const float nx = -forward.x, ny = -forward.y, nz = -forward.z;

    BeginParticles();
    const Particle* first = NextParticle();
    const DWORD sharedColour = first->colour.ToARGB();
    const float sharedWidth = first->width;
    const float sharedHeight = first->height;
    const UvRect sharedRect = first->rect;
    BeginParticles();

    Vec3 low{0.0f, 0.0f, 0.0f}, high{0.0f, 0.0f, 0.0f};
    if (sprites) {
        auto* out = static_cast<SpriteVertex*>(data);
        for (int32_t i = 0; i < n; ++i) {
            const Particle* p = NextParticle();
            out[i] = SpriteVertex{p->position.x, p->position.y, p->position.z, nx, ny, nz, p->width,
                                  equalColours ? sharedColour : p->colour.ToARGB()};
            if (i == 0) low = high = p->position;
            low = Vec3{std::fmin(low.x, p->position.x), std::fmin(low.y, p->position.y), std::fmin(low.z, p->position.z)};
            high = Vec3{std::fmax(high.x, p->position.x), std::fmax(high.y, p->position.y),
                        std::fmax(high.z, p->position.z)};
        }
    } else {
        auto* out = static_cast<QuadVertex*>(data);
        // With a constant size the corner offsets are the same for every particle.
        Vec3 sx = Vec3Scale(across, sharedWidth * 0.5f);
        Vec3 uy = Vec3Scale(up, sharedHeight * 0.5f);
        for (int32_t i = 0; i < n; ++i) {
            const Particle* p = NextParticle();
            if (!constantSize) {
                sx = Vec3Scale(across, p->width * 0.5f);
                uy = Vec3Scale(up, p->height * 0.5f);
            }
            const UvRect& r = singleTexture ? sharedRect : p->rect;
            const DWORD c = equalColours ? sharedColour : p->colour.ToARGB();
            const Vec3 q = p->position;
            const Vec3 c1 = Vec3Subtract(Vec3Subtract(q, sx), uy);  // -S -U
            const Vec3 c2 = Vec3Subtract(Vec3Add(q, sx), uy);       // +S -U
            const Vec3 c3 = Vec3Add(Vec3Subtract(q, sx), uy);       // -S +U
            const Vec3 c5 = Vec3Add(Vec3Add(q, sx), uy);            // +S +U
            QuadVertex* o = out + static_cast<size_t>(i) * 6;
            o[0] = QuadVertex{c1.x, c1.y, c1.z, nx, ny, nz, c, r.left, r.top};
            o[1] = QuadVertex{c2.x, c2.y, c2.z, nx, ny, nz, c, r.right, r.top};
            o[2] = QuadVertex{c3.x, c3.y, c3.z, nx, ny, nz, c, r.left, r.bottom};
            o[3] = QuadVertex{c2.x, c2.y, c2.z, nx, ny, nz, c, r.right, r.top};
            o[4] = QuadVertex{c5.x, c5.y, c5.z, nx, ny, nz, c, r.right, r.bottom};
            o[5] = QuadVertex{c3.x, c3.y, c3.z, nx, ny, nz, c, r.left, r.bottom};
            if (i == 0) low = high = q;
            low = Vec3{std::fmin(low.x, q.x), std::fmin(low.y, q.y), std::fmin(low.z, q.z)};
            high = Vec3{std::fmax(high.x, q.x), std::fmax(high.y, q.y), std::fmax(high.z, q.z)};
        }
    }
    box_.centre = Vec3Scale(Vec3Add(low, high), 0.5f);
    box_.size = Vec3Subtract(high, low);
    valid_ = true;
    block->Unlock();

    if (sprites) {
        StateCache::SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
        StateCache::SetRenderState(D3DRS_POINTSCALEENABLE, TRUE);
        StateCache::SetRenderState(D3DRS_POINTSIZE_MIN, Bits(1.0f));
        if (constantSize) StateCache::SetRenderState(D3DRS_POINTSIZE, Bits(sharedWidth));
        StateCache::SetRenderState(D3DRS_POINTSCALE_A, Bits(0.0f));
        StateCache::SetRenderState(D3DRS_POINTSCALE_B, Bits(0.0f));
        StateCache::SetRenderState(D3DRS_POINTSCALE_C, Bits(4.0f));
    }
    FlagWord result = Mesh::Render(material);
    block->Free();
    return result;
}

// ---- ParticleEmitter ----

ParticleEmitter::ParticleEmitter() : lastUpdate(static_cast<int64_t>(ClockNow())) { pointSpritesAllowed = true; }

bool ParticleEmitter::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<ParticleEmitter, ParticleRenderNode>(this, id, out) || ParticleMesh::QueryInterface(id, out);
}

Particle* ParticleEmitter::NextParticle() {
    if (cursor_ == nullptr) cursor_ = particles.first();
    Particle* p = &cursor_->element;
    cursor_ = cursor_->next;
    return p;
}

FlagWord ParticleEmitter::UpdateParticles(MultiMaterial* material) {
    LinkedList<int64_t> due;
    spawnScheduler.Generate(due, kMaxSpawnsPerUpdate);
    const bool noting = NotedBelowValid();
    while (due.count() > 0 && particles.count() < particleLimit) {
        int64_t t = due.Take();
        Particle particle;
        SpawnParticle(material, particle);
        particle.birth = t;
        particles.Append(particle);
        if (noting && particle.position.y < trackedY_) below_.push_back(particles.cursor());
    }
    if (noting) belowChanges_ = particles.changes();

    const int64_t now = static_cast<int64_t>(ClockNow());
    const float step = static_cast<float>(now - lastUpdate) * timeScale * g_particleTimeStep;
    if (step > iterationAccuracy) {
        lastUpdate = now;
        const Vec3 gain = Vec3Scale(acceleration, step);
        below_.clear();
        auto* node = particles.cursor();
        const int32_t visits = particles.count();
        for (int32_t i = 0; i < visits; ++i) {
            auto* next = node->next;
            Particle& p = node->element;
            // Advance answers false without an animation: most particles have none.
            if (p.playback.animation != nullptr && p.playback.Advance(static_cast<uint64_t>(now))) {
                p.rect = p.playback.uv;
            }
            if (p.life >= 0 && now >= p.birth + p.life) {
                particles.SetCursor(node);
                particles.Take();
            } else {
                p.velocity = Vec3Add(p.velocity, gain);
                p.position = Vec3Add(p.position, Vec3Scale(p.velocity, step));
                if (trackBelow_ && p.position.y < trackedY_) below_.push_back(node);
            }
            node = next;
        }
        belowChanges_ = particles.changes();
    }
    return RenderParticles(material);
}

void ParticleEmitter::TrackBelow(float y) {
    trackBelow_ = true;
    trackedY_ = y;
    below_.clear();
    // Nothing noted yet: the first RemoveBelow walks.
    belowChanges_ = particles.changes() - 1;
}

int32_t ParticleEmitter::RemoveBelow(float y) {
    const int32_t before = particles.count();
    if (NotedBelowValid() && y == trackedY_) {
        if (!below_.empty()) TakeNotedBelow();
    } else {
        auto* node = particles.first();
        for (int32_t i = 0; i < before; ++i) {
            auto* next = node->next;
            if (node->element.position.y < y) {
                particles.SetCursor(node);
                particles.Take();
            }
            node = next;
        }
    }
    if (trackBelow_ && y == trackedY_) {
        // Nothing below the height is left.
        below_.clear();
        belowChanges_ = particles.changes();
    }
    return before - particles.count();
}

void ParticleEmitter::TakeNotedBelow() {
    using Node = LinkedList<Particle>::Node;
    if (static_cast<int32_t>(below_.size()) == particles.count()) {
        while (particles.count() > 0) particles.Take();
        return;
    }
    std::sort(below_.begin(), below_.end(), std::less<Node*>());
    const auto noted = [this](Node* node) { return std::binary_search(below_.begin(), below_.end(), node, std::less<Node*>()); };
    // The walk from the first particle takes the last noted particle last, and Take leaves the
    // cursor on the particle before it, the nearest one that stays.
    Node* last = particles.first()->prev;
    while (!noted(last)) last = last->prev;
    Node* stays = last->prev;
    while (noted(stays)) stays = stays->prev;
    for (Node* node : below_) {
        particles.SetCursor(node);
        particles.Take();
    }
    particles.SetCursor(stays);
}

void ParticleEmitter::SpawnParticle(MultiMaterial* material, Particle& particle) {
    RenderContext* context = material != nullptr ? material->renderContext() : nullptr;
    D3DXMATRIX world = ToD3DX(context != nullptr ? context->world : IdentityMatrix());
    Vec3 centre = TransformCoord(spawnCentre, world);

    float radius = spawnRadius.Sample();
    float angle1 = RandomAngle();
    float angle2 = RandomAngle();
    if (spawnType == 1) angle1 = 0.0f;
    particle.position = PickSpherePoint(centre, radius, angle1, angle2);
    float side = size.Sample();
    particle.width = side;
    particle.height = side;
    particle.colour = startColour;
    particle.life = LifeFromSample(life.Sample());

    D3DXMATRIX turn = world;
    turn._41 = turn._42 = turn._43 = 0.0f;
    Vec3 d = TransformCoord(emitDirection, turn);
    d = DeviateDirection(d, directionDeviation.Sample());
    particle.velocity = Vec3Scale(Vec3Normalize(d), startSpeed.Sample());

    Texture* texture = material != nullptr ? material->sub(0).maps[kDiffuseMap].texture : nullptr;
    if (texture != nullptr) {
        String name = textureNames.weights.count() > 0 ? textureNames.Pick() : String();
        if (texture->StartPlayback(particle.playback, name)) particle.rect = particle.playback.uv;
    }
}

void ParticleEmitter::WeightTextureNames(MultiMaterial* material) {
    textureNames.weights.Clear();
    Texture* texture = material != nullptr ? material->sub(0).maps[kDiffuseMap].texture : nullptr;
    if (texture != nullptr) {
        if (texture->Animations().count() != 0) {
            auto* node = texture->Animations().cursor();
            for (int32_t i = 0; i < texture->Animations().count(); ++i, node = node->next) {
                textureNames.weights.Insert(node->key, 10, 1);
            }
        } else {
            auto* node = texture->SubTextures().first();
            for (int32_t i = 0; i < texture->SubTextures().count(); ++i, node = node->next) {
                textureNames.weights.Insert(node->key, 10, 1);
            }
        }
    }
    textureNames.Rebuild();
}

void ParticleEmitter::Setup(const PropertyNode& properties, MultiMaterial& material, Texture* texture) {
    auto key = [&](const char* name) -> const PropertyNode* { return properties.Child(String(name)); };
    int32_t limit = PropertyAsInt(key("MaxParticles"));
    particleLimit = limit < 0 ? 0 : (limit > kMaxParticleLimit ? kMaxParticleLimit : limit);
    iterationAccuracy = PropertyAsFloat(key("IterationAccuracy"));
    directionDeviation = PropertyAsRange(key("DirDeviation"));
    emitDirection = PropertyAsVector(key("EmitDir"));
    acceleration = PropertyAsVector(key("Acceleration"));
    size = PropertyAsRange(key("ParticleSize"));
    life = PropertyAsRange(key("ParticleLife"));
    spawnCentre = Vec3{0.0f, 0.0f, 0.0f};
    startColour = PropertyAsColor(key("StartColor"));
    endColour = PropertyAsColor(key("EndColor"));
    spawnRadius = PropertyAsRange(key("SpawnArea"));
    spawnType = PropertyAsInt(key("SpawnType"));
    startSpeed = PropertyAsRange(key("StartSpeed"));
    spawnScheduler.Start();
    spawnScheduler.SetInterval(PropertyAsRange(key("GenPeriod")));

    SubMaterial& sub = material.sub(0);
    sub.vertexAlpha = true;
    sub.maps[kDiffuseMap].texture = texture;
    sub.stages[0].map.texture = texture;
    sub.stages[0].SetAlphaSource(6);

    if (const PropertyNode* names = properties.LookupChild(String("TexGen"))) {
        textureNames.Clear();
        auto* node = names->cursor();
        for (int32_t i = 0; i < names->count(); ++i, node = node->next) {
            const String* text = node->value != nullptr ? node->value->ValueAs<String>() : nullptr;
            if (text == nullptr) continue;
            int32_t weight = 0;
            text->ToInt(weight);
            textureNames.weights.Insert(node->key, weight, 1);
        }
        textureNames.Rebuild();
    } else {
        WeightTextureNames(&material);
    }

    pointSpritesAllowed = true;
    constantSize = size.IsConstant();
    singleTexture = textureNames.weights.count() <= 1;
    equalColours = ColorsEqual(startColour, endColour);
}

Renderable* CreateParticleEmitter(SceneNode& node, SearchPaths* paths) {
    Texture* texture = nullptr;
    String name;
    if (node.properties().GetString(String("Texture"), name)) {
        TextureRequest request;
        request.locator = FileRef(name);
        request.locator.flags = FileRef::kDisk | FileRef::kArchive;
        texture = g_textureRegistry.Get(request, paths);
    }
    auto* emitter = new ParticleEmitter();
    emitter->HoldTexture(texture);
    emitter->Setup(node.properties(), node.GetMaterial(), texture);
    return emitter;
}
