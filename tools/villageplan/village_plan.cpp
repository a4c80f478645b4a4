#include "tools/villageplan/village_plan.h"

namespace rh::village {

namespace {

constexpr Building kBuildings[] = {
    // Houses: centre x and z, half extents x and z, height.
    {-510, -510, 32, 32, 55},
    {-390, -510, 39, 38, 85},
    {-510, -390, 33, 37, 59},
    {-390, -390, 40, 34, 90},
    {-210, -510, 34, 33, 63},
    {-90, -510, 37, 32, 78},
    {-210, -390, 35, 38, 68},
    {-90, -390, 38, 37, 82},
    {90, -510, 36, 34, 72},
    {210, -510, 39, 33, 87},
    {90, -390, 33, 32, 60},
    {210, -390, 40, 38, 91},
    {390, -510, 34, 37, 65},
    {510, -510, 37, 36, 79},
    {390, -390, 35, 33, 69},
    {510, -390, 38, 32, 84},
    {-510, -210, 36, 39, 74},
    {-390, -210, 39, 38, 88},
    {-510, -90, 33, 37, 62},
    {-390, -90, 40, 34, 93},
    {-210, -210, 34, 33, 66},
    {-90, -210, 32, 39, 56},
    {-210, -90, 35, 38, 71},
    {-90, -90, 38, 37, 85},
    {390, -210, 36, 34, 75},
    {510, -210, 39, 33, 90},
    {390, -90, 33, 32, 63},
    {510, -90, 40, 38, 94},
    {-510, 90, 34, 37, 68},
    {-390, 90, 32, 34, 58},
    {-510, 210, 35, 33, 72},
    {-390, 210, 38, 32, 87},
    {-210, 90, 36, 39, 77},
    {-90, 90, 39, 38, 91},
    {-210, 210, 33, 37, 65},
    {-90, 210, 40, 34, 55},
    {90, 90, 34, 33, 69},
    {210, 90, 32, 39, 59},
    {90, 210, 35, 38, 74},
    {210, 210, 38, 37, 88},
    {390, 90, 36, 34, 78},
    {510, 90, 39, 33, 93},
    {390, 210, 37, 39, 83},
    {510, 210, 40, 38, 56},
    {-510, 390, 34, 37, 71},
    {-390, 390, 32, 34, 61},
    {-510, 510, 35, 33, 75},
    {-390, 510, 38, 32, 90},
    {-210, 390, 36, 39, 80},
    {-90, 390, 39, 38, 94},
    {-210, 510, 37, 35, 84},
    {-90, 510, 40, 34, 58},
    {90, 390, 34, 33, 72},
    {210, 390, 32, 39, 62},
    {90, 510, 35, 38, 77},
    {210, 510, 33, 35, 67},
    {390, 390, 36, 34, 81},
    {510, 390, 39, 33, 55},
    {390, 510, 37, 39, 86},
    {510, 510, 40, 38, 59},
    // The church: the nave, and the tower at its north-east corner.
    {150, -150, 40, 70, 120},
    {215, -75, 25, 25, 260},
};

// A point on the lane grid: gx, gz count lanes from the centre (-2 to 2).
constexpr Waypoint Lane(int gx, int gz, float height) {
    return Waypoint{float(gx) * kLaneSpacing, height, float(gz) * kLaneSpacing};
}

constexpr float E = kEyeHeight;
constexpr float R = kRoofFlightHeight;
constexpr float H = kHighFlightHeight;

}  // namespace

std::span<const Building> Buildings() { return kBuildings; }

const std::vector<FlightPlan>& Flights() {
    static const std::vector<FlightPlan> flights = {
        // Along the lanes at eye height.
        {"c01.cam", 2.0f, {Lane(-2, 0, E), Lane(2, 0, E)}},
        {"c02.cam", 2.0f, {Lane(0, -2, E), Lane(0, 2, E)}},
        {"c03.cam", 2.0f, {Lane(-2, -1, E), Lane(0, -1, E), Lane(0, 1, E), Lane(2, 1, E)}},
        {"c04.cam", 2.0f, {Lane(1, -2, E), Lane(1, 0, E), Lane(-1, 0, E), Lane(-1, 2, E)}},
        {"c05.cam", 2.0f, {Lane(-1, -1, E), Lane(1, -1, E), Lane(1, 1, E), Lane(-1, 1, E), Lane(-1, 0, E)}},
        {"c06.cam", 2.0f, {Lane(2, 2, E), Lane(2, -1, E), Lane(-2, -1, E)}},
        {"c07.cam", 2.0f, {Lane(-2, 2, E), Lane(0, 2, E), Lane(0, 0, E), Lane(2, 0, E)}},
        {"c08.cam", 1.8f, {Lane(0, 0, E), Lane(1, 0, E), Lane(1, -1, E), Lane(2, -1, E), Lane(2, -2, E)}},
        {"c09.cam", 2.0f, {Lane(-1, 2, E), Lane(-1, -2, E)}},
        {"c10.cam", 2.0f, {Lane(2, 1, E), Lane(-1, 1, E), Lane(-1, -1, E), Lane(1, -1, E)}},
        {"c17.cam", 2.0f, {Lane(-2, -2, E), Lane(-2, 2, E), Lane(0, 2, E)}},
        {"c18.cam", 1.8f, {Lane(1, 2, E), Lane(1, 1, E), Lane(0, 1, E), Lane(0, -1, E), Lane(-1, -1, E), Lane(-1, -2, E)}},
        // Rising from a lane over the roofs, and down again.
        {"c11.cam", 2.5f, {Lane(-2, 0, E), Lane(-1, 0, E), Lane(0, 0, R), Lane(2, 2, R)}},
        {"c15.cam", 2.5f, {Lane(0, -2, E), Lane(0, -1, E), Lane(0, 0, R), Lane(1, 1, R), Lane(2, 1, E)}},
        {"c20.cam", 2.5f, {Lane(1, -2, E), Lane(1, 0, E), Lane(0, 0, R), Lane(-2, -2, R)}},
        // Above the roofs.
        {"c12.cam", 3.0f, {Lane(-2, -2, R), Lane(2, 2, R)}},
        {"c13.cam", 3.0f, {Lane(2, -2, R), Lane(-2, 2, R)}},
        {"c16.cam", 2.5f, {Lane(-2, 1, R), Lane(2, 1, R)}},
        {"c19.cam", 3.0f, {Lane(2, 0, R), Lane(-2, 0, R), Lane(-2, -2, R)}},
        // Round the village above the church tower.
        {"c14.cam", 3.0f, {Lane(-2, -2, H), Lane(2, -2, H), Lane(2, 2, H), Lane(0, 2, H)}},
    };
    return flights;
}

}  // namespace rh::village
