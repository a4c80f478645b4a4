// Fills a camera path player from a camera-path file the way the saver's path reader does, for
// tests and demonstrations until that reader exists: both tracks are cleared; every child of the
// root is one key of 32 bytes, a child whose type name is exactly "pos" (bytes, case counts) a
// position key and any other a rotation key; each is added to its track in file order.
#pragma once

#include "scene/camera_path_player.h"

#include <string>

// False when the file does not open or is not a data file (the tracks are then left empty).
// A child without exactly 32 bytes of data is skipped and makes the answer false.
bool LoadCameraPathFile(const std::string& path, CameraPathPlayer& player);
