#include "core/bounds/bounds_provider.h"

bool BoundsProvider::ComputeBounds() {
    return false;
}
