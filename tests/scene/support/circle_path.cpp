#include "tests/scene/support/circle_path.h"

#include "tools/zwfwrite/zwf_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace circle_path {

D3DXQUATERNION Turn(float x, float y, float z, float angle) {
    const float s = std::sin(angle / 2);
    return D3DXQUATERNION(x * s, y * s, z * s, std::cos(angle / 2));
}

Vec3 EyeAt(int k) {
    const float a = 2 * 3.14159265f * float(k) / kKeys;
    return Vec3{kRadius * std::cos(a), kHeight, kRadius * std::sin(a)};
}

D3DXQUATERNION LookingAtOrigin(Vec3 eye) {
    const float yaw = std::atan2(-eye.x, -eye.z);
    const float pitch = std::atan2(eye.y, std::sqrt(eye.x * eye.x + eye.z * eye.z));
    const D3DXQUATERNION p = Turn(1, 0, 0, pitch), y = Turn(0, 1, 0, yaw);
    D3DXQUATERNION q;
    D3DXQuaternionMultiply(&q, &p, &y);
    return q;
}

PathFile Write(const std::string& path) {
    PathFile file;
    std::vector<rh::zwf::Node> leaves;
    for (int k = 0; k < kKeys; ++k) {
        const Vec3 eye = EyeAt(k);
        const D3DXQUATERNION q = LookingAtOrigin(eye);
        const float time = float(k);
        file.positions.push_back(TrackKey::Vector(time, eye));
        file.rotations.push_back(TrackKey::Rotation(time, q));
        leaves.push_back(rh::zwf::Node::Leaf("pos" + std::to_string(k), "pos",
                                             rh::zwf::PackTrackKey(time, eye.x, eye.y, eye.z, 0)));
        leaves.push_back(rh::zwf::Node::Leaf("rot" + std::to_string(k), "rot",
                                             rh::zwf::PackTrackKey(time, q.x, q.y, q.z, q.w)));
    }
    std::shuffle(leaves.begin(), leaves.end(), std::mt19937(4));
    rh::zwf::Node root = rh::zwf::Node::Compound("root");
    for (rh::zwf::Node& leaf : leaves) root.AddChild(std::move(leaf));
    rh::zwf::WriteOptions options;
    options.rootSizeSlack = 4;
    file.path = path;
    std::string error;
    EXPECT_TRUE(rh::zwf::WriteFile(file.path, root, {}, options, &error)) << error;
    return file;
}

}  // namespace circle_path
