// Arbitrary bytes as a texture description file (".ts"), read into a texture on a headless
// device made once per process: keys, rectangles, "Subs" with atlas packing and the loading of
// pictures into the atlas, "Animation". Then what a frame does with the result: each animation
// played through a long stretch of clock, a view drawn, a device loss and restore told to the
// texture, the texture deleted.
//
// The working folder (scripts/fuzz gives an empty one) gets a few small pictures, written once,
// for "FileName" to name. Inputs whose descriptions would only make big textures are skipped,
// so that memory measures the reader and not the pictures asked for: a "Width" or "Height"
// above 256, more than 64 sub-textures, or a tree of more than 4096 nodes (reference copies
// can multiply a short text).
#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/script/script_parser.h"
#include "render/texture.h"
#include "render/texture_script.h"
#include "tests/render/support/device_app.h"
#include "tests/render/support/picture_files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void WritePictures() {
    const uint32_t colours[4] = {0xFFFF0000, 0xFF00FF00, 0x800000FF, 0x00FFFFFF};
    const struct {
        const char* name;
        uint32_t width, height;
    } pictures[] = {{"a.tga", 8, 8}, {"b.tga", 16, 4}, {"c.tga", 1, 1}, {"d.tga", 5, 3}, {"e.tga", 64, 32}};
    for (const auto& p : pictures) {
        const std::string bytes = rh::test::TgaFile(rh::test::Quadrants(p.width, p.height, colours, 0xFF000000));
        std::FILE* file = std::fopen(p.name, "wb");
        Check(file != nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

// Whether the description stays within the bounds of the file comment.
bool Small(const ScriptNode& root) {
    std::vector<const ScriptNode*> work{&root};
    int32_t nodes = 0;
    while (!work.empty()) {
        const ScriptNode* node = work.back();
        work.pop_back();
        if (++nodes > 4096) return false;
        const ScriptNode::Node* entry = node->first();
        for (int32_t i = 0; i < node->count(); ++i, entry = entry->next) {
            const ScriptNode* child = entry->value;
            if ((CompareTextNoCase(child->name.Text(), "Width") == 0 ||
                 CompareTextNoCase(child->name.Text(), "Height") == 0) &&
                (child->AsInt() > 256 || child->AsInt() < -1)) {
                return false;
            }
            if (CompareTextNoCase(child->name.Text(), "Subs") == 0 && child->count() > 64) return false;
            work.push_back(child);
        }
    }
    return true;
}

// Every sub-texture of a successfully read atlas lies where the reader promises.
void CheckAtlas(Texture& texture) {
    const Texture::SubMap& subs = texture.SubTextures();
    const auto* node = subs.first();
    for (int32_t i = 0; i < subs.count(); ++i, node = node->next) {
        Texture* sub = node->value;
        Check(sub->Parent() == &texture);
        Check(StringsEqual(node->key, sub->GetId()));
        Check(sub->GetDelay() >= 0);
        if (sub->GetParentSpace() && texture.GetTexture2D() != nullptr) {
            Check(sub->GetTexture2D() == texture.GetTexture2D());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static rh::test::DeviceApp* app = [] {
        WritePictures();
        return rh::test::DeviceApp::Get();
    }();
    Check(app != nullptr);
    if (size > 8192) return 0;
    // An exact heap copy, so ASan sees any read past the text.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size == 0 ? 1 : size]);
    if (size > 0) std::memcpy(bytes.get(), data, size);

    ScriptNode tree;
    MemStream stream;
    stream.Open(String(), 1);
    stream.ShowData(bytes.get(), static_cast<int32_t>(size), true);
    ParseScript(&stream, &tree, nullptr);
    if (!Small(tree)) return 0;

    // A memory block: names inside resolve in the working folder.
    auto* texture = new Texture;
    const FileRef locator = FileRef::Memory(bytes.get(), static_cast<int32_t>(size));
    if (LoadTextureScript(texture, locator)) {
        CheckAtlas(*texture);
        const Texture::AnimationMap& animations = texture->Animations();
        const auto* node = animations.first();
        for (int32_t i = 0; i < animations.count(); ++i, node = node->next) {
            TexturePlayback playback;
            Check(texture->StartPlayback(playback, node->key));
            const uint64_t start = playback.start;
            for (uint64_t step : {uint64_t{0}, uint64_t{99}, uint64_t{100}, uint64_t{12345}, uint64_t{1} << 40}) {
                playback.Advance(start + step);
                Check(playback.frame != nullptr && playback.frame->Parent() == texture);
            }
            TextureRequest request;
            request.flags = kRequestId;
            request.id = node->key;
            if (Texture* view = texture->FindSub(request)) {
                view->GetTexture2D();
                view->GetUVMatrix();
            }
        }
        texture->OnDeviceLost();
        texture->OnDeviceRestore();
        CheckAtlas(*texture);
    }
    delete texture;
    return 0;
}
