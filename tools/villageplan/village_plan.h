// The village's plan: where the lanes run, where the buildings stand and where the camera flies.
// One table for every media tool, so that the flights and the village agree: the path maker
// flies the flights, and the village builder puts its houses on the building boxes and keeps the
// lanes clear. Whoever moves a building or a lane here moves it for both, and the path maker's
// test checks the flights against these boxes.
//
// World units are 10 cm; y is up with the ground at y = 0; x runs east and z north
// (left-handed, as the engine draws). Path times count in units of 100 ms.
#pragma once

#include <span>
#include <vector>

namespace rh::village {

inline constexpr float kGroundHeight = 0.0f;
// A standing eye, and the two heights above the roofs that flights use: over the houses, and
// over the church tower as well.
inline constexpr float kEyeHeight = 17.0f;
inline constexpr float kRoofFlightHeight = 150.0f;
inline constexpr float kHighFlightHeight = 320.0f;

// Lanes run along x and along z at every multiple of kLaneSpacing from -600 to 600 (the outer
// ones ring the village). Nothing built stands within kLaneClearance of a lane's centre line,
// so a lane is an open strip 2 x kLaneClearance wide at every height.
inline constexpr float kLaneSpacing = 300.0f;
inline constexpr int kLaneCount = 5;  // at -600, -300, 0, 300, 600
inline constexpr float kLaneClearance = 50.0f;
// Flights stay within |x|, |z| <= kVillageHalfSize (trees and fields may lie beyond); the sky
// box is a cube of this half size around the eye.
inline constexpr float kVillageHalfSize = 680.0f;
inline constexpr float kSkyBoxHalfSize = 2500.0f;

// A building as its box standing on the ground: footprint centre, half extents and the height
// of its highest point (roof ridge, tower top).
struct Building {
    float centreX, centreZ;
    float halfX, halfZ;
    float height;
};

// Every building of the village: sixty houses in the sixteen blocks between the lanes (four to a
// block), and the church (nave and tower) in place of the houses of the block south-east of the
// centre.
std::span<const Building> Buildings();

struct Waypoint {
    float x, y, z;
};

// One camera flight: the file it goes to, its speed in world units per path unit, and the
// waypoints its smooth course follows. Corners are rounded inside the lane crossings, so a
// waypoint at eye height is a lane point (most often a crossing) and the straight legs between
// them run along lanes; legs that cross blocks lie at roof height or above. Heights change only
// on legs along a lane.
struct FlightPlan {
    const char* file;
    float speed;
    std::vector<Waypoint> waypoints;
};

// The twenty flights, "c01.cam" to "c20.cam", grouped by kind.
const std::vector<FlightPlan>& Flights();

}  // namespace rh::village
