#include "render/effect_manager.h"
#include "core/init_order.h"

#include "render/lit_effect_material.h"

EffectManager g_effectManager RH_INIT_ORDER(RH_INIT_EFFECT_MANAGER);

namespace {

// Appends to the list of an insertion-ordered map: inserting goes after the cursor, which
// lookups and walks may have moved.
template <typename Map, typename K, typename V>
void Append(Map& map, const K& key, const V& value) {
    if (map.count() > 0) map.SetCursor(map.first()->prev);
    map.Insert(key, value, 1);
}

}  // namespace

EffectManager::~EffectManager() { ClearEffectMaterials(); }

LitEffectMaterial* EffectManager::FindEffectMaterial(const String& name, int32_t wanted) {
    QualityMap* entry = nullptr;
    if (!registry_.Find(name, entry)) {
        entry = new QualityMap;
        Append(registry_, name, entry);
        return nullptr;
    }
    LitEffectMaterial* choice = nullptr;
    int32_t quality = 0;
    auto* node = entry->first();
    for (int32_t i = 0; i < entry->count(); ++i, node = node->next) {
        const int32_t e = node->value;
        const bool between = (quality < e && e <= wanted) || (wanted <= e && e < quality);
        if (i == 0 || quality == 0 || between) {
            choice = node->key;
            quality = e;
        }
    }
    return choice;
}

void EffectManager::RegisterEffectMaterial(const String& name, LitEffectMaterial* material, int32_t quality) {
    if (material == nullptr) return;
    QualityMap* entry = nullptr;
    if (!registry_.Find(name, entry)) {
        entry = new QualityMap;
        Append(registry_, name, entry);
    }
    Append(*entry, material, quality);
}

void EffectManager::RegisterEffectMaterial(LitEffectMaterial* material) {
    if (material == nullptr) return;
    const LitEffectMaterial::NameTable& names = material->nameTable();
    auto* node = names.first();
    for (int32_t i = 0; i < names.count(); ++i, node = node->next) {
        RegisterEffectMaterial(node->key, material, node->value);
    }
}

void EffectManager::UnregisterEffectMaterial(LitEffectMaterial* material) {
    auto* node = registry_.first();
    for (int32_t i = 0; i < registry_.count(); ++i, node = node->next) node->value->Erase(material);
}

void EffectManager::ClearEffectMaterials() { registry_.DeleteAll(); }
