// Float ranges, as the animation code spans them.
#pragma once

// outLow = min(low1, low2), outHigh = max(high1, high2).
void RangeUnion(float low1, float high1, float low2, float high2, float& outLow, float& outHigh);
