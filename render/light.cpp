#include "render/light.h"

#include "core/containers/linked_list.h"

#include <algorithm>
#include <cmath>

namespace {

ArgbColor ColorFromValue(const D3DCOLORVALUE& c) { return ArgbColor(c.a, c.r, c.g, c.b); }

// The cube of the given edge around centre.
BoundingBox Cube(const Vec3& centre, float edge) { return BoundingBox{centre, Vec3{edge, edge, edge}}; }

}  // namespace

// ---- Light ----

Light::Light(D3DLIGHTTYPE type) { light_.Type = type; }

bool Light::QueryInterface(int32_t id, void** out) { return AnswerQuery<Light>(this, id, out); }

void Light::SetDiffuse(const ArgbColor& color) {
    light_.Diffuse = color.ToColorValue();
    ++changes_;
}

ArgbColor Light::GetDiffuse() const { return ColorFromValue(light_.Diffuse); }

void Light::SetSpecular(const ArgbColor& color) {
    light_.Specular = color.ToColorValue();
    ++changes_;
}

ArgbColor Light::GetSpecular() const { return ColorFromValue(light_.Specular); }

void Light::SetRange(float range) {
    light_.Range = range;
    ++changes_;
}

void Light::SetPosition(const Vec3& position) {
    light_.Position = ToD3DVector(position);
    ++changes_;
}

Vec3 Light::GetPosition() const { return FromD3DVector(light_.Position); }

void Light::SetDirection(const Vec3& direction) {
    light_.Direction = ToD3DVector(direction);
    ++changes_;
}

Vec3 Light::GetDirection() const { return FromD3DVector(light_.Direction); }

void Light::SetAttenuation(float a0, float a1, float a2) {
    light_.Attenuation0 = a0;
    light_.Attenuation1 = a1;
    light_.Attenuation2 = a2;
    ++changes_;
}

void Light::GetAttenuation(float* a0, float* a1, float* a2) const {
    *a0 = light_.Attenuation0;
    *a1 = light_.Attenuation1;
    *a2 = light_.Attenuation2;
}

void Light::SetInnerCone(float angle) {
    light_.Theta = angle;
    ++changes_;
}

void Light::SetOuterCone(float angle) {
    light_.Phi = angle;
    ++changes_;
}

float Light::AttenuationAt(float d) const {
    // A point exactly at the light would divide by a0 alone; the renderer wants a bright but
    // finite answer there whatever the factors.
    if (d == 0.0f) return 1000.0f;
    return 1.0f / (light_.Attenuation0 + light_.Attenuation1 * d + light_.Attenuation2 * d * d);
}

// ---- PointLight ----

PointLight::PointLight() : Light(D3DLIGHT_POINT) {}

bool PointLight::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<PointLight, Light>(this, id, out);
}

bool PointLight::IsVisible(const BoundingBox& box) const {
    return Cube(GetPosition(), 2.0f * range()).Overlaps(box) == kBoxesOverlap;
}

bool PointLight::LightAt(const Vec3& point, ArgbColor* out) const {
    const float d = Vec3Length(Vec3Subtract(point, GetPosition()));
    if (!(d <= range())) return false;  // a NaN distance or range reaches nothing
    *out = ScaleColor(GetDiffuse(), AttenuationAt(d));
    return true;
}

float PointLight::Influence(const BoundingBox& box) const {
    // The largest full size, not half of it: a box near the light counts as reached closer
    // than its centre, even at a negative distance.
    const float largest = std::max({box.size.x, box.size.y, box.size.z});
    const float d = Vec3Length(Vec3Subtract(box.centre, GetPosition())) - largest;
    if (d > range()) return 0.0f;
    return ScaleColor(GetDiffuse(), AttenuationAt(d)).Intensity();
}

// ---- SpotLight ----

SpotLight::SpotLight() : Light(D3DLIGHT_SPOT) {}

bool SpotLight::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<SpotLight, Light>(this, id, out);
}

bool SpotLight::IsVisible(const BoundingBox& box) const {
    const float r = range();
    const Vec3 direction = GetDirection();
    if (!(std::fabs(r) > 0.001f) || !(Vec3Length(direction) > 0.00001f)) return false;
    // The cube around the cone: centred half-way along the axis, wide enough for the cone's
    // far rim.
    const Vec3 centre = Vec3Add(GetPosition(), Vec3Scale(Vec3Normalize(direction), r / 2.0f));
    const float rim = r * std::tan(record().Phi);
    const float edge = 2.0f * std::sqrt(rim * rim + r * r);
    return Cube(centre, edge).Overlaps(box) == kBoxesOverlap;
}

bool SpotLight::LightAt(const Vec3& point, ArgbColor* out) const {
    const Vec3 toPoint = Vec3Subtract(point, GetPosition());
    const float d = Vec3Length(toPoint);
    if (!(d <= range())) return false;
    const float c = Vec3Dot(Vec3Normalize(GetDirection()), Vec3Normalize(toPoint));
    const double cosPhi = std::cos(static_cast<double>(record().Phi));
    const double cosTheta = std::cos(static_cast<double>(record().Theta));
    if (!(c >= cosPhi)) return false;
    double cone = 1.0;
    if (c < cosTheta) cone = std::pow((c - cosPhi) / (cosTheta - cosPhi), static_cast<double>(GetFalloff()));
    *out = ScaleColor(GetDiffuse(), static_cast<float>(cone) * AttenuationAt(d));
    return true;
}

float SpotLight::Influence(const BoundingBox&) const { return 0.0f; }

// ---- DirLight ----

DirLight::DirLight() : Light(D3DLIGHT_DIRECTIONAL) {}

bool DirLight::QueryInterface(int32_t id, void** out) { return AnswerQuery<DirLight, Light>(this, id, out); }

bool DirLight::IsVisible(const BoundingBox&) const { return true; }

bool DirLight::LightAt(const Vec3&, ArgbColor* out) const {
    *out = GetDiffuse();
    return true;
}

float DirLight::Influence(const BoundingBox&) const { return GetDiffuse().Intensity(); }

// ---- LightSet ----

LightSet::LightSet(const LightSet& other) : ambient(other.ambient) {
    lights.Assign(other.lights);
    // Assign leaves the cursor one entry behind the source's; the walks start at the cursor.
    if (lights.count() > 0) lights.SetCursor(lights.cursor()->next);
}

LightSet& LightSet::operator=(const LightSet& other) {
    if (this != &other) {
        ambient = other.ambient;
        lights.Assign(other.lights);
        if (lights.count() > 0) lights.SetCursor(lights.cursor()->next);
    }
    return *this;
}

bool LightSet::Contains(const SharedRef<Light>& light) const { return lights.FindNode(light) != nullptr; }

void LightSet::RankLights(const BoundingBox& box, int32_t limit) {
    // Groups keyed by the exact influence, listed in the order their value first occurs; the
    // map's cursor stays on the newest group, so a new one goes after it.
    OrderedMap<float, LinkedList<SharedRef<Light>>> groups(false);
    LightMap::Node* n = lights.cursor();
    for (int32_t i = 0; i < lights.count(); ++i, n = n->next) {
        Light* light = n->key.Get();
        if (light == nullptr) continue;
        float v = light->Influence(box);
        // NaN equals no key, not even itself: it would open a new group per light and break
        // the map's order. Such a light influences nothing measurable.
        if (std::isnan(v)) v = 0.0f;
        auto* group = groups.FindNode(v);
        if (group == nullptr) group = groups.Insert(v, LinkedList<SharedRef<Light>>(), 1);
        group->value.Append(n->key);
    }

    lights.Clear();
    auto* group = groups.first();
    for (int32_t g = 0; g < groups.count(); ++g, group = group->next) {
        // From the list's cursor: the light appended last, then the group's first onwards.
        auto* member = group->value.cursor();
        for (int32_t i = 0; i < group->value.count(); ++i, member = member->next) {
            if (limit >= 0 && lights.count() >= limit) break;
            lights.Insert(member->element, String(), 1);
        }
    }
    if (lights.count() > 0) lights.SetCursor(lights.cursor()->next);
}

void CollectLights(const LightSet& source, const BoundingBox& box, LightSet* out) {
    if (out == &source) {
        const LightSet copy(source);
        CollectLights(copy, box, out);
        return;
    }
    out->lights.Clear();
    out->ambient = source.ambient;
    const LightSet::LightMap::Node* n = source.lights.cursor();
    for (int32_t i = 0; i < source.lights.count(); ++i, n = n->next) {
        const Light* light = n->key.Get();
        if (light != nullptr && light->IsVisible(box)) out->lights.Insert(n->key, String(), 1);
    }
}
