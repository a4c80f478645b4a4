#include "render/app_framework.h"
#include "core/init_order.h"
#include "render/light.h"
#include "render/state_cache.h"

#include <rimeholt/log.h>

LightSlotManager g_lightSlotManager RH_INIT_ORDER(RH_INIT_LIGHT_SLOTS);

LightSlotManager::LightSlotManager() : generation_(StateCacheGeneration()) {}

void LightSlotManager::ForgetDeviceLights() {
    for (LightRefSet* lights : {&enabled_, &parked_}) {
        const LightRefSet::Node* n = lights->cursor();
        for (int32_t i = 0; i < lights->count(); ++i, n = n->next) {
            n->key.Get()->enabled_ = false;
            n->key.Get()->deviceIndex_ = -1;
        }
        lights->Clear();
    }
    pool_.Reset(kMaxIndex);
}

void LightSlotManager::SendIfChanged(Light& light, bool always) {
    if (!always && light.sentChanges_ == light.changes_) return;
    if (g_device != nullptr) g_device->SetLight(static_cast<DWORD>(light.deviceIndex_), &light.light_);
    light.sentChanges_ = light.changes_;
}

void LightSlotManager::Apply(const LightSet& set) {
    StateCache::SetRenderState(D3DRS_AMBIENT, set.ambient.ToARGB());
    // A reset device holds no lights: believing it still held ours would leave lit geometry
    // dark for good.
    if (generation_ != StateCacheGeneration()) {
        ForgetDeviceLights();
        generation_ = StateCacheGeneration();
    }

    // The lights leaving the device are switched off before any light of the set is switched
    // on: a device enables only so many lights at once (eight on ours) and refuses the rest, so
    // the other order would leave lights of the new set dark while the old ones still burn.
    // The bookkeeping below still parks them only after the set's lights have their slots.
    if (g_device != nullptr) {
        const LightRefSet::Node* e = enabled_.cursor();
        for (int32_t i = 0; i < enabled_.count(); ++i, e = e->next) {
            if (set.lights.FindNode(e->key) == nullptr) {
                g_device->LightEnable(static_cast<DWORD>(e->key.Get()->deviceIndex_), FALSE);
            }
        }
    }

    const LightSet::LightMap::Node* n = set.lights.cursor();
    for (int32_t i = 0; i < set.lights.count(); ++i, n = n->next) {
        const SharedRef<Light>& ref = n->key;
        Light* light = ref.Get();
        if (light == nullptr) continue;
        if (enabled_.FindNode(ref) != nullptr) {
            // The device holds this light under its index; it only needs the record again
            // when the light changed since.
            SendIfChanged(*light, false);
            continue;
        }
        if (parked_.FindNode(ref) != nullptr) {
            parked_.Erase(ref);
            SendIfChanged(*light, false);
        } else {
            int32_t index = pool_.Take();
            if (index < 0) {
                if (parked_.count() == 0) {
                    // Every index is held by a light still enabled: nothing can be freed now.
                    RH_LOG_ONCE(rh::LogLevel::Warning,
                                "all %d device light indices are in use and none is parked: light \"%s\" stays off",
                                kMaxIndex + 1, light->name().Text());
                    continue;
                }
                // The light parked longest ago is the last on the parked list; it loses its
                // slot and will be sent afresh under a new index when it is enabled again.
                const SharedRef<Light> oldest = parked_.first()->prev->key;
                index = oldest.Get()->deviceIndex_;
                parked_.Erase(oldest);
            }
            light->deviceIndex_ = index;
            SendIfChanged(*light, true);
        }
        enabled_.Insert(ref, 1);
        light->enabled_ = true;
        if (g_device != nullptr) g_device->LightEnable(static_cast<DWORD>(light->deviceIndex_), TRUE);
    }

    // Park every enabled light the set does not hold (already switched off above); the newest
    // parked goes to the front.
    LightRefSet::Node* e = enabled_.cursor();
    const int32_t count = enabled_.count();
    for (int32_t i = 0; i < count; ++i) {
        LightRefSet::Node* next = e->next;
        if (set.lights.FindNode(e->key) == nullptr) {
            const SharedRef<Light> ref = e->key;
            enabled_.Erase(ref);
            parked_.SetCursor(parked_.first());
            parked_.Insert(ref, 0);
            ref.Get()->enabled_ = false;
        }
        e = next;
    }
}

void ApplyLightSet(LightSlotManager& manager, const LightSet& set) { manager.Apply(set); }
