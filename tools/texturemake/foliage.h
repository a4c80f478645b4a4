// Cut-out foliage pictures for picture cards: opaque where there are twigs and needles,
// transparent between them (drawn with an alpha test, so the edge is hard). From fixed seeds
// through our own integer hash: the same program always makes the same pixels.
#pragma once

#include "tools/texturemake/picture_files.h"

namespace rh::texturemake {

// 128 x 128: a snowy evergreen bush seen from the side, its branches rising from a stem at the
// bottom middle, snow lying on their upper sides; transparent round it and in its gaps.
Picture BushPicture();

}  // namespace rh::texturemake
