#include "tools/villagebuild/scene_files.h"

#include "tools/texturemake/foliage.h"
#include "tools/texturemake/sky.h"
#include "tools/zwfwrite/scene_values.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>

namespace rh::villagebuild {

namespace {

namespace zwf = rh::zwf;
using zwf::Node;

constexpr float kPi = 3.14159265f;

std::string Numbered(const char* stem, int n) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s%02d", stem, n);
    return buffer;
}

// The colour texture of each surface material.
const std::map<std::string, std::string>& TextureOf() {
    static const std::map<std::string, std::string> map = {
        {"Plaster", "plaster.jpg"},     {"PlasterOchre", "plaster_ochre.jpg"}, {"PlasterRose", "plaster_rose.jpg"},
        {"Timber", "timber.jpg"},       {"TimberDark", "timber_dark.jpg"},     {"FenceWood", "fencewood.jpg"},
        {"Snow", "snow.jpg"},           {"Needles", "needles.jpg"},
        {"Stone", "stone.jpg"},         {"Iron", "iron.jpg"},                  {"Cobbles", "cobbles.jpg"},
        {"Foliage", "bush.png"}};
    return map;
}

// The height map of each bumped material's colour texture, and how strongly it bumps.
const std::map<std::string, std::string>& HeightOf() {
    static const std::map<std::string, std::string> map = {{"Cobbles", "cobbles_height.jpg"},
                                                           {"Stone", "stone_height.jpg"}};
    return map;
}
constexpr float kBumpAmount = 0.3f;

Node Map(const std::string& kind, const std::string& file) {
    Node map = Node::Compound("Map", kind);
    map.AddChild(Node::Text("FileName", file));
    return map;
}

// A material of two sub-materials: the colour texture, then the part's light map.
Node PartMaterial(const MeshPart& part) {
    Node base = Node::Compound(part.material);
    base.AddChild(Node::Int("MaterialSubId", 0));
    base.AddChild(Node::Bytes("Diffuse", zwf::PackColor(1, 1, 1, 1)));
    // Leaves are cards seen from both sides.
    if (part.material == "Foliage") base.AddChild(Node::Bytes("TwoSided", {1}));
    Node baseMaps = Node::Compound("Textures");
    baseMaps.AddChild(Map("Diffuse", TextureFileOf(part.material)));
    if (IsBumped(part.material)) {
        // Its own name: a reader keeps one child of each name.
        Node bump = Node::Compound("BumpMap", "Bump");
        bump.AddChild(Node::Text("FileName", HeightOf().at(part.material)));
        bump.AddChild(Node::Real("Amount", kBumpAmount));
        baseMaps.AddChild(bump);
    }
    base.AddChild(baseMaps);
    Node light = Node::Compound("LightMap");
    light.AddChild(Node::Int("MaterialSubId", 1));
    Node lightMaps = Node::Compound("Textures");
    lightMaps.AddChild(Map("Diffuse", part.name + ".jpg"));
    light.AddChild(lightMaps);
    Node subs = Node::Compound("Materials");
    subs.AddChild(base);
    subs.AddChild(light);
    Node material = Node::Compound(part.name);
    material.AddChild(subs);
    return material;
}

// The layout of bumped parts (72 bytes): the lit-map layout, then TEXCOORD2 FLOAT2 @40 (the
// height map's coordinates, the colour texture's), TANGENT FLOAT3 @48 and BINORMAL FLOAT3 @60.
std::vector<zwf::DeclElement> BumpLayout() {
    constexpr uint8_t kFloat2 = 1, kFloat3 = 2, kTexCoord = 5, kTangent = 6, kBinormal = 7;
    std::vector<zwf::DeclElement> layout = zwf::LitMapLayout();
    layout.push_back({0, 40, kFloat2, 0, kTexCoord, 2});
    layout.push_back({0, 48, kFloat3, 0, kTangent, 0});
    layout.push_back({0, 60, kFloat3, 0, kBinormal, 0});
    return layout;
}

zwf::MeshBlocks PartBlocks(const MeshPart& part) {
    zwf::MeshBlocks b;
    b.materialName = part.name;
    const bool bumped = IsBumped(part.material);
    b.decl = bumped ? BumpLayout() : zwf::LitMapLayout();
    for (size_t i = 0; i < part.vertices.size(); ++i) {
        const Vertex& v = part.vertices[i];
        b.vertices.insert(b.vertices.end(), {v.position.x, v.position.y, v.position.z, v.normal.x, v.normal.y, v.normal.z,
                                             v.uv[0], v.uv[1], v.lightUv[0], v.lightUv[1]});
        if (bumped) {
            const Vec3f t = part.tangents[i], n = part.binormals[i];
            b.vertices.insert(b.vertices.end(), {v.uv[0], v.uv[1], t.x, t.y, t.z, n.x, n.y, n.z});
        }
    }
    b.indices = part.indices;
    b.indexSize = part.vertices.size() > 65535 ? 4 : 2;
    return b;
}

// A quad in the local XY plane, facing -z, UVs 0..1 (inset by `inset`), 32-byte vertices.
zwf::MeshBlocks Quad(const std::string& material, float halfW, float halfH, float inset = 0.0f) {
    zwf::MeshBlocks b;
    b.materialName = material;
    b.decl = zwf::SimpleLayout();
    const float lo = inset, hi = 1.0f - inset;
    b.vertices = {-halfW, -halfH, 0, 0, 0, -1, lo, hi, -halfW, halfH, 0, 0, 0, -1, lo, lo,
                  halfW,  halfH,  0, 0, 0, -1, hi, lo, halfW,  -halfH, 0, 0, 0, -1, hi, hi};
    b.indices = {0, 1, 2, 0, 2, 3};
    return b;
}

Node SimpleMaterial(const std::string& name, const std::string& file, bool twoSided) {
    Node material = Node::Compound(name);
    material.AddChild(Node::Bytes("Diffuse", zwf::PackColor(1, 1, 1, 1)));
    if (twoSided) material.AddChild(Node::Bytes("TwoSided", {1}));
    Node maps = Node::Compound("Textures");
    maps.AddChild(Map("Diffuse", file));
    material.AddChild(maps);
    return material;
}

Node Group(const std::string& name, const Node& props) {
    Node g = Node::Compound(name, "Dummy");
    g.AddChild(props);
    g.AddChild(Node::Bytes("NodeTM", zwf::PackMatrix(zwf::kIdentity16)));
    g.AddChild(Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16)));
    return g;
}

zwf::Bytes Key(float time, float x, float y, float z, float w) { return zwf::PackTrackKey(time, x, y, z, w); }

// The inn sign: a board hanging from a two-bone chain whose second bone sways.
void InnSign(Node& children, Node& materials) {
    const float x = 300.0f - 56.0f, z = 60.0f;  // beside lane x = 300, on the lane's edge
    materials.AddChild(SimpleMaterial("InnSign", "timber.jpg", true));
    Node bone1 = Node::Compound("SignBone01", "Bone");
    bone1.AddChild(zwf::Props({}));
    bone1.AddChild(Node::Bytes("NodeTM", zwf::PackMatrix(zwf::Translation(x, 40, z))));
    bone1.AddChild(Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16)));
    Node bone2 = Node::Compound("SignBone02", "Bone");
    bone2.AddChild(zwf::Props({}));
    bone2.AddChild(Node::Bytes("NodeTM", zwf::PackMatrix(zwf::Translation(0, -2, 0))));
    bone2.AddChild(Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16)));
    Node animation = Node::Compound("Animation");
    Node rotation = Node::Compound("Rotation", "Rotation");
    const float swing = 0.12f;
    const float times[] = {0, 10, 20, 30, 40};
    const float angles[] = {0, swing, 0, -swing, 0};
    for (int i = 0; i < 5; ++i) {
        const float h = angles[i] / 2;
        rotation.AddChild(Node::Leaf("k" + std::to_string(i), "Key", Key(times[i], 0, 0, std::sin(h), std::cos(h))));
    }
    animation.AddChild(rotation);
    bone2.AddChild(animation);
    Node bone2Children = Node::Compound("Children");
    bone2Children.AddChild(bone2);
    bone1.AddChild(bone2Children);
    children.AddChild(bone1);

    // The board hangs below the second bone: rows of vertices, the top row on the first bone,
    // the middle on both, the rest on the second.
    zwf::MeshBlocks b = Quad("InnSign", 8, 5);
    for (size_t i = 0; i < b.vertices.size(); i += 8) {
        b.vertices[i + 0] += x;
        b.vertices[i + 1] += 40 - 2 - 6;
        b.vertices[i + 2] += z;
    }
    Node sign = zwf::MeshNode("InnSign", b, zwf::Props({{"Lit", "0"}}));
    Node names = Node::Compound("BoneNames");
    names.AddChild(Node::Text("0", "SignBone01"));
    names.AddChild(Node::Text("1", "SignBone02"));
    sign.AddChild(names);
    // Vertices 1 and 2 are the top (y + 5): on bone 1 half and bone 2 half; 0 and 3 on bone 2.
    sign.AddChild(Node::Ints("VertBoneOffs", {0, 1, 3, 5}));
    sign.AddChild(Node::Ints("VertBoneNums", {1, 2, 2, 1}));
    zwf::Packer w;
    w.Int(1).Real(1).Int(0).Real(0.5f).Int(1).Real(0.5f).Int(0).Real(0.5f).Int(1).Real(0.5f).Int(1).Real(1);
    sign.AddChild(Node::Bytes("BoneWeights", w.Take()));
    children.AddChild(sign);
}

Node LightNode(const std::string& name, const std::string& type, const zwf::Matrix16& m, float r, float g, float b,
               float range) {
    Node light = Node::Compound(name, type);
    light.AddChild(Node::Bytes("NodeTM", zwf::PackMatrix(m)));
    light.AddChild(Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16)));
    light.AddChild(Node::Bytes("Diffuse", zwf::PackColor(1, r, g, b)));
    if (range > 0) {
        light.AddChild(Node::Real("AttStart", 60.0f));
        light.AddChild(Node::Real("AttEnd", range));
    }
    return light;
}

const char* const kFaces[6] = {"skyfront", "skyback", "skyleft", "skyright", "skyup", "skydown"};

}  // namespace

std::string TextureFileOf(const std::string& material) { return TextureOf().at(material); }

Node CityScene(const std::vector<MeshPart>& parts, const std::vector<Vec3f>& lamps) {
    Node root = Node::Compound("");
    root.AddChild(Node::Bytes("AmbColor", zwf::PackColor(1, 0.25f, 0.27f, 0.35f)));
    Node materials = Node::Compound("Materials");
    for (const MeshPart& part : parts) materials.AddChild(PartMaterial(part));
    materials.AddChild(SimpleMaterial("LampGlow", "lampglow.png", true));
    materials.AddChild(SimpleMaterial("MoonGlow", "moon.png", true));

    // The village's meshes in groups by kind; the groups carry the shared properties.
    Node children = Node::Compound("Children");
    std::map<std::string, std::vector<const MeshPart*>> groups;
    for (const MeshPart& part : parts) {
        const std::string kind = part.name.rfind("House", 0) == 0    ? "Houses"
                                 : part.name.rfind("Church", 0) == 0 ? "Church"
                                 : part.name.rfind("Fir", 0) == 0    ? "Firs"
                                 : part.name.rfind("Fence", 0) == 0  ? "Fences"
                                 : part.name.rfind("Post", 0) == 0   ? "Posts"
                                 : part.name.rfind("Bush", 0) == 0   ? "Bushes"
                                 : part.name.rfind("~", 0) == 0      ? "Yards"
                                                                     : "Grounds";
        groups[kind].push_back(&part);
    }
    for (const auto& [kind, members] : groups) {
        std::vector<std::pair<std::string, std::string>> shared = {{"Lit", "0"}, {"Usage", "static"}};
        // Leaves are cut out of their pictures' alpha.
        if (kind == "Bushes") shared.emplace_back("AlphaTest", "128");
        Node group = Group(kind, zwf::Props(shared));
        Node groupChildren = Node::Compound("Children");
        for (const MeshPart* part : members) groupChildren.AddChild(zwf::MeshNode(part->name, PartBlocks(*part), zwf::Props({})));
        group.AddChild(groupChildren);
        children.AddChild(group);
    }

    // Lamp glows: one quad per lamp, blinking kinds A, B and steady.
    const char* const kinds[3] = {"LampA", "LampB", "LampC"};
    int n = 0;
    for (const Vec3f& lamp : lamps) {
        const std::string name = Numbered(kinds[n % 3], n + 1);
        ++n;
        children.AddChild(zwf::MeshNode(name, Quad("LampGlow", 6, 6),
                                        zwf::Props({{"Lit", "0"}, {"ZWrite", "0"}, {"Blend", "additive"}, {"Face", "XYZ"}}),
                                        zwf::Translation(lamp.x, lamp.y, lamp.z)));
    }
    // The moon's glow, far to the south-west, high.
    children.AddChild(zwf::MeshNode("MoonPlane", Quad("MoonGlow", 120, 120),
                                    zwf::Props({{"AlphaOrder", "1"}, {"Face", "XYZ"}, {"Lit", "0"}, {"ZWrite", "0"}, {"Blend", "additive"}}),
                                    zwf::Translation(-1200, 900, 1600)));
    // The snow generator, tuned for normal snow (drawn as quads): flakes about a tenth of a
    // unit across, so that near ones read as flakes and far ones as a fine veil; falling at
    // roughly 2 to 4 units a second at first and gathering speed; a slow drift to the
    // south-west, as if a light wind blew. Spawned within 300 units, living 18 s.
    Node snowProps = zwf::Props({{"NodeType", "ParticleEmitter"}, {"Texture", "snowflake.png"}, {"Lit", "0"},
                                 {"ZWrite", "0"}, {"MaxParticles", "8000"}, {"IterationAccuracy", "1"},
                                 {"GenPeriod", "2"}, {"ParticleSize", "0.9"}, {"ParticleLife", "18000"},
                                 {"SpawnType", "1"}});
    const std::vector<std::pair<std::string, std::vector<std::string>>> snowLists = {
        {"EmitDir", {"0", "-1", "0"}},           {"DirDeviation", {"0", "10", "1.2", "5"}},
        {"Acceleration", {"-0.000015", "-0.00003", "-0.00001"}}, {"StartColor", {"0.3", "1", "1", "1"}},
        {"EndColor", {"1", "1", "1", "1"}},       {"SpawnArea", {"0", "1", "300", "300"}},
        {"StartSpeed", {"0.02", "10", "0.04", "5"}}};
    for (const auto& [key, items] : snowLists) {
        Node list = Node::Compound(key);
        for (size_t i = 0; i < items.size(); ++i) list.AddChild(Node::Text(std::to_string(i), items[i]));
        snowProps.AddChild(list);
    }
    Node snow = Group("SnowGenerator", snowProps);
    children.AddChild(snow);
    // One shape: the course of the main lane.
    Node shape = Group("MainLane", zwf::Props({}));
    shape = Node::Compound("MainLane", "Shape");
    shape.AddChild(zwf::Props({}));
    Node lines = Node::Compound("Lines");
    Node line = Node::Compound("0");
    line.AddChild(Node::Int("LineNumVerts", 2));
    line.AddChild(Node::Reals("Line", {-600, 0, 0, 600, 0, 0}));
    lines.AddChild(line);
    shape.AddChild(lines);
    children.AddChild(shape);
    InnSign(children, materials);

    Node cameras = Node::Compound("Cameras");
    Node camera = Group("Camera01", zwf::Props({}));
    camera = Node::Compound("Camera01", "Camera");
    camera.AddChild(zwf::Props({}));
    camera.AddChild(Node::Bytes("NodeTM", zwf::PackMatrix(zwf::Translation(-600, 17, 0))));
    camera.AddChild(Node::Bytes("ObjectTM", zwf::PackMatrix(zwf::kIdentity16)));
    cameras.AddChild(camera);

    Node lightList = Node::Compound("Lights");
    // The moon shines down from the south-west: its -y axis points that way.
    const float c = std::cos(0.6f), s = std::sin(0.6f);
    const zwf::Matrix16 moon = {1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1};
    lightList.AddChild(LightNode("Moon", "DirLight", moon, 0.45f, 0.5f, 0.7f, 0));
    n = 0;
    for (const Vec3f& lamp : lamps) {
        lightList.AddChild(LightNode(Numbered("LampLight", ++n), "PointLight", zwf::Translation(lamp.x, lamp.y, lamp.z),
                                     1.0f, 0.75f, 0.45f, 250.0f));
    }

    root.AddChild(materials);
    root.AddChild(cameras);
    root.AddChild(lightList);
    root.AddChild(children);
    return root;
}

Node SkyBoxScene() {
    constexpr float kHalf = 400.0f;
    constexpr float kInset = texturemake::kSkyInset;
    Node root = Node::Compound("");
    Node materials = Node::Compound("Materials");
    Node children = Node::Compound("Children");
    // Each face: a quad turned to face the centre, moved out to the cube's side. Rows are the
    // local x, y and z axes (z towards the viewer at the centre... pointing outward).
    const zwf::Matrix16 frames[6] = {
        {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, kHalf, 1},     // front (+z), faces -z
        {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, -kHalf, 1},  // back (-z)
        {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, -kHalf, 0, 0, 1},   // left (-x)
        {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, kHalf, 0, 0, 1},    // right (+x)
        {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, kHalf, 0, 1},    // up (+y)
        {1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, -kHalf, 0, 1},   // down (-y)
    };
    for (int i = 0; i < 6; ++i) {
        const std::string face = kFaces[i];
        materials.AddChild(SimpleMaterial(face, face + ".jpg", false));
        children.AddChild(zwf::MeshNode(face, Quad(face, kHalf, kHalf, kInset),
                                        zwf::Props({{"zWrite", "0"}, {"Lit", "0"}, {"NoCull", "1"}}), frames[i]));
    }
    root.AddChild(materials);
    root.AddChild(children);
    return root;
}

std::vector<std::pair<std::string, std::string>> SkyBoxDescriptions() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const char* face : kFaces) {
        out.emplace_back(std::string("Media/skybox/") + face + ".ts",
                         std::string("FileName = \"") + face + ".jpg\";\nLevels = 1;\n");
    }
    return out;
}

std::vector<std::pair<std::string, texturemake::Picture>> ExtraSprites() {
    return {{"Media/Txt/bush.png", texturemake::BushPicture()}};
}

}  // namespace rh::villagebuild
