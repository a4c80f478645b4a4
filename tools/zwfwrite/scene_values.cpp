#include "tools/zwfwrite/scene_values.h"

#include <cstring>

namespace rh::zwf {

Bytes PackColor(float a, float r, float g, float b) { return Packer().Real(a).Real(r).Real(g).Real(b).Take(); }

Bytes PackMatrix(const Matrix16& m) {
    Packer p;
    for (float v : m) p.Real(v);
    p.Int(m == kIdentity16 ? 7 : 0);
    return p.Take();
}

Bytes PackBox(float cx, float cy, float cz, float sx, float sy, float sz) {
    return Packer().Real(cx).Real(cy).Real(cz).Real(sx).Real(sy).Real(sz).Take();
}

Matrix16 Translation(float x, float y, float z) {
    Matrix16 m = kIdentity16;
    m[12] = x;
    m[13] = y;
    m[14] = z;
    return m;
}

Bytes PackDecl(const std::vector<DeclElement>& elements) {
    Bytes out;
    auto put = [&out](const DeclElement& e) {
        const uint8_t bytes[8] = {uint8_t(e.stream & 0xFF), uint8_t(e.stream >> 8), uint8_t(e.offset & 0xFF),
                                  uint8_t(e.offset >> 8), e.type, e.method, e.usage, e.usageIndex};
        out.insert(out.end(), bytes, bytes + 8);
    };
    for (const DeclElement& e : elements) put(e);
    put(DeclElement{0xFF, 0, 17, 0, 0, 0});
    return out;
}

std::vector<DeclElement> SimpleLayout() {
    // Types: FLOAT2 1, FLOAT3 2. Usages: POSITION 0, NORMAL 3, TEXCOORD 5.
    return {{0, 0, 2, 0, 0, 0}, {0, 12, 2, 0, 3, 0}, {0, 24, 1, 0, 5, 0}};
}

std::vector<DeclElement> LitMapLayout() {
    std::vector<DeclElement> layout = SimpleLayout();
    layout.push_back({0, 32, 1, 0, 5, 1});
    return layout;
}

Node Props(const std::vector<std::pair<std::string, std::string>>& values) {
    Node props = Node::Compound("Props");
    for (const auto& [key, value] : values) props.AddChild(Node::Text(key, value));
    return props;
}

Node MeshNode(const std::string& name, const MeshBlocks& blocks, const Node& props, const Matrix16& nodeTM,
              const Matrix16& objectTM) {
    Node mesh = Node::Compound(name, "Mesh");
    mesh.AddChild(props);
    mesh.AddChild(Node::Bytes("NodeTM", PackMatrix(nodeTM)));
    mesh.AddChild(Node::Bytes("ObjectTM", PackMatrix(objectTM)));
    if (!blocks.materialName.empty()) mesh.AddChild(Node::Text("MaterialName", blocks.materialName));
    int32_t stride = 0;
    for (const DeclElement& e : blocks.decl) {
        const int32_t size = e.type == 1 ? 8 : e.type == 2 ? 12 : e.type == 3 ? 16 : 4;
        if (e.offset + size > stride) stride = e.offset + size;
    }
    const int32_t count = stride > 0 ? int32_t(blocks.vertices.size() * 4 / stride) : 0;
    mesh.AddChild(Node::Int("IndexSize", blocks.indexSize));
    mesh.AddChild(Node::Int("NumVerts", count));
    mesh.AddChild(Node::Int("NumIndexes", int32_t(blocks.indices.size())));
    Packer verts;
    for (float v : blocks.vertices) verts.Real(v);
    mesh.AddChild(Node::Bytes("Verts", verts.Take()));
    Bytes indices;
    for (uint32_t i : blocks.indices) {
        for (int32_t b = 0; b < blocks.indexSize; ++b) indices.push_back(uint8_t(i >> (8 * b)));
    }
    mesh.AddChild(Node::Bytes("Indexes", std::move(indices)));
    mesh.AddChild(Node::Bytes("DECL", PackDecl(blocks.decl)));
    return mesh;
}

}  // namespace rh::zwf
