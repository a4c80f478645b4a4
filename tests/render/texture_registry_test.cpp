// The texture registry on the real layer: which requests share a texture, which extensions
// and folders are tried, companion descriptions, requests for sub-textures of a held texture,
// and what happens to the textures when the registry goes.
#include "render/texture_registry.h"

#include "tests/render/support/device_app.h"
#include "tests/render/support/picture_files.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <utime.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using rh::test::DeviceApp;

const uint32_t kColours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(DeviceApp::Get(), nullptr) << "no device";
        picture_ = rh::test::TgaFile(rh::test::Quadrants(16, 8, kColours, 0xFF000000));
        scratch_.Write("media/pic.tga", picture_);
        // Relative names, as the saver's media are named: the scratch folder is the working
        // directory.
        scratch_.Enter();
        registry_.Add(FileRef("media"));
    }
    void TearDown() override {
        // Every Get added a reference to what it handed out and, for a sub-texture or view, to
        // its parent too.
        for (Texture* texture : handed_) {
            texture->Release();
            if (texture->Parent() != nullptr) texture->Parent()->Release();
        }
    }

    Texture* Get(TextureRequest& request, SearchPaths* extra = nullptr) {
        Texture* texture = registry_.Get(request, extra);
        if (texture != nullptr) handed_.push_back(texture);
        return texture;
    }
    static TextureRequest For(const char* name, int32_t flags = 0) {
        TextureRequest request;
        request.locator = FileRef(name);
        request.flags = flags;
        return request;
    }
    int32_t Kept(const std::string& path) const {
        const TextureRegistry::TextureSet* set = registry_.TexturesOf(FileRef(path.c_str()));
        return set != nullptr ? set->count() : 0;
    }

    rh::testing::ScratchDir scratch_{"rh_registry"};
    std::string picture_;
    TextureRegistry registry_;
    std::vector<Texture*> handed_;
};

TEST_F(RegistryTest, RequestsShareWhenEveryFlaggedParameterAgrees) {
    struct Step {
        const char* what;
        int32_t flags;
        D3DFORMAT format;
        D3DCOLOR colorKey;
        bool bypass;
        bool lookupOnly;
        int sameAs;  // the step whose texture comes back; -1 a new one; -2 none
    };
    const Step steps[] = {
        {"first", 0, D3DFMT_UNKNOWN, 0, false, false, -1},
        {"its own format", kRequestFormat, D3DFMT_A8R8G8B8, 0, false, false, 0},
        {"another format", kRequestFormat, D3DFMT_X8R8G8B8, 0, false, false, -1},
        {"that format again", kRequestFormat, D3DFMT_X8R8G8B8, 0, false, false, 2},
        {"nothing flagged: the first kept", 0, D3DFMT_R5G6B5, 0, false, false, 0},
        {"bypassing the cache", 0, D3DFMT_UNKNOWN, 0, true, false, -1},
        {"lookup only, nothing fits", kRequestFormat, D3DFMT_R5G6B5, 0, false, true, -2},
        {"lookup only, one fits", kRequestFormat, D3DFMT_X8R8G8B8, 0, false, true, 2},
        {"a colour key", kRequestColorKey, D3DFMT_UNKNOWN, 0xFF00FF00, false, false, -1},
        {"an unflagged colour key", 0, D3DFMT_UNKNOWN, 0xFF00FF00, false, false, 0},
    };
    std::vector<Texture*> got;
    int made = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        TextureRequest request = For("pic.tga", step.flags);
        request.format = step.format;
        request.colorKey = step.colorKey;
        request.bypassCache = step.bypass;
        request.lookupOnly = step.lookupOnly;
        Texture* texture = Get(request);
        got.push_back(texture);
        EXPECT_STREQ(request.locator.name.Text(), "media/pic.tga") << "resolved in place";
        if (step.sameAs == -2) {
            EXPECT_EQ(texture, nullptr);
            continue;
        }
        ASSERT_NE(texture, nullptr);
        if (step.sameAs == -1) {
            ++made;
            for (size_t i = 0; i + 1 < got.size(); ++i) EXPECT_NE(got[i], texture) << "step " << i;
        } else {
            EXPECT_EQ(texture, got[size_t(step.sameAs)]);
        }
        if ((step.flags & kRequestFormat) != 0) {
            EXPECT_EQ(texture->GetFormat(), step.format);
        }
    }
    EXPECT_EQ(Kept("media/pic.tga"), made) << "every loaded texture is kept under its file";
    EXPECT_EQ(registry_.TextureCount(), made);
    EXPECT_EQ(got[0]->RefCount(), 4) << "one reference each time it was handed out";
}

TEST_F(RegistryTest, OtherExtensionsOnlyWhenAskedAndExtraFoldersFirst) {
    TextureRequest dds = For("pic.dds");
    EXPECT_EQ(Get(dds), nullptr) << "no other extension without the flag";
    TextureRequest others = For("pic.dds", kRequestOtherExtensions);
    ASSERT_NE(Get(others), nullptr);
    EXPECT_STREQ(others.locator.name.Text(), "media/pic.tga");
    TextureRequest missing = For("nothing.tga", kRequestOtherExtensions);
    EXPECT_EQ(Get(missing), nullptr);

    // The same name in an extra folder wins over the registry's own.
    const rh::test::Picture solid = rh::test::Solid(4, 4, 0xFF336699);
    scratch_.Write("extra/pic.tga", rh::test::TgaFile(solid));
    SearchPaths extra;
    extra.Add(FileRef("extra"));
    TextureRequest inExtra = For("pic.tga");
    Texture* texture = Get(inExtra, &extra);
    ASSERT_NE(texture, nullptr);
    EXPECT_STREQ(inExtra.locator.name.Text(), "extra/pic.tga");
    EXPECT_EQ(texture->GetSize().x, 4);
}

// A request reads each folder once for all the names it tries, yet every request sees the
// folders as they are when it is made: pictures and descriptions that come and go between
// requests are found or missed at once, in folders whose names the lookup keeps.
TEST_F(RegistryTest, EveryRequestSeesTheFoldersAsTheyAreNow) {
    utimbuf old{};
    old.actime = old.modtime = time(nullptr) - 3600;
    const auto settle = [&] {
        for (const char* folder : {".", "media"}) ASSERT_EQ(utime(folder, &old), 0) << folder;
    };
    struct Step {
        const char* what;
        std::function<void()> change;
        const char* found;  // the resolved picture, as asked for; null: nothing found
        bool described;     // handed out as the description's texture
    };
    const std::vector<Step> steps = {
        {"no picture yet", [] {}, nullptr, false},
        {"a picture under another extension", [&] { scratch_.Write("media/Late.tga", picture_); }, "media/late.tga",
         false},
        {"a description beside it",
         [&] { scratch_.Write("media/LATE.ts", "FileName = \"Late.tga\"; Subs.a.Rect = array(0, 0, 4, 4);"); },
         "media/late.tga", true},
        {"the description gone", [&] { std::filesystem::remove(scratch_.Path("media/LATE.ts")); }, "media/late.tga",
         false},
        {"the same name in the working folder, tried first", [&] { scratch_.Write("late.tga", picture_); }, "late.tga",
         false},
        {"both gone",
         [&] {
             std::filesystem::remove(scratch_.Path("late.tga"));
             std::filesystem::remove(scratch_.Path("media/Late.tga"));
         },
         nullptr, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        settle();
        TextureRequest first = For("late.png", kRequestOtherExtensions);
        Get(first);  // the folders' names are kept from here
        step.change();
        TextureRequest request = For("late.png", kRequestOtherExtensions);
        Texture* texture = Get(request);
        if (step.found == nullptr) {
            EXPECT_EQ(texture, nullptr);
            continue;
        }
        ASSERT_NE(texture, nullptr);
        EXPECT_STREQ(request.locator.name.Text(), step.found);
        EXPECT_EQ(texture->FindSubTexture("a") != nullptr, step.described);
    }
}

TEST_F(RegistryTest, ACompanionDescriptionReplacesThePicture) {
    const std::string atlas =
        "FileName = \"anim.tga\";"
        "Subs.a.x1 = 0; Subs.a.y1 = 0; Subs.a.w = 8; Subs.a.h = 4;"
        "Subs.b.x1 = 8; Subs.b.y1 = 0; Subs.b.w = 8; Subs.b.h = 4;"
        "Animation.first = array(\"a\");"
        "Animation.last = array(\"b\", \"a\");";
    scratch_.Write("media/anim.tga", picture_);
    scratch_.Write("media/anim.ts", atlas);
    scratch_.Write("media/still.tga", picture_);
    scratch_.Write("media/still.ts", "FileName = \"still.tga\"; Subs.a.Rect = array(0, 0, 4, 4);");
    scratch_.Write("media/odd:name.tga", picture_);
    scratch_.Write("media/odd:name.ts", atlas);

    // Handed out as a view of the description's last animation.
    TextureRequest request = For("anim.tga");
    Texture* view = Get(request);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->PlaysAnimation());
    ASSERT_NE(view->Parent(), nullptr);
    EXPECT_EQ(view->Playback().frame, view->Parent()->FindSubTexture("b"));
    EXPECT_EQ(Kept("media/anim.ts"), 1) << "kept under the description";
    EXPECT_EQ(Kept("media/anim.tga"), 0);

    // A description without animations is handed out itself.
    TextureRequest still = For("still.tga");
    Texture* described = Get(still);
    ASSERT_NE(described, nullptr);
    EXPECT_NE(described->FindSubTexture("a"), nullptr);

    struct Case {
        const char* what;
        const char* name;
        int32_t flags;
    };
    const Case plain[] = {
        {"asked not to", "anim.tga", kRequestNoCompanion},
        {"a description asked for", "anim.ts", 0},
        {"a name with ':'", "odd:name.tga", 0},
    };
    for (const Case& c : plain) {
        SCOPED_TRACE(c.what);
        TextureRequest r = For(c.name, c.flags);
        Texture* texture = Get(r);
        ASSERT_NE(texture, nullptr);
        EXPECT_FALSE(texture->IsView());
        EXPECT_EQ(texture->Parent(), nullptr);
    }
}

TEST_F(RegistryTest, MemoryBlocksNeverShare) {
    TextureRequest first;
    first.locator = FileRef::Memory(picture_.data(), int32_t(picture_.size()));
    TextureRequest second = first;
    Texture* a = Get(first);
    Texture* b = Get(second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(Kept(""), 2) << "kept under the empty disk name";
    TextureRequest file = For("pic.tga");
    Texture* c = Get(file);
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
}

TEST_F(RegistryTest, RequestsHoldingATextureServeItsSubTextures) {
    TextureRequest base = For("pic.tga");
    Texture* texture = Get(base);
    ASSERT_NE(texture, nullptr);
    TextureRequest request;
    request.texture = texture;
    request.flags = kRequestTexture | kRequestId;
    request.id = "part";
    Texture* part = Get(request);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->Parent(), texture);
    EXPECT_EQ(Get(request), part);
    request.id = "absent";
    request.lookupOnly = true;
    EXPECT_EQ(Get(request), nullptr);
    TextureRequest itself;
    itself.texture = texture;
    itself.flags = kRequestTexture;
    EXPECT_EQ(Get(itself), texture);
    TextureRequest none;
    none.flags = kRequestTexture;
    EXPECT_EQ(Get(none), nullptr);
    // Sub-textures of a file's texture by Id or rectangle, through the file.
    TextureRequest byRect = For("pic.tga", kRequestRect);
    byRect.rect = Rect(8, 0, 16, 4);
    Texture* quadrant = Get(byRect);
    ASSERT_NE(quadrant, nullptr);
    EXPECT_EQ(quadrant->Parent(), texture);
    EXPECT_FLOAT_EQ(quadrant->GetUVRect().left, 0.5f);
}

// Counts the textures destroyed while it listens.
class DestroyCounter : public RefCounted {
public:
    void OnDestroyed(RefCounted*) override { ++destroyed; }
    int destroyed = 0;
};

TEST_F(RegistryTest, RemovedTexturesLiveOnAndTheRegistryDeletesByCount) {
    TextureRequest request = For("pic.tga");
    Texture* texture = Get(request);
    ASSERT_NE(texture, nullptr);
    registry_.Add(texture, FileRef("alias.tga"));
    EXPECT_EQ(Kept("alias.tga"), 1);
    registry_.Remove(texture);
    EXPECT_EQ(Kept("alias.tga"), 0);
    EXPECT_EQ(Kept("media/pic.tga"), 0);
    EXPECT_NE(texture->GetTexture2D(), nullptr) << "neither released nor deleted";
    handed_.clear();
    delete texture;

    auto* registry = new TextureRegistry;
    registry->Add(FileRef("media"));
    scratch_.Write("media/held.tga", picture_);
    TextureRequest a = For("pic.tga");
    TextureRequest b = For("held.tga");
    Texture* released = registry->Get(a, nullptr);
    Texture* held = registry->Get(b, nullptr);
    ASSERT_NE(released, nullptr);
    ASSERT_NE(held, nullptr);
    DestroyCounter counter;
    released->SetDestroyListener(&counter);
    held->SetDestroyListener(&counter);
    released->Release();
    delete registry;
    EXPECT_EQ(counter.destroyed, 1) << "only the texture nobody holds goes with the registry";
    EXPECT_NE(held->GetTexture2D(), nullptr);
    held->Release();
    EXPECT_EQ(counter.destroyed, 2) << "the last holder's release deletes it";
}

}  // namespace
