// The engine's small value types, one header each; this one brings them all, for sources that
// use several. Prefer the header of the type you use.
#pragma once

#include "core/types/argb_color.h"
#include "core/types/bit_fields.h"
#include "core/types/byte_buffer.h"
#include "core/types/flag_word.h"
#include "core/types/float_range.h"
#include "core/types/point_rect.h"
#include "core/types/random_value.h"
