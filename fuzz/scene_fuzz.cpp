// Arbitrary bytes as a scene file, read without a device as the saver reads its scenes (load
// flags 4: no mesh optimisation), then the boxes of the whole tree computed.

#include "core/files/file_ref.h"
#include "scene/scene.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Scene scene;
    SceneLoadOptions options;
    options.flags = kSceneOtherExtensions;
    scene.ReadSceneFile(FileRef::Memory(data, static_cast<int32_t>(size)), &options);
    scene.GetRoot().ComputeBounds();
    scene.GetBonesRoot().ComputeBounds();
    return 0;
}
