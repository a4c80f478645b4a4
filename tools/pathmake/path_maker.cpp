#include "tools/pathmake/path_maker.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <fstream>

namespace rh::pathmake {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Corner radii: at eye height a rounded corner must stay inside the lane crossing (within the
// lane clearance of both centre lines), above the roofs it may sweep wide.
constexpr double kLaneCornerRadius = 40.0;
constexpr double kRoofCornerRadius = 120.0;
// Waypoints at or above this height count as above the roofs.
constexpr double kRoofLevel = 100.0;
// Points of the course this far apart (in horizontal distance) are stored, and positions in
// between interpolated linearly.
constexpr double kSampleStep = 0.25;
// How far ahead along the course the camera looks, and the pitch (down, in radians) at eye
// height and at the high flights' height; in between it follows the height linearly.
constexpr double kLookAhead = 90.0;
constexpr double kEyePitch = 2.0 * kPi / 180.0;
constexpr double kHighPitch = 16.0 * kPi / 180.0;
// The share of the course's own slope the camera follows: climbing it looks up a little.
constexpr double kSlopeFollow = 0.5;

struct P2 {
    double x, z;
};

P2 operator+(P2 a, P2 b) { return {a.x + b.x, a.z + b.z}; }
P2 operator-(P2 a, P2 b) { return {a.x - b.x, a.z - b.z}; }
P2 operator*(double s, P2 a) { return {s * a.x, s * a.z}; }
double Dot(P2 a, P2 b) { return a.x * b.x + a.z * b.z; }
double Cross(P2 a, P2 b) { return a.x * b.z - a.z * b.x; }
double Length(P2 a) { return std::sqrt(Dot(a, a)); }
P2 Normalised(P2 a) { return (1.0 / Length(a)) * a; }

// The horizontal course as points spaced about kSampleStep apart, with each point's distance
// from the start, and the height of each waypoint placed at a distance along the course.
class Course {
public:
    explicit Course(const std::vector<village::Waypoint>& waypoints) {
        const size_t n = waypoints.size();
        std::vector<P2> p(n);
        for (size_t i = 0; i < n; ++i) p[i] = {waypoints[i].x, waypoints[i].z};

        // Where each corner's arc begins and ends (equal to the waypoint where the course runs
        // straight on).
        std::vector<P2> arcStart(p), arcEnd(p);
        std::vector<double> radius(n, 0.0);
        for (size_t i = 1; i + 1 < n; ++i) {
            const P2 in = Normalised(p[i] - p[i - 1]);
            const P2 out = Normalised(p[i + 1] - p[i]);
            const double turn = std::acos(std::clamp(Dot(in, out), -1.0, 1.0));
            if (turn < 1e-6) continue;
            double r = waypoints[i].y >= kRoofLevel ? kRoofCornerRadius : kLaneCornerRadius;
            double cut = r * std::tan(turn / 2.0);
            const double room = 0.5 * std::min(Length(p[i] - p[i - 1]), Length(p[i + 1] - p[i]));
            if (cut > room) {
                cut = room;
                r = cut / std::tan(turn / 2.0);
            }
            arcStart[i] = p[i] - cut * in;
            arcEnd[i] = p[i] + cut * out;
            radius[i] = r;
        }

        Add(p[0]);
        stations_.push_back(0.0);
        for (size_t i = 1; i < n; ++i) {
            Line(arcEnd[i - 1], i + 1 < n ? arcStart[i] : p[i]);
            if (i + 1 < n && radius[i] > 0.0) {
                const double before = distance_.back();
                Arc(p[i - 1], p[i], p[i + 1], arcStart[i], radius[i]);
                stations_.push_back(0.5 * (before + distance_.back()));
            } else {
                stations_.push_back(distance_.back());
            }
        }
        for (const village::Waypoint& w : waypoints) heights_.push_back(w.y);
    }

    double length() const { return distance_.back(); }

    // The point at distance s along the course; past either end the course runs straight on.
    void At(double s, double out[3]) const {
        P2 h;
        if (s <= 0.0) {
            h = points_[0] + s * Normalised(points_[1] - points_[0]);
        } else if (s >= length()) {
            const size_t last = points_.size() - 1;
            h = points_[last] + (s - length()) * Normalised(points_[last] - points_[last - 1]);
        } else {
            const size_t hi = size_t(std::upper_bound(distance_.begin(), distance_.end(), s) - distance_.begin());
            const size_t lo = hi - 1;
            const double u = (s - distance_[lo]) / (distance_[hi] - distance_[lo]);
            h = points_[lo] + u * (points_[hi] - points_[lo]);
        }
        out[0] = h.x;
        out[1] = Height(s);
        out[2] = h.z;
    }

private:
    // Eased between the waypoints' heights (smoothstep), so that climbs start and end level.
    double Height(double s) const {
        if (s <= stations_.front()) return heights_.front();
        if (s >= stations_.back()) return heights_.back();
        size_t i = 1;
        while (stations_[i] < s) ++i;
        const double u = (s - stations_[i - 1]) / (stations_[i] - stations_[i - 1]);
        const double e = u * u * (3.0 - 2.0 * u);
        return heights_[i - 1] + e * (heights_[i] - heights_[i - 1]);
    }

    void Add(P2 point) {
        distance_.push_back(points_.empty() ? 0.0 : distance_.back() + Length(point - points_.back()));
        points_.push_back(point);
    }

    void Line(P2 from, P2 to) {
        const double length = Length(to - from);
        const int steps = std::max(1, int(std::ceil(length / kSampleStep)));
        for (int k = 1; k <= steps; ++k) Add(from + (double(k) / steps) * (to - from));
    }

    // The arc of the given radius tangent to the legs prev -> corner and corner -> next,
    // beginning at `start` on the first leg.
    void Arc(P2 prev, P2 corner, P2 next, P2 start, double r) {
        const P2 in = Normalised(corner - prev);
        const P2 out = Normalised(next - corner);
        const double side = Cross(in, out) > 0.0 ? 1.0 : -1.0;
        const P2 normal{-in.z * side, in.x * side};  // towards the inside of the turn
        const P2 centre = start + r * normal;
        const double turn = std::acos(std::clamp(Dot(in, out), -1.0, 1.0));
        const int steps = std::max(2, int(std::ceil(r * turn / kSampleStep)));
        const P2 from = start - centre;
        for (int k = 1; k <= steps; ++k) {
            const double a = side * turn * k / steps;
            const double c = std::cos(a), s = std::sin(a);
            Add(centre + P2{from.x * c - from.z * s, from.x * s + from.z * c});
        }
    }

    std::vector<P2> points_;
    std::vector<double> distance_;
    std::vector<double> stations_;  // where along the course each waypoint's height holds
    std::vector<double> heights_;
};

// Yaw about +y (0 looks along +z, a quarter turn along +x), then pitch about the camera's x
// (positive looks down): q = yaw * pitch (Hamilton product), so that (0, 0, 1) goes to
// (sin yaw cos pitch, -sin pitch, cos yaw cos pitch) and the up vector keeps no roll.
void YawPitchQuaternion(double yaw, double pitch, double q[4]) {
    const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
    const double cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
    q[0] = cy * sp;
    q[1] = cp * sy;
    q[2] = -sy * sp;
    q[3] = cy * cp;
}

}  // namespace

std::vector<CameraKey> MakeFlightKeys(const village::FlightPlan& plan) {
    const Course course(plan.waypoints);
    const double intervals = std::max(1.0, std::round(course.length() / (plan.speed * kKeyInterval)));
    const int count = int(intervals) + 1;

    std::vector<CameraKey> keys;
    double previous[4] = {0, 0, 0, 1};
    for (int k = 0; k < count; ++k) {
        const double s = course.length() * k / intervals;
        double here[3], ahead[3];
        course.At(s, here);
        course.At(s + kLookAhead, ahead);
        const double dx = ahead[0] - here[0], dy = ahead[1] - here[1], dz = ahead[2] - here[2];
        const double yaw = std::atan2(dx, dz);
        const double climb = std::atan2(dy, std::sqrt(dx * dx + dz * dz));
        const double level = std::clamp((here[1] - village::kEyeHeight) /
                                            (village::kHighFlightHeight - village::kEyeHeight), 0.0, 1.0);
        const double pitch = kEyePitch + level * (kHighPitch - kEyePitch) - kSlopeFollow * climb;
        double q[4];
        YawPitchQuaternion(yaw, pitch, q);
        if (q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3] < 0.0) {
            for (double& v : q) v = -v;
        }
        std::copy(q, q + 4, previous);

        CameraKey key;
        key.time = float(kKeyInterval * k);
        for (int i = 0; i < 3; ++i) key.position[i] = float(here[i]);
        for (int i = 0; i < 4; ++i) key.rotation[i] = float(q[i]);
        keys.push_back(key);
    }
    return keys;
}

zwf::Bytes MakeFlightFile(const village::FlightPlan& plan) {
    zwf::Node root = zwf::Node::Compound("root");
    const std::vector<CameraKey> keys = MakeFlightKeys(plan);
    for (size_t i = 0; i < keys.size(); ++i) {
        const CameraKey& k = keys[i];
        const std::string n = std::to_string(i);
        root.AddChild(zwf::Node::Leaf("pos" + n, "pos",
                                      zwf::PackTrackKey(k.time, k.position[0], k.position[1], k.position[2], 0.0f)));
        root.AddChild(zwf::Node::Leaf(
            "rot" + n, "rot", zwf::PackTrackKey(k.time, k.rotation[0], k.rotation[1], k.rotation[2], k.rotation[3])));
    }
    return zwf::Write(root);
}

bool WriteAllFlights(const std::string& folder, std::string* error) {
    for (const village::FlightPlan& plan : village::Flights()) {
        const zwf::Bytes bytes = MakeFlightFile(plan);
        const std::string path = folder + "/" + plan.file;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            if (error != nullptr) *error = "cannot write " + path;
            return false;
        }
    }
    return true;
}

}  // namespace rh::pathmake
