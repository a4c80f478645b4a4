#include "core/types/random_value.h"

#include <cmath>
#include <cstdlib>

namespace {

// The C runtime's rand never exceeds 32767, which folds onto 0, so u lies in [0, 1].
float DrawUnit() {
    constexpr float kStep = 1.0f / 32766.0f;
    return static_cast<float>(std::rand() % 32767) * kStep;
}

// Thresholds are compared in double, as the literal 0.0001 is, rather than against the float
// just below it.
constexpr double kTiny = 0.0001;

// One linear segment. A point drawn uniformly under the trapezoid's bounding box lands above
// the density line exactly when its mirror image lands below it, so mirroring the rejected
// half follows the density without a rejection loop. Always two draws, u1 before u2.
float SampleSegment(float x0, float w0, float x1, float w1) {
    float u1 = DrawUnit();
    float u2 = DrawUnit();
    if (std::fabs(static_cast<double>(w0 - w1)) < kTiny) {
        return x0 + (x1 - x0) * u1;
    }
    float xc = x0 + u2 * (x1 - x0);
    float p = w0 + (w1 - w0) / (x1 - x0) * (xc - x0);
    float y = u1 * (w0 + w1);
    return p > y ? xc : x0 + x1 - xc;
}

}  // namespace

bool RandomValue::IsConstant() const { return w1 == -1.0f && w2 == -1.0f; }

float RandomValue::Sample() const {
    if (w1 == -1.0f) {
        return x0;
    }
    if (w2 == -1.0f) {
        return SampleSegment(x0, w0, x1, w1);
    }
    // Twice the areas under the two segments.
    float firstArea = (x1 - x0) * (w0 + w1);
    float area = firstArea + (x2 - x1) * (w1 + w2);
    if (static_cast<double>(area) < kTiny) {
        return x0;
    }
    float u = DrawUnit();
    if (firstArea / area > u) {
        return SampleSegment(x0, w0, x1, w1);
    }
    return SampleSegment(x1, w1, x2, w2);
}
