// Wrapping a value into a range, as looping animation time needs.
#pragma once

// x wrapped into [low, high) for low < high, so x = high gives low. A range narrower than
// 0.0001 (either way round) gives low, and so does x when it is not a number or so far outside
// the range that the number of whole periods does not fit in 64 bits.
float WrapToRange(float x, float low, float high);
