// Turns the village plan's flights into camera-path files. A flight's course is its waypoints
// joined by straight legs with the corners rounded by circular arcs (tight ones at eye height,
// where they must stay inside a lane crossing; wide ones above the roofs), its height eased
// between the waypoints' heights. The camera moves along it at a constant speed and looks at
// the course a little ahead, pitched gently down the higher it flies. Keys fall every 20 path
// units from 0, a position and a rotation at each time, consecutive rotations in one
// hemisphere so that no slerp between them turns the long way.
//
// Everything is computed the same way every run: the same plan gives the same bytes.
#pragma once

#include "tools/villageplan/village_plan.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <string>
#include <vector>

namespace rh::pathmake {

inline constexpr float kKeyInterval = 20.0f;

struct CameraKey {
    float time;
    float position[3];
    float rotation[4];  // quaternion x, y, z, w (w the scalar)
};

// The keys of one flight, in time order: the first at 0, the last at a multiple of
// kKeyInterval chosen so that the speed is as near the plan's as whole intervals allow.
std::vector<CameraKey> MakeFlightKeys(const village::FlightPlan& plan);

// The camera-path file of those keys: a root of 32-byte leaves "pos0", "rot0", "pos1", ... of
// types "pos" and "rot".
zwf::Bytes MakeFlightFile(const village::FlightPlan& plan);

// Writes every flight of the plan into `folder` under its file name. False with a message when
// a file cannot be written.
bool WriteAllFlights(const std::string& folder, std::string* error);

}  // namespace rh::pathmake
