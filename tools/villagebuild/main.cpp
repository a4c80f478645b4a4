// rh_villagebuild MEDIA_ROOT LIST
//
// Writes the village below MEDIA_ROOT: the city scene ("Media/city.zwf"), its light maps
// ("Media/LightMap/<part>.jpg") and the textures the texture maker does not make, the sky box
// ("Media/skybox/skybox.zwf" with its face pictures and their ".ts" files), and LIST, the list
// of the files written (member name, tab, path), for the media archive. The same program always
// writes the same bytes.
#include "tools/texturemake/picture_files.h"
#include "tools/texturemake/sky.h"
#include "tools/texturemake/textures.h"
#include "tools/villagebuild/light_maps.h"
#include "tools/villagebuild/scene_files.h"
#include "tools/villagebuild/village_geometry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

// Where the sky box's faces start in their pictures: the first face's first texture coordinate
// (its quads are inset alike), so that the pictures span exactly what the box shows.
float SkyInset(const rh::zwf::Node& sky) {
    const rh::zwf::Node* children = sky.Find("Children");
    const rh::zwf::Node* verts = children != nullptr && !children->children().empty()
                                     ? children->children().front().Find("Verts")
                                     : nullptr;
    float inset = 0.0f;
    // A simple vertex: position, normal, then u at float 6.
    if (verts != nullptr && verts->data().size() >= 8 * sizeof(float)) {
        std::memcpy(&inset, verts->data().data() + 6 * sizeof(float), sizeof inset);
    }
    return inset > 0.0f && inset < 0.25f ? inset : 0.0f;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: rh_villagebuild MEDIA_ROOT LIST\n");
        return 2;
    }
    const std::string root = argv[1];
    const std::vector<rh::villagebuild::Vec3f> lamps = rh::villagebuild::LampPositions();
    std::string list;
    std::string error;
    const std::vector<rh::villagebuild::MeshPart> parts = rh::villagebuild::BuildVillage(rh::villagebuild::kVillageSeed);
    auto put = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        if (!rh::texturemake::WriteBytes(root + "/" + name, bytes, &error)) {
            std::fprintf(stderr, "rh_villagebuild: %s: %s\n", name.c_str(), error.c_str());
            return false;
        }
        list += name + "\t" + root + "/" + name + "\n";
        return true;
    };
    auto putPicture = [&](const std::string& name, const rh::texturemake::Picture& picture) {
        std::vector<uint8_t> bytes;
        if (!rh::texturemake::EncodeJpeg(picture, 90, &bytes, &error)) {
            std::fprintf(stderr, "rh_villagebuild: %s: %s\n", name.c_str(), error.c_str());
            return false;
        }
        return put(name, bytes);
    };
    const rh::zwf::Node sky = rh::villagebuild::SkyBoxScene();
    try {
        if (!put("Media/city.zwf", rh::zwf::Write(rh::villagebuild::CityScene(parts, lamps))) ||
            !put("Media/skybox/skybox.zwf", rh::zwf::Write(sky))) {
            return 1;
        }
    } catch (const rh::zwf::WriteError& e) {
        std::fprintf(stderr, "rh_villagebuild: %s\n", e.what());
        return 1;
    }
    for (const auto& [name, picture] : rh::texturemake::SkyPictures(SkyInset(sky))) {
        if (!putPicture(name, picture)) return 1;
    }
    for (const auto& [name, text] : rh::villagebuild::SkyBoxDescriptions()) {
        if (!put(name, std::vector<uint8_t>(text.begin(), text.end()))) return 1;
    }
    for (const auto& [name, picture] : rh::villagebuild::ExtraSprites()) {
        std::vector<uint8_t> bytes;
        if (!rh::texturemake::EncodePng(picture, &bytes, &error) || !put(name, bytes)) {
            std::fprintf(stderr, "rh_villagebuild: %s: %s\n", name.c_str(), error.c_str());
            return 1;
        }
    }
    const rh::villagebuild::VillageLightMaps lightMaps(parts, lamps);
    const int threads = rh::lightbake::AvailableThreads();
    for (const rh::villagebuild::MeshPart& part : parts) {
        const std::string name = "Media/LightMap/" + part.name + ".jpg";
        std::vector<uint8_t> bytes;
        const auto picture = lightMaps.Bake(part, threads);
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
