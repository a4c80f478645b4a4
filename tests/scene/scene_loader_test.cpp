// The scene-file loader on small files written with the data-file writer, without a device:
// meshes, materials, properties, transforms, lights, bones and the refusal of broken blocks.
#include "scene/scene.h"

#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/mem_stream.h"
#include "core/object/property_node.h"
#include "render/material.h"
#include "render/mesh.h"
#include "render/mesh_data.h"
#include "scene/property_lookup.h"
#include "scene/skinned_mesh_node.h"
#include "tools/zwfwrite/scene_values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace zwf = rh::zwf;
using zwf::Node;

// A unit quad in the XY plane: four vertices of position, normal and one UV set.
zwf::MeshBlocks Quad(const std::string& material = "") {
    zwf::MeshBlocks b;
    b.materialName = material;
    b.decl = zwf::SimpleLayout();
    b.vertices = {0, 0, 0, 0, 0, -1, 0, 1, 1, 0, 0, 0, 0, -1, 1, 1, 1, 1, 0, 0, 0, -1, 1, 0, 0, 1, 0, 0, 0, -1, 0, 0};
    b.indices = {0, 2, 1, 0, 3, 2};
    return b;
}

Node EmptyProps() { return zwf::Props({}); }

// A file of the given root children, kept in memory for the loader.
struct SceneFile {
    explicit SceneFile(std::vector<Node> children) {
        Node root = Node::Compound("");
        for (Node& child : children) root.AddChild(std::move(child));
        bytes = zwf::Write(root);
    }
    FileRef Ref() const { return FileRef::Memory(bytes.data(), static_cast<int32_t>(bytes.size())); }
    zwf::Bytes bytes;
};

Node Children(std::vector<Node> nodes) {
    Node c = Node::Compound("Children");
    for (Node& n : nodes) c.AddChild(std::move(n));
    return c;
}

Node Group(const std::string& name, const std::string& type, std::vector<Node> content) {
    Node g = Node::Compound(name, type);
    for (Node& n : content) g.AddChild(std::move(n));
    return g;
}

// With RIMEHOLT_SEED_DIR set, every fixture is also written there (the fuzzer's seeds).
void KeepSeed(const SceneFile& file) {
    static int serial = 0;
    const char* dir = std::getenv("RIMEHOLT_SEED_DIR");
    if (dir == nullptr) return;
    const std::string path = std::string(dir) + "/fixture" + std::to_string(serial++) + ".zwf";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(file.bytes.data(), 1, file.bytes.size(), f);
        std::fclose(f);
    }
}

bool Load(Scene& scene, const SceneFile& file, const char* group = "") {
    KeepSeed(file);
    SceneLoadOptions options;
    options.flags = 0;
    options.groupName = String(group);
    return scene.ReadSceneFile(file.Ref(), &options);
}

TEST(SceneLoaderTest, MeshesGetAttachmentsAndMaterialsComeFromTheLibrary) {
    Node materials = Node::Compound("Materials");
    materials.AddChild(Group("Wall", "", {Group("Materials", "",
                                                {Group("Plaster", "", {Node::Int("MaterialSubId", 0)}),
                                                 Group("Light", "", {Node::Int("MaterialSubId", 1),
                                                                     Node::Bytes("TwoSided", {0})})})}));
    materials.AddChild(Group("Glow", "", {Node::Bytes("TwoSided", {1}),
                                          Node::Bytes("Diffuse", zwf::PackColor(1, 0.5f, 0.25f, 1))}));
    zwf::MeshBlocks empty = Quad();
    empty.vertices.clear();
    SceneFile file({materials,
                    Children({zwf::MeshNode("wall", Quad("Wall"), EmptyProps()),
                              zwf::MeshNode("glow", Quad("Glow"), zwf::Props({{"zWrite", "0"}, {"Blend", "additive"}})),
                              zwf::MeshNode("nothing", empty, EmptyProps())})});
    Scene scene;
    ASSERT_TRUE(Load(scene, file));
    EXPECT_EQ(scene.materials().count(), 2);
    // Sub-materials 0 and 1 combine into one fixed-function pass: the second is its stage 1,
    // reading UV set 1.
    SceneNode* wall = scene.GetRoot().FindChild(String("wall"));
    ASSERT_NE(wall, nullptr);
    ASSERT_NE(wall->GetAttachment(), nullptr);
    MultiMaterial& wallMaterial = wall->GetMaterial();
    ASSERT_EQ(wallMaterial.count(), 1);
    EXPECT_TRUE(StringEqualsText(wallMaterial.sub(0).name, "Plaster"));
    EXPECT_NE(wallMaterial.sub(0).stages[1].colorOp, D3DTOP_DISABLE);
    EXPECT_EQ(wallMaterial.sub(0).stages[1].texCoordIndex, 1u);
    EXPECT_EQ(wallMaterial.sub(0).cullMode, D3DCULL_CCW);

    SceneNode* glow = scene.GetRoot().FindChild(String("glow"));
    ASSERT_NE(glow, nullptr);
    EXPECT_EQ(glow->GetMaterial().sub(0).cullMode, D3DCULL_NONE);
    EXPECT_EQ(glow->GetMaterial().sub(0).zWrite, 0) << "\"zWrite\" found as \"ZWrite\"";
    EXPECT_TRUE(glow->GetMaterial().sub(0).blendEnable);
    EXPECT_NEAR(glow->GetMaterial().sub(0).colors.GetDiffuse().r, 0.5f, 1e-6f);

    SceneNode* nothing = scene.GetRoot().FindChild(String("nothing"));
    ASSERT_NE(nothing, nullptr) << "the node stays";
    EXPECT_EQ(nothing->GetAttachment(), nullptr) << "NumVerts 0";

    // The mesh data is kept by name, its box computed.
    MeshData* data = nullptr;
    ASSERT_NE(scene.meshData().Find(String("wall"), data), nullptr);
    EXPECT_EQ(data->vertices.count(), 4);
    EXPECT_NEAR(data->GetBox().size.x, 1.0f, 1e-6f);
}

TEST(SceneLoaderTest, NormalMapCacheNames) {
    const struct {
        const char* file;
        float amount;
        const char* name;
    } cases[] = {{"Txt/cobble.png", 0.7f, "cobble.nhm6.dds"},
                 {"cobble.png", 0.3f, "cobble.nhm3.dds"},
                 {"a/b/wall.ts", 100.0f, "wall.nhm1000.dds"},
                 {"x.jpg", -0.25f, "x.nhm-2.dds"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(Scene::NormalMapCacheName(String(c.file), c.amount).Text(), c.name) << c.file;
    }
}

TEST(SceneLoaderTest, TildeNamesGroupsTransformsAndAlphaOrder) {
    auto file = [](float x) {
        return SceneFile(
            {Children({Group("~hidden", "Dummy", {EmptyProps()}), Group("hidden", "Dummy", {EmptyProps()}),
                       Group("house", "Dummy",
                             {zwf::Props({{"AlphaOrder", "3"}}), Node::Bytes("NodeTM", zwf::PackMatrix(zwf::Translation(x, 2, 3))),
                              Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16))})})});
    };
    Scene scene;
    ASSERT_TRUE(Load(scene, file(10), "day"));
    ASSERT_TRUE(Load(scene, file(20), "night"));
    SceneNode* tilde = scene.GetRoot().FindChild(String("~hidden"));
    SceneNode* plain = scene.GetRoot().FindChild(String("hidden"));
    ASSERT_NE(tilde, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(tilde->flags().Test(kNodeOcclusionTested));
    EXPECT_FALSE(plain->flags().Test(kNodeOcclusionTested));

    SceneNode* house = scene.GetRoot().FindChild(String("house"));
    ASSERT_NE(house, nullptr);
    EXPECT_EQ(scene.GetRoot().childCount(), 3) << "the second file reuses the nodes";
    EXPECT_EQ(house->storedTransformCount(), 2);
    EXPECT_EQ(house->GetNodeTransform(false).GetPosition().x, 10.0f) << "the first group's transform applies";
    EXPECT_EQ(house->GetDrawOrder(), 3);
    house->ApplyStoredTransform(String("night"), false);
    EXPECT_EQ(house->GetNodeTransform(false).GetPosition().x, 20.0f);
}

Node Light(const std::string& name, const std::string& type, float x) {
    return Group(name, type,
                 {Node::Bytes("NodeTM", zwf::PackMatrix(zwf::Translation(x, 5, 0))),
                  Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16)), Node::Real("AttStart", 4.0f),
                  Node::Real("AttEnd", 50.0f), Node::Bytes("Diffuse", zwf::PackColor(1, 1, 0.5f, 0))});
}

TEST(SceneLoaderTest, AnUnknownLightTypeEndsTheLights) {
    Node lights = Node::Compound("Lights");
    lights.AddChild(Light("lamp", "PointLight", 7));
    lights.AddChild(Light("moon", "DirLight", 0));
    lights.AddChild(Light("odd", "AreaLight", 0));
    lights.AddChild(Light("late", "PointLight", 9));
    SceneFile file({Node::Bytes("AmbColor", zwf::PackColor(1, 0.1f, 0.2f, 0.3f)), lights});
    Scene scene;
    ASSERT_TRUE(Load(scene, file));
    EXPECT_NEAR(scene.lights().ambient.b, 0.3f, 1e-6f);
    ASSERT_EQ(scene.lights().lights.count(), 2);
    const ::Light* lamp = scene.lights().lights.first()->key.Get();
    EXPECT_TRUE(StringEqualsText(lamp->name(), "lamp"));
    EXPECT_EQ(lamp->GetPosition().x, 7.0f);
    EXPECT_EQ(lamp->range(), 50.0f);
    float a0, a1, a2;
    lamp->GetAttenuation(&a0, &a1, &a2);
    EXPECT_EQ(a1, 0.25f);
    const ::Light* moon = scene.lights().lights.first()->next->key.Get();
    EXPECT_NEAR(moon->GetDirection().y, -1.0f, 1e-6f);
}

// A two-bone chain at the top level and a two-vertex-record strip bound to it.
Node BoneChain(const std::vector<std::string>& names) {
    Node first = Group("Bone01", "Bone", {EmptyProps(), Node::Bytes("NodeTM", zwf::PackMatrix(zwf::Translation(0, 1, 0))),
                                          Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16))});
    Node second = Group("Bone02", "Bone", {EmptyProps(), Node::Bytes("NodeTM", zwf::PackMatrix(zwf::Translation(0, 2, 0))),
                                           Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16))});
    first.AddChild(Children({second}));
    zwf::MeshBlocks quad = Quad();
    Node sign = zwf::MeshNode("Sign", quad, EmptyProps(), zwf::Translation(0, 0, 5));
    Node boneNames = Node::Compound("BoneNames");
    for (size_t i = 0; i < names.size(); ++i) boneNames.AddChild(Node::Text(std::to_string(i), names[i]));
    sign.AddChild(boneNames);
    sign.AddChild(Node::Ints("VertBoneOffs", {0, 1, 2, 4}));
    sign.AddChild(Node::Ints("VertBoneNums", {1, 1, 2, 1}));
    zwf::Packer weights;
    weights.Int(0).Real(1).Int(1).Real(1).Int(0).Real(0.5f).Int(1).Real(0.5f).Int(1).Real(1);
    sign.AddChild(Node::Bytes("BoneWeights", weights.Take()));
    return Children({first, sign});
}

TEST(SceneLoaderTest, BonesMoveUnderTheBonesRootWithInverseRestOffsets) {
    SceneFile file({BoneChain({"Bone01", "Bone02"})});
    Scene scene;
    ASSERT_TRUE(Load(scene, file));
    EXPECT_EQ(scene.GetRoot().FindChild(String("Bone01")), nullptr);
    SceneNode* bone1 = scene.GetBonesRoot().FindChild(String("Bone01"));
    ASSERT_NE(bone1, nullptr);
    SceneNode* bone2 = bone1->FindChild(String("Bone02"));
    ASSERT_NE(bone2, nullptr);
    // The world rest matrix of Bone02 is a translation by (0, 3, 0): its offset moves back.
    RenderPass pass;
    pass.flags = kPassProxiesOnly;
    scene.GetBonesRoot().Draw(pass);
    const TypedMatrix& m = bone2->GetBoneMatrix();
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(m.m[i], IdentityMatrix().m[i], 1e-6f) << i << ": at rest, bone = identity";

    SceneNode* sign = scene.GetRoot().FindChild(String("Sign"));
    ASSERT_NE(sign, nullptr);
    ASSERT_EQ(scene.skinnedMeshes().size(), 1u);
    SkinnedMeshNode* skinned = scene.skinnedMeshes()[0];
    EXPECT_EQ(sign->GetAttachment(), skinned);
    EXPECT_EQ(skinned->bonesRoot(), &scene.GetBonesRoot());
    EXPECT_EQ(skinned->boneMatrices().count(), 2);
    // The rest pose took the node's transform: the vertices moved by z 5, the node has none.
    EXPECT_EQ(skinned->meshData()->GetBox().centre.z, 5.0f);
    EXPECT_EQ(sign->GetNodeTransform(false).GetPosition().z, 0.0f);
}

TEST(SceneLoaderTest, AMissingBoneFailsTheLoadAndTheMeshNeverDraws) {
    SceneFile file({BoneChain({"Bone01", "Bone03"})});
    Scene scene;
    EXPECT_FALSE(Load(scene, file));
    ASSERT_EQ(scene.skinnedMeshes().size(), 1u);
    EXPECT_EQ(scene.skinnedMeshes()[0]->boneMatrices().count(), 0);
    EXPECT_EQ(scene.skinnedMeshes()[0]->bonesRoot(), nullptr);
    EXPECT_FALSE(scene.skinnedMeshes()[0]->SkinVertices(nullptr));
}

// Each broken mesh is refused on its own; the load goes on and the good mesh beside it loads.
TEST(SceneLoaderTest, BrokenMeshBlocksAreRefused) {
    using Change = std::function<void(zwf::MeshBlocks&, Node&)>;
    auto replace = [](Node& mesh, Node leaf) {
        Node fresh = Node::Compound(mesh.name(), mesh.typeName());
        for (const Node& c : mesh.children()) fresh.AddChild(c.name() == leaf.name() ? leaf : c);
        mesh = fresh;
    };
    const struct {
        const char* what;
        Change change;
    } cases[] = {
        {"index size 3", [&](zwf::MeshBlocks&, Node& m) { replace(m, Node::Int("IndexSize", 3)); }},
        {"index count not a multiple of 3", [](zwf::MeshBlocks& b, Node&) { b.indices.pop_back(); }},
        {"index outside the vertices", [](zwf::MeshBlocks& b, Node&) { b.indices[4] = 4; }},
        {"vertex count larger than Verts", [&](zwf::MeshBlocks&, Node& m) { replace(m, Node::Int("NumVerts", 5)); }},
        {"negative vertex count", [&](zwf::MeshBlocks&, Node& m) { replace(m, Node::Int("NumVerts", -4)); }},
        {"index count larger than Indexes", [&](zwf::MeshBlocks&, Node& m) { replace(m, Node::Int("NumIndexes", 9)); }},
        {"DECL in stream 1", [](zwf::MeshBlocks& b, Node&) { b.decl[1].stream = 1; }},
        {"DECL of a bad type", [](zwf::MeshBlocks& b, Node&) { b.decl[2].type = 40; }},
        {"DECL without its marker",
         [&](zwf::MeshBlocks& b, Node& m) {
             zwf::Bytes d = zwf::PackDecl(b.decl);
             d.resize(d.size() - 8);
             replace(m, Node::Bytes("DECL", d));
         }},
        {"DECL longer than 32 elements",
         [&](zwf::MeshBlocks& b, Node& m) {
             std::vector<zwf::DeclElement> many(33, b.decl[0]);
             replace(m, Node::Bytes("DECL", zwf::PackDecl(many)));
         }},
        {"adjacency of the wrong size", [](zwf::MeshBlocks&, Node& m) { m.AddChild(Node::Ints("Adjacency", {-1, -1})); }},
        {"adjacency naming no triangle",
         [](zwf::MeshBlocks&, Node& m) { m.AddChild(Node::Ints("Adjacency", {-1, 1, -1, 0, 2, -1})); }},
        {"skin arrays of the wrong length",
         [](zwf::MeshBlocks&, Node& m) {
             m.AddChild(Group("BoneNames", "", {Node::Text("0", "b")}));
             m.AddChild(Node::Ints("VertBoneOffs", {0, 0, 0}));
             m.AddChild(Node::Ints("VertBoneNums", {1, 1, 1}));
             m.AddChild(Node::Bytes("BoneWeights", zwf::Packer().Int(0).Real(1).Take()));
         }},
        {"skin record outside the weights",
         [](zwf::MeshBlocks&, Node& m) {
             m.AddChild(Group("BoneNames", "", {Node::Text("0", "b")}));
             m.AddChild(Node::Ints("VertBoneOffs", {0, 0, 0, 1}));
             m.AddChild(Node::Ints("VertBoneNums", {1, 1, 1, 1}));
             m.AddChild(Node::Bytes("BoneWeights", zwf::Packer().Int(0).Real(1).Take()));
         }},
        {"bone index outside the names",
         [](zwf::MeshBlocks&, Node& m) {
             m.AddChild(Group("BoneNames", "", {Node::Text("0", "b")}));
             m.AddChild(Node::Ints("VertBoneOffs", {0, 0, 0, 0}));
             m.AddChild(Node::Ints("VertBoneNums", {1, 1, 1, 1}));
             m.AddChild(Node::Bytes("BoneWeights", zwf::Packer().Int(1).Real(1).Take()));
         }},
        {"bone names not 0 .. n-1",
         [](zwf::MeshBlocks&, Node& m) {
             m.AddChild(Group("BoneNames", "", {Node::Text("1", "b")}));
             m.AddChild(Node::Ints("VertBoneOffs", {0, 0, 0, 0}));
             m.AddChild(Node::Ints("VertBoneNums", {1, 1, 1, 1}));
             m.AddChild(Node::Bytes("BoneWeights", zwf::Packer().Int(0).Real(1).Take()));
         }},
        {"weight not finite",
         [](zwf::MeshBlocks&, Node& m) {
             m.AddChild(Group("BoneNames", "", {Node::Text("0", "b")}));
             m.AddChild(Node::Ints("VertBoneOffs", {0, 0, 0, 0}));
             m.AddChild(Node::Ints("VertBoneNums", {1, 1, 1, 1}));
             m.AddChild(Node::Bytes("BoneWeights", zwf::Packer().Int(0).Real(NAN).Take()));
         }},
    };
    for (const auto& c : cases) {
        zwf::MeshBlocks blocks = Quad();
        Node probe = zwf::MeshNode("probe", blocks, EmptyProps());
        c.change(blocks, probe);
        // Changes to the blocks rebuild the node; changes to the node keep it.
        Node broken = zwf::MeshNode("broken", blocks, EmptyProps());
        for (const Node& child : probe.children()) {
            if (broken.Find(child.name()) == nullptr) broken.AddChild(child);
        }
        if (probe.Find("IndexSize") != nullptr) {
            for (const char* key : {"IndexSize", "NumVerts", "NumIndexes", "DECL"}) {
                const Node* mine = probe.Find(key);
                Node* theirs = broken.Find(key);
                if (mine != nullptr && theirs != nullptr && mine->data() != zwf::MeshNode("x", Quad(), EmptyProps()).Find(key)->data()) {
                    replace(broken, *mine);
                }
            }
        }
        SceneFile file({Children({broken, zwf::MeshNode("good", Quad(), EmptyProps())})});
        Scene scene;
        EXPECT_TRUE(Load(scene, file)) << c.what;
        SceneNode* node = scene.GetRoot().FindChild(String("broken"));
        ASSERT_NE(node, nullptr) << c.what;
        EXPECT_EQ(node->GetAttachment(), nullptr) << c.what;
        SceneNode* good = scene.GetRoot().FindChild(String("good"));
        ASSERT_NE(good, nullptr) << c.what;
        EXPECT_NE(good->GetAttachment(), nullptr) << c.what;
    }
}

TEST(SceneLoaderTest, NonFiniteMatricesCountAsAbsentAndDeepNestingIsCut) {
    zwf::Matrix16 bad = zwf::Translation(1, 2, 3);
    bad[5] = INFINITY;
    Node odd = Group("odd", "Dummy", {EmptyProps(), Node::Bytes("NodeTM", zwf::PackMatrix(bad)),
                                      Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16)),
                                      Node::Bytes("Bounds", zwf::PackBox(0, NAN, 0, 1, 1, 1))});
    Node deep = Group("n0", "Dummy", {EmptyProps()});
    // 300 levels, built inside out.
    Node inner = Group("n299", "Dummy", {EmptyProps()});
    for (int i = 298; i >= 0; --i) {
        Node outer = Group("n" + std::to_string(i), "Dummy", {EmptyProps()});
        outer.AddChild(Children({inner}));
        inner = std::move(outer);
    }
    SceneFile file({Children({odd, inner})});
    Scene scene;
    ASSERT_TRUE(Load(scene, file));
    SceneNode* node = scene.GetRoot().FindChild(String("odd"));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->storedTransformCount(), 0);
    EXPECT_FALSE(node->flags().Test(kNodeFixedBounds));
    int depth = 0;
    for (SceneNode* n = scene.GetRoot().FindChild(String("n0")); n != nullptr; n = n->childCount() > 0 ? n->child(0) : nullptr) {
        ++depth;
    }
    EXPECT_EQ(depth, kMaxSceneNodeDepth);
}

// A property tree as text, in list order: "key=value;" for texts, "key{...}" for lists.
std::string Dump(const PropertyNode& props) {
    std::string out;
    const PropertyNode::Node* e = props.first();
    for (int32_t i = 0; i < props.count(); ++i, e = e->next) {
        out += e->key.Text();
        if (e->value->count() > 0) {
            out += "{" + Dump(*e->value) + "}";
        } else {
            String text;
            props.GetString(e->key, text);
            out += "=" + std::string(text.Text()) + ";";
        }
    }
    return out;
}

// The loader takes a node's inherited properties from its walk down the file, not by climbing
// the data tree's parent links; for a file whose links follow its nesting the two agree. Every
// scene node of a nested file holds what LoadNodeProperties climbing from its data node copies:
// values set at the file's root, on a "Children" list, on groups with and without "Props", own
// values beating nearer and farther ones, lists kept whole.
TEST(SceneLoaderTest, InheritedPropertiesAreThoseTheClimbFinds) {
    Node rootProps = zwf::Props({{"Usage", "static"}, {"Lit", "1"}});
    Node list = Node::Compound("AlphaUse").With(Node::Text("0", "texture")).With(Node::Text("1", "factor"));
    Node groupProps = zwf::Props({{"Lit", "0"}, {"Blend", "multiply"}});
    groupProps.AddChild(list);
    Node ownList = Node::Compound("AlphaUse").With(Node::Text("0", "diffuse"));
    Node deep = Group("Deep", "Dummy", {zwf::Props({{"ZWrite", "0"}}).With(ownList)});
    Node inner = Group("Inner", "Dummy", {zwf::Props({{"blend", "additive"}}), Children({deep})});
    Node bare = Group("Bare", "Dummy", {Children({Group("UnderBare", "Dummy", {zwf::Props({{"Face", "XYZ"}})}),
                                                  Group("BareToo", "Dummy", {})})});
    Node group = Group("Group", "Dummy", {groupProps, Children({inner, bare})});
    Node listed = Children({group, Group("Top", "Dummy", {EmptyProps()})});
    listed.AddChild(zwf::Props({{"MinFilter", "point"}}));  // a "Props" on the list itself
    Node root = Node::Compound("");
    root.AddChild(rootProps);
    root.AddChild(listed);
    SceneFile file({});
    file.bytes = zwf::Write(root);
    const zwf::Bytes& bytes = file.bytes;

    Scene scene;
    ASSERT_TRUE(Load(scene, file));

    MemStream stream;
    stream.ShowData(bytes.data(), int32_t(bytes.size()), true);
    stream.Open(String(), 1);
    BinaryDataReader reader;
    DataNode* top = reader.OpenStream(&stream);
    ASSERT_NE(top, nullptr);
    ASSERT_TRUE(top->Load(0, 0));
    int compared = 0;
    std::function<void(DataNode*, SceneNode*)> walk = [&](DataNode* list, SceneNode* parent) {
        const DataNodeMap::Node* e = list->Children().first();
        for (int32_t i = 0; i < list->Children().count(); ++i, e = e->next) {
            SceneNode* node = parent->FindChild(e->value->GetName());
            ASSERT_NE(node, nullptr) << e->key.Text();
            PropertyNode climbed;
            LoadNodeProperties(e->value, climbed, true);
            EXPECT_EQ(Dump(node->properties()), Dump(climbed)) << e->key.Text();
            ++compared;
            if (DataNode* children = e->value->FindChild(String("Children"))) walk(children, node);
        }
    };
    walk(top->FindChild(String("Children")), &scene.GetRoot());
    reader.CloseDataFile();
    EXPECT_EQ(compared, 8);  // the list's "Props" is read as a node too

    // The values themselves, nearest first.
    const struct {
        const char* path;
        const char* dump;
    } kCases[] = {
        {"Group", "Lit=0;Blend=multiply;AlphaUse{0=texture;1=factor;}MinFilter=point;Usage=static;"},
        {"Group/Inner/Deep", "ZWrite=0;AlphaUse{0=diffuse;}blend=additive;Lit=0;MinFilter=point;Usage=static;"},
        {"Group/Bare", ""},  // no "Props": inherits nothing
        {"Group/Bare/UnderBare", "Face=XYZ;Lit=0;Blend=multiply;AlphaUse{0=texture;1=factor;}MinFilter=point;Usage=static;"},
        {"Top", "MinFilter=point;Usage=static;Lit=1;"},
    };
    for (const auto& c : kCases) {
        SceneNode* node = &scene.GetRoot();
        std::string path = c.path;
        for (size_t at = 0; node != nullptr && at <= path.size();) {
            const size_t end = std::min(path.find('/', at), path.size());
            node = node->FindChild(String(path.substr(at, end - at).c_str()));
            at = end + 1;
        }
        ASSERT_NE(node, nullptr) << c.path;
        EXPECT_EQ(Dump(node->properties()), c.dump) << c.path;
    }
}

// Marks every directory entry named `name` of type "Dummy" as a plain entry instead of a link:
// the reader then gives the shared block the listing compound as its parent, so that parent
// links run in a circle, as a forged file can make them.
void UnlinkEntries(zwf::Bytes& bytes, const std::string& name) {
    std::string pattern;
    const auto addText = [&pattern](const std::string& text) {
        const uint32_t n = uint32_t(text.size());
        for (int i = 0; i < 4; ++i) pattern += char((n >> (8 * i)) & 0xFF);
        pattern += text;
    };
    addText(name);
    addText("Dummy");
    const std::string all(bytes.begin(), bytes.end());
    for (size_t at = all.find(pattern); at != std::string::npos; at = all.find(pattern, at + 1)) {
        uint8_t& flags = bytes[at + pattern.size()];
        flags = uint8_t(flags & ~zwf_format::kEntryLink);
    }
}

// Two groups without "Props" that each list both as children and a leaf node with "Props", all
// their parent links made circular: the walk meets them again and again down to the node bound.
// A node that climbed its parent links for enclosing compounds would go round the circle to the
// climb's bound, for each of 20,000 nodes (the leaf searching each step for a "Props", the
// groups for a compound of that name). Walking down, inheritance costs one entry per leaf.
TEST(SceneLoaderTest, CircularParentLinksDoNotMakeInheritanceClimb) {
    Node leaf = Group("P", "Dummy", {zwf::Props({{"Lit", "0"}})});
    Node left = Group("L", "Dummy", {});
    Node right = Group("M", "Dummy", {});
    left.AddChild(Children({Node::Link(left), Node::Link(right), Node::Link(leaf)}));
    right.AddChild(Children({Node::Link(left), Node::Link(right), Node::Link(leaf)}));
    Node root = Node::Compound("");
    root.AddChild(Children({left, right, leaf}));
    SceneFile file({});
    file.bytes = zwf::Write(root);
    for (const char* name : {"L", "M", "P"}) UnlinkEntries(file.bytes, name);

    Scene scene;
    ASSERT_TRUE(Load(scene, file));
    int leaves = 0, groups = 0;
    std::vector<SceneNode*> pending{&scene.GetRoot()};
    while (!pending.empty()) {
        SceneNode* node = pending.back();
        pending.pop_back();
        for (int32_t i = 0; i < node->childCount(); ++i) pending.push_back(node->child(i));
        if (node == &scene.GetRoot()) continue;
        if (StringEqualsText(node->GetName(), "P")) {
            ++leaves;
            EXPECT_EQ(Dump(node->properties()), "Lit=0;");
        } else {
            ++groups;
            EXPECT_EQ(node->properties().count(), 0) << "no \"Props\", nothing inherited";
        }
    }
    EXPECT_EQ(leaves + groups, kMaxSceneNodesPerFile - 1) << "the walk reached the node bound";
    EXPECT_GT(leaves, 1000);
    EXPECT_EQ(scene.propertyEntriesRead(), leaves);
}

TEST(SceneLoaderTest, FilesThatDoNotOpenOrReadFail) {
    Scene scene;
    EXPECT_FALSE(scene.ReadSceneFile(FileRef("/nonexistent/city.zwf"), nullptr));
    const char junk[] = "not a data file at all";
    EXPECT_FALSE(scene.ReadSceneFile(FileRef::Memory(junk, sizeof junk), nullptr));
}

}  // namespace
