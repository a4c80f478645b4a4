// The base of everything that has an extent: meshes and their data, buffers, scene nodes,
// particle nodes and the GUI's render groups.
#pragma once

#include "core/bounds/bounding_box.h"

// Holds one box and whether it is valid. Owners fill the box in ComputeBounds or wherever their
// extent changes; nothing else writes it.
class BoundsProvider {
public:
    BoundsProvider() = default;

    // Recomputes box and valid from the owner's data; true when a box was produced. The base has
    // no data: it changes nothing and answers false.
    virtual bool ComputeBounds();

    virtual ~BoundsProvider() = default;

    BoundingBox GetBox() const { return box_; }
    bool IsValid() const { return valid_; }

protected:
    BoundingBox box_;
    bool valid_ = false;  // false until an owner produces a box
};
