#include "scene/skin_info.h"

#include <cmath>

bool SkinInfo::Fits(int32_t vertices) const {
    if (vertices < 0 || firstWeight.size() != size_t(vertices) || weightCount.size() != size_t(vertices)) return false;
    const int64_t records = static_cast<int64_t>(weights.size());
    for (int32_t v = 0; v < vertices; ++v) {
        const int64_t first = firstWeight[size_t(v)];
        const int64_t count = weightCount[size_t(v)];
        if (count < 0 || (count > 0 && (first < 0 || first + count > records))) return false;
    }
    for (const SkinWeight& w : weights) {
        if (w.bone < 0 || w.bone >= boneNames.count() || !std::isfinite(w.weight)) return false;
    }
    return true;
}
