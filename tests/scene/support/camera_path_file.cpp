#include "tests/scene/support/camera_path_file.h"

#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/disk_stream.h"

#include <cstring>

bool LoadCameraPathFile(const std::string& path, CameraPathPlayer& player) {
    player.GetPositionTrack().Clear();
    player.GetRotationTrack().Clear();
    DiskStream stream;
    if (!stream.Open(String(path.c_str()), 1)) return false;
    BinaryDataReader reader;
    DataNode* root = reader.OpenStream(&stream);
    if (root == nullptr) return false;
    bool ok = root->Load(0, 0);
    const DataNodeMap& children = root->Children();
    const DataNodeMap::Node* entry = children.first();
    for (int32_t i = 0; i < children.count(); ++i, entry = entry->next) {
        const DataNode* child = entry->value;
        TrackKey key;
        if (child->GetSize() != static_cast<int32_t>(sizeof key) || !child->CopyData(&key, sizeof key)) {
            ok = false;
            continue;
        }
        const String& type = child->GetTypeName();
        const bool position = type.length() == 3 && std::memcmp(type.data(), "pos", 3) == 0;
        if (position) {
            player.GetPositionTrack().AddKey(key);
        } else {
            player.GetRotationTrack().AddKey(key);
        }
    }
    reader.CloseDataFile();
    return ok;
}
