// The scene files of the village: the city ("Media/city.zwf") with its materials (the cobbles'
// with a height map, the foliage's cut out by an alpha test and seen from both sides), lights,
// lamp glows, moon plane, snow generator and the swaying inn sign, and the sky box
// ("Media/skybox/skybox.zwf") with its six face pictures and their ".ts" descriptions.
#pragma once

#include "tools/texturemake/picture_files.h"
#include "tools/villagebuild/village_geometry.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <string>
#include <utility>
#include <vector>

namespace rh::villagebuild {

// The colour texture a part's material draws with, below "Media/Txt" ("plaster.jpg").
std::string TextureFileOf(const std::string& material);

// The city scene's root: parts from BuildVillage, lamps from LampPositions.
rh::zwf::Node CityScene(const std::vector<MeshPart>& parts, const std::vector<Vec3f>& lamps);

// The sky box scene's root.
rh::zwf::Node SkyBoxScene();
// The ".ts" files beside them: member name and text.
std::vector<std::pair<std::string, std::string>> SkyBoxDescriptions();
// The pictures with alpha the city needs beyond the texture maker's ("Media/Txt/<name>.png").
std::vector<std::pair<std::string, texturemake::Picture>> ExtraSprites();

}  // namespace rh::villagebuild
