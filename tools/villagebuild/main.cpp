// rh_villagebuild MEDIA_ROOT LIST
//
// Writes the village's light maps below MEDIA_ROOT ("Media/LightMap/<part>.jpg") and LIST, the
// list of the files written (member name, tab, path), for the media archive. The same program
// always writes the same bytes.
#include "tools/texturemake/picture_files.h"
#include "tools/villagebuild/light_maps.h"
#include "tools/villagebuild/village_geometry.h"

#include <cstdio>
#include <string>

constexpr uint32_t kVillageSeed = 20261211;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: rh_villagebuild MEDIA_ROOT LIST\n");
        return 2;
    }
    const std::string root = argv[1];
    const std::vector<rh::villagebuild::Vec3f> lamps = rh::villagebuild::LampPositions();
    std::string list;
    std::string error;
    for (const rh::villagebuild::MeshPart& part : rh::villagebuild::BuildVillage(kVillageSeed)) {
        const std::string name = "Media/LightMap/" + part.name + ".jpg";
        std::vector<uint8_t> bytes;
        const auto picture = rh::villagebuild::BakeLightMap(part, lamps, rh::villagebuild::LightMapSize(part));
        if (!rh::texturemake::EncodeJpeg(picture, 90, &bytes, &error) ||
            !rh::texturemake::WriteBytes(root + "/" + name, bytes, &error)) {
            std::fprintf(stderr, "rh_villagebuild: %s: %s\n", name.c_str(), error.c_str());
            return 1;
        }
        list += name + "\t" + root + "/" + name + "\n";
    }
    if (!rh::texturemake::WriteBytes(argv[2], std::vector<uint8_t>(list.begin(), list.end()), &error)) {
        std::fprintf(stderr, "rh_villagebuild: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
