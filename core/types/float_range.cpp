#include "core/types/float_range.h"

void RangeUnion(float low1, float high1, float low2, float high2, float& outLow, float& outHigh) {
    outLow = low2 < low1 ? low2 : low1;
    outHigh = high2 > high1 ? high2 : high1;
}
