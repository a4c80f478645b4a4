#pragma once

// A random quantity with a piecewise-linear density through up to three points (x, weight). A
// weight of exactly -1 marks its point absent: no second point is a constant x0, no third point
// one segment from (x0, w0) to (x1, w1), all three two segments.
struct RandomValue {
    float x0 = 0.0f;
    float w0 = 1.0f;
    float x1 = 0.0f;
    float w1 = -1.0f;
    float x2 = 0.0f;
    float w2 = -1.0f;

    // The constant 0.
    constexpr RandomValue() = default;
    // The constant v.
    explicit constexpr RandomValue(float v) : x0(v) {}
    // One segment from (px0, pw0) to (px1, pw1).
    constexpr RandomValue(float px0, float pw0, float px1, float pw1)
        : x0(px0), w0(pw0), x1(px1), w1(pw1) {}
    // Two segments through (px0, pw0), (px1, pw1) and (px2, pw2).
    constexpr RandomValue(float px0, float pw0, float px1, float pw1, float px2, float pw2)
        : x0(px0), w0(pw0), x1(px1), w1(pw1), x2(px2), w2(pw2) {}

    // w1 and w2 both exactly -1.
    bool IsConstant() const;
    // A value drawn from the density with the C runtime's rand, whose sequence every random
    // user of the process shares: a constant (w1 == -1) draws nothing, one segment draws
    // twice, two segments three times. Two segments whose area is below 0.0001 give x0 without
    // a draw.
    float Sample() const;
};
