// Who gives back the texture references the scene loader takes from the registry: the scene
// for its materials' maps, the particle emitter for its picture. Materials only point at
// textures, so after a scene goes every texture it took is back to the count it had, also when
// two materials or two scenes share one texture, a stage's texture was replaced, the device was
// lost and reset on the way, or the picture is an animated view of a description.
#include "scene/scene.h"

#include "render/material.h"
#include "render/texture_registry.h"
#include "scene/particle_emitter.h"
#include "tests/render/support/device_app.h"
#include "tests/render/support/picture_files.h"
#include "tests/support/scratch_dir.h"
#include "tools/zwfwrite/scene_values.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

namespace zwf = rh::zwf;
using rh::test::DeviceApp;
using zwf::Node;

const uint32_t kColours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};

Node Map(const std::string& kind, const std::string& file) {
    // Named by kind: the loader finds a material's maps by name, so two "Map"s would be one.
    Node map = Node::Compound(kind, kind);
    map.AddChild(Node::Text("FileName", file));
    return map;
}

Node Textures(std::vector<Node> maps) {
    Node textures = Node::Compound("Textures");
    for (Node& map : maps) textures.AddChild(std::move(map));
    return textures;
}

zwf::MeshBlocks Quad(const std::string& material) {
    zwf::MeshBlocks b;
    b.materialName = material;
    b.decl = zwf::SimpleLayout();
    b.vertices = {0, 0, 0, 0, 0, -1, 0, 1, 1, 0, 0, 0, 0, -1, 1, 1, 1, 1, 0, 0, 0, -1, 1, 0, 0, 1, 0, 0, 0, -1, 0, 0};
    b.indices = {0, 2, 1, 0, 3, 2};
    return b;
}

class TextureReferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(DeviceApp::Get(), nullptr) << "no device";
        const std::string picture = rh::test::TgaFile(rh::test::Quadrants(32, 32, kColours, 0xFF000000));
        scratch_.Write("wall.tga", picture);
        scratch_.Write("light.tga", picture);
        scratch_.Write("flake.tga", picture);
        // An animated description: the registry hands the picture out as a view of its
        // animation, a sub-texture whose parent is counted too.
        scratch_.Write("flake.ts",
                       "FileName = \"flake.tga\";\n"
                       "Subs.a.Rect = array(0, 0, 16, 16); Subs.a.ParentSpace = 1;\n"
                       "Subs.b.Rect = array(16, 0, 32, 16); Subs.b.ParentSpace = 1;\n"
                       "Animation.fall = array(\"a\", \"b\");\n");
        scratch_.Write("own.tga", picture);
        // Relative names, as the saver's media are named: a description is found beside its
        // picture by the picture's resolved name.
        scratch_.Enter();
        heldBefore_ = g_textureRegistry.HeldTextureCount();
    }

    // Two materials sharing "wall.tga"; the first with a light-map stage, the second with a
    // height map turned into its normal map; a quad of each; a snow emitter.
    std::string WriteScene(const std::string& name) {
        Node wall = Node::Compound("Wall");
        Node subs = Node::Compound("Materials");
        Node base = Node::Compound("Base");
        base.AddChild(Node::Int("MaterialSubId", 0));
        base.AddChild(Textures({Map("Diffuse", "wall.tga")}));
        Node light = Node::Compound("LightMap");
        light.AddChild(Node::Int("MaterialSubId", 1));
        light.AddChild(Textures({Map("Diffuse", "light.tga")}));
        subs.AddChild(base);
        subs.AddChild(light);
        wall.AddChild(subs);
        Node bumpy = Node::Compound("Bumpy");
        bumpy.AddChild(Textures({Map("Diffuse", "wall.tga"), Map("Bump", "light.tga")}));
        Node materials = Node::Compound("Materials");
        materials.AddChild(wall);
        materials.AddChild(bumpy);

        Node snow = Node::Compound("Snow", "Dummy");
        snow.AddChild(zwf::Props({{"NodeType", "ParticleEmitter"}, {"Texture", "flake.tga"}, {"MaxParticles", "10"}}));
        snow.AddChild(Node::Bytes("NodeTM", zwf::PackMatrix(zwf::kIdentity16)));
        snow.AddChild(Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16)));
        Node children = Node::Compound("Children");
        children.AddChild(zwf::MeshNode("wall", Quad("Wall"), zwf::Props({})));
        children.AddChild(zwf::MeshNode("bumpy", Quad("Bumpy"), zwf::Props({})));
        children.AddChild(snow);

        Node root = Node::Compound("");
        root.AddChild(materials);
        root.AddChild(children);
        const zwf::Bytes bytes = zwf::Write(root);
        scratch_.Write(name, std::string(bytes.begin(), bytes.end()));
        return name;
    }

    std::unique_ptr<Scene> Load(const std::string& path) {
        auto scene = std::make_unique<Scene>();
        SceneLoadOptions options;
        options.flags = 0;
        FileRef file(path.c_str());
        file.flags = FileRef::kDisk;
        EXPECT_TRUE(scene->ReadSceneFile(file, &options));
        return scene;
    }

    static MultiMaterial& MaterialOf(Scene& scene, const char* node) {
        SceneNode* found = scene.GetRoot().FindChild(String(node));
        EXPECT_NE(found, nullptr) << node;
        return found->GetMaterial();
    }

    rh::testing::ScratchDir scratch_{"rh_texture_refs"};
    int32_t heldBefore_ = 0;
};

TEST_F(TextureReferencesTest, ADestroyedSceneGivesBackEveryReferenceItTook) {
    std::unique_ptr<Scene> scene = Load(WriteScene("village.zwf"));
    Texture* wall = MaterialOf(*scene, "wall").sub(0).maps[kDiffuseMap].texture;
    Texture* light = MaterialOf(*scene, "wall").sub(0).stages[1].map.texture;
    Texture* normals = MaterialOf(*scene, "bumpy").sub(0).maps[kBumpMap].texture;
    SceneNode* snowNode = scene->GetRoot().FindChild(String("Snow"));
    ASSERT_NE(snowNode, nullptr);
    Texture* flake = snowNode->GetMaterial().sub(0).maps[kDiffuseMap].texture;
    ASSERT_NE(wall, nullptr);
    ASSERT_NE(light, nullptr);
    ASSERT_NE(normals, nullptr);
    ASSERT_NE(flake, nullptr);
    ASSERT_NE(flake->Parent(), nullptr) << "the flake is a view of its description's animation";
    Texture* atlas = flake->Parent();

    EXPECT_EQ(MaterialOf(*scene, "bumpy").sub(0).maps[kDiffuseMap].texture, wall) << "one texture, two materials";
    EXPECT_EQ(wall->RefCount(), 2);
    EXPECT_EQ(light->RefCount(), 1);
    EXPECT_NE(normals, light) << "the height map is a texture of its own";
    EXPECT_EQ(normals->RefCount(), 1);
    EXPECT_TRUE(g_textureRegistry.Holds(normals)) << "registered again under its cache name";
    EXPECT_EQ(flake->RefCount(), 1);
    EXPECT_EQ(atlas->RefCount(), 1);

    // A device loss restores the textures; it neither takes nor gives references.
    ASSERT_TRUE(DeviceApp::Get()->LoseAndReset());
    EXPECT_EQ(wall->RefCount(), 2);
    EXPECT_EQ(atlas->RefCount(), 1);
    EXPECT_NE(wall->GetTexture2D(), nullptr) << "restored";

    scene.reset();
    for (Texture* texture : {wall, light, normals, flake, atlas}) {
        EXPECT_EQ(texture->RefCount(), 0);
        EXPECT_TRUE(g_textureRegistry.Holds(texture) || g_textureRegistry.Holds(texture->Parent()))
            << "kept by the registry (deleted at exit), not by the scene";
    }
    EXPECT_EQ(g_textureRegistry.HeldTextureCount(), heldBefore_);
}

TEST_F(TextureReferencesTest, TwoScenesShareATextureUntilTheLastGoes) {
    const std::string path = WriteScene("village.zwf");
    std::unique_ptr<Scene> first = Load(path);
    std::unique_ptr<Scene> second = Load(path);
    Texture* wall = MaterialOf(*first, "wall").sub(0).maps[kDiffuseMap].texture;
    ASSERT_NE(wall, nullptr);
    EXPECT_EQ(MaterialOf(*second, "wall").sub(0).maps[kDiffuseMap].texture, wall);
    EXPECT_EQ(wall->RefCount(), 4);

    first.reset();
    EXPECT_EQ(wall->RefCount(), 2) << "the second scene's references stay";
    EXPECT_NE(wall->GetTexture2D(), nullptr);
    second.reset();
    EXPECT_EQ(wall->RefCount(), 0);
    EXPECT_EQ(g_textureRegistry.HeldTextureCount(), heldBefore_);
}

TEST_F(TextureReferencesTest, AReplacedStageTextureStaysWithWhoeverPutItThere) {
    std::unique_ptr<Scene> scene = Load(WriteScene("village.zwf"));
    Texture* light = MaterialOf(*scene, "wall").sub(0).stages[1].map.texture;
    ASSERT_NE(light, nullptr);

    // The caller takes its own reference and puts that texture in the stage in place of the
    // loader's: the scene still gives back what it took, and only that.
    TextureRequest request;
    request.locator = FileRef("own.tga");
    request.locator.flags = FileRef::kDisk;
    Texture* own = g_textureRegistry.Get(request, &scene->searchPaths());
    ASSERT_NE(own, nullptr);
    ASSERT_EQ(own->Parent(), nullptr);
    const int32_t ownCount = own->RefCount();
    MaterialOf(*scene, "wall").sub(0).stages[1].map.texture = own;

    scene.reset();
    EXPECT_EQ(light->RefCount(), 0);
    EXPECT_EQ(own->RefCount(), ownCount) << "the scene does not release what it did not take";
    own->Release();
    EXPECT_EQ(g_textureRegistry.HeldTextureCount(), heldBefore_);
}

TEST_F(TextureReferencesTest, ReleasingTwiceGivesBackOnce) {
    std::unique_ptr<Scene> scene = Load(WriteScene("village.zwf"));
    Texture* wall = MaterialOf(*scene, "wall").sub(0).maps[kDiffuseMap].texture;
    ASSERT_NE(wall, nullptr);
    // Someone else holds the texture too; the holder's second ReleaseAll must not take that.
    wall->AddRef();
    TextureReferences refs;
    TextureRequest request;
    request.locator = FileRef("wall.tga");
    request.locator.flags = FileRef::kDisk;
    EXPECT_EQ(refs.Keep(g_textureRegistry.Get(request, &scene->searchPaths())), wall);
    EXPECT_EQ(refs.Keep(nullptr), nullptr) << "a failed Get is not kept";
    EXPECT_EQ(refs.count(), 1);
    EXPECT_EQ(wall->RefCount(), 4);
    refs.ReleaseAll();
    refs.ReleaseAll();
    EXPECT_EQ(wall->RefCount(), 3);
    scene.reset();
    EXPECT_EQ(wall->RefCount(), 1);
    wall->Release();
    EXPECT_EQ(g_textureRegistry.HeldTextureCount(), heldBefore_);
}

}  // namespace
