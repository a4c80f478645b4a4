// Lights, light sets and the device's light slots.
//
// A Light is a Direct3D fixed-function light with a name and the three questions the renderer
// asks of it: can it reach a box, what colour does it give at a point, how strongly does it
// influence a box. A LightSet is an ambient colour with shared references to lights; the scene
// walk collects per node the lights that reach its box (CollectLights), the lit effects regroup
// them by influence (LightSet::RankLights). The LightSlotManager maps light sets onto the
// device's light indices: ApplyLightSet enables the lights of the set being drawn, parks the
// others (they keep their index, disabled) and hands parked indices over when the pool runs out.
//
// Boxes are centre and full size (BoundingBox). Angles are in radians.
#pragma once

#include "core/bounds/bounding_box.h"
#include "core/containers/index_pool.h"
#include "core/containers/ordered_map.h"
#include "core/containers/shared_ref.h"
#include "core/math/vec3.h"
#include "core/object/ref_counted.h"
#include "core/text/string.h"
#include "core/types/argb_color.h"

#include <d3d9types.h>

#include <cstdint>

class LightSlotManager;

class Light : public virtual RefCounted {
public:
    Light(const Light&) = delete;
    Light& operator=(const Light&) = delete;
    ~Light() override = default;

    // Whether the light can reach any point of the box.
    virtual bool IsVisible(const BoundingBox& box) const = 0;
    // The light's colour at the point, true; false (out untouched) when the point lies outside
    // the light's range or cone, and the caller then ignores the light.
    virtual bool LightAt(const Vec3& point, ArgbColor* out) const = 0;
    // How strongly the light acts on the box; only equal values matter to RankLights, which
    // groups lights by it. May be NaN for a light with NaN values.
    virtual float Influence(const BoundingBox& box) const = 0;

    // Answers TypeId<Light> with this part; derived lights also answer their own id.
    bool QueryInterface(int32_t id, void** out) override;

    // Every setter changes the record that ApplyLightSet sends; the slot manager sends it again
    // before the light is next enabled (see changeCount).
    void SetName(const String& name) { name_ = name; }
    // Colours are taken and given alpha first (ArgbColor) and kept as the record's r, g, b, a.
    void SetDiffuse(const ArgbColor& color);
    ArgbColor GetDiffuse() const;
    void SetSpecular(const ArgbColor& color);
    ArgbColor GetSpecular() const;
    void SetRange(float range);
    void SetPosition(const Vec3& position);
    Vec3 GetPosition() const;
    void SetDirection(const Vec3& direction);
    Vec3 GetDirection() const;
    // The factors of 1 / (a0 + a1 d + a2 d^2).
    void SetAttenuation(float a0, float a1, float a2);
    void GetAttenuation(float* a0, float* a1, float* a2) const;
    // Theta.
    void SetInnerCone(float angle);
    // Phi.
    void SetOuterCone(float angle);
    float GetFalloff() const { return light_.Falloff; }
    D3DLIGHTTYPE GetType() const { return light_.Type; }

    const String& name() const { return name_; }
    float range() const { return light_.Range; }
    // The record the device receives (all zero but the type and what the setters wrote).
    const D3DLIGHT9& record() const { return light_; }
    // The index a LightSlotManager gave it; -1 until then. A light that lost its slot to
    // another keeps its old number here but holds no slot.
    int32_t deviceIndex() const { return deviceIndex_; }
    // Whether a slot manager has it enabled on the device.
    bool enabled() const { return enabled_; }
    // Goes up with every change of the record, so the slot manager can tell whether the
    // device still holds what it last sent.
    uint32_t changeCount() const { return changes_; }

protected:
    // All zero except the type; no device index.
    explicit Light(D3DLIGHTTYPE type);

    // 1 / (a0 + a1 d + a2 d^2), and 1000 when d is exactly 0 (the light's own position).
    float AttenuationAt(float d) const;

private:
    friend class LightSlotManager;

    String name_;
    D3DLIGHT9 light_{};
    int32_t deviceIndex_ = -1;
    bool enabled_ = false;
    uint32_t changes_ = 0;
    uint32_t sentChanges_ = 0;  // changes_ when the record last went to the device
};

// Reaches the boxes that overlap the cube of edge 2 x range around its position, with the
// diffuse colour attenuated by distance up to the range.
class PointLight : public Light {
public:
    PointLight();
    bool IsVisible(const BoundingBox& box) const override;
    bool LightAt(const Vec3& point, ArgbColor* out) const override;
    // The attenuated diffuse intensity at the distance from the position to the box centre
    // less the box's largest size (which may be negative); 0 beyond the range.
    float Influence(const BoundingBox& box) const override;
    bool QueryInterface(int32_t id, void** out) override;
};

// A point light limited to a cone along its direction. Its IsVisible and LightAt take theta
// and phi as the angles between the axis and the cone's edge, while the device (and the lit
// effects) take them as the cone's full opening; the scene media have no spot lights, so the
// two are kept as they are.
class SpotLight : public Light {
public:
    SpotLight();
    // False for a range within 0.001 of 0 or a direction shorter than 0.00001; otherwise the
    // box overlaps the cube centred at position + direction x range / 2 with edge
    // 2 sqrt((range tan phi)^2 + range^2).
    bool IsVisible(const BoundingBox& box) const override;
    // Attenuated diffuse times the cone factor: 1 inside theta, ((c - cos phi) / (cos theta -
    // cos phi))^falloff between theta and phi, false outside phi or beyond the range.
    bool LightAt(const Vec3& point, ArgbColor* out) const override;
    // Always 0: ranked spot lights stand together with every other light of influence 0.
    float Influence(const BoundingBox& box) const override;
    bool QueryInterface(int32_t id, void** out) override;
};

// Reaches everything with its diffuse colour.
class DirLight : public Light {
public:
    DirLight();
    bool IsVisible(const BoundingBox& box) const override;
    bool LightAt(const Vec3& point, ArgbColor* out) const override;
    // The diffuse intensity.
    float Influence(const BoundingBox& box) const override;
    bool QueryInterface(int32_t id, void** out) override;
};

// An ambient colour and the lights that act together. Each light is held once (by object);
// the map's values stay empty. Lists are walked from the map's cursor, so the order of the
// lights is the map's insertion order read from there.
class LightSet {
public:
    using LightMap = OrderedMap<SharedRef<Light>, String>;

    // Opaque white ambient, no lights.
    LightSet() = default;
    // Copies share the lights; the copy's list and cursor are those of the source.
    LightSet(const LightSet& other);
    LightSet& operator=(const LightSet& other);

    // Regroups the lights by influence on the box: lights of equal Influence (exact float
    // values; NaN counts as 0) stand together, the groups in the order in which their value
    // first occurs (not ordered by strength), and within a group the light met last comes
    // first, then the group's others in the order met. With limit >= 0 only the first limit
    // lights stay; a negative limit keeps all. The ambient stays; the cursor ends on the first
    // light.
    void RankLights(const BoundingBox& box, int32_t limit);

    // Adds the light after the cursor unless the set holds it already.
    void Add(const SharedRef<Light>& light) { lights.Insert(light, String(), 1); }
    bool Contains(const SharedRef<Light>& light) const;

    ArgbColor ambient{1.0f, 1.0f, 1.0f, 1.0f};
    LightMap lights;
};

// out := the source's ambient and, in the source's order from its cursor, each of its lights
// that can reach the box. out may be the source itself.
void CollectLights(const LightSet& source, const BoundingBox& box, LightSet* out);

// Which light holds which of the device's light indices (0 to kMaxIndex). The enabled set
// holds the lights enabled on the device now; the parked set holds lights that keep their
// index but are disabled, the most recently parked first. Indices come from a pool, lowest
// first, and are never given back: once the pool is empty a new light takes the index of the
// light parked longest ago.
//
// A light is expected to belong to one manager: its device index and state live in the light.
// Destroying a manager does not disable its lights on the device.
class LightSlotManager {
public:
    using LightRefSet = OrderedSet<SharedRef<Light>>;

    static constexpr int32_t kMaxIndex = 100;

    LightSlotManager();
    LightSlotManager(const LightSlotManager&) = delete;
    LightSlotManager& operator=(const LightSlotManager&) = delete;

    // Sets the ambient render state through the state cache, then makes the device's enabled
    // lights exactly the set's lights: a light already enabled stays as it is, a parked one is
    // enabled again under its index, a new one takes an index and has its record sent; every
    // other enabled light is parked (disabled). A light whose record changed since it was last
    // sent is sent again first, so an unchanged set drawn again makes no light calls. The
    // lights being parked are switched off before the set's lights are switched on. When no
    // index is free and none is parked, the light stays off (logged once). Without a device
    // only the bookkeeping happens. Device answers are not examined: a set with more lights
    // than the device enables at once leaves the extra ones dark. After a device creation or
    // reset (which clears the device's lights; seen through StateCacheGeneration) every light
    // is given its index and record afresh.
    void Apply(const LightSet& set);

    const LightRefSet& enabledLights() const { return enabled_; }
    const LightRefSet& parkedLights() const { return parked_; }

private:
    // Sends the record to the light's index if the device lacks its latest version.
    static void SendIfChanged(Light& light, bool always);
    // Drops every slot, as the device did: all lights off and without an index, a full pool.
    void ForgetDeviceLights();

    LightRefSet enabled_;
    LightRefSet parked_;
    IndexPool pool_{kMaxIndex};
    uint32_t generation_;  // StateCacheGeneration when the device last held our lights
};

// manager.Apply(set): the call the fixed-function mesh path makes before drawing lit geometry.
void ApplyLightSet(LightSlotManager& manager, const LightSet& set);

// The application's light slots (each scene keeps its own manager besides).
extern LightSlotManager g_lightSlotManager;
