#include "scene/scene.h"

#include "core/containers/dyn_array.h"
#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/debug/debug_trace.h"
#include "core/files/mem_stream.h"
#include "core/files/stream.h"
#include "core/math/vec3.h"
#include "core/object/property_node.h"
#include "core/text/paths.h"
#include "core/types/byte_buffer.h"
#include "render/effect_manager.h"
#include "render/geometry.h"
#include "render/mesh.h"
#include "render/mesh_data.h"
#include "render/texture.h"
#include "render/texture_registry.h"
#include "scene/property_lookup.h"
#include "scene/skin_info.h"
#include "scene/skinned_mesh_node.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <d3dx9math.h>
#include <memory>
#include <rimeholt/file_lookups.h>

namespace {

constexpr int32_t kMatrixBytes = 68;
constexpr int32_t kColorBytes = 16;
constexpr int32_t kBoxBytes = 24;
constexpr int32_t kKeyBytes = 32;
constexpr int32_t kMaxDeclElements = 32;
constexpr BYTE kDeclTypeUnused = 17;  // D3DDECLTYPE_UNUSED, the end marker's type
constexpr BYTE kDeclTypeLast = 16;    // D3DDECLTYPE_FLOAT16_4

String Str(const char* text) { return String(text); }

// A leaf child of `node` with at least `size` bytes in memory, or null.
DataNode* Leaf(const DataNode* node, const char* name, int32_t size) {
    DataNode* child = node->FindChild(Str(name));
    if (child == nullptr || (child->GetFlags() & kDataNodeCompound) != 0) return nullptr;
    if (child->GetSize() < size || child->GetData() == nullptr) return nullptr;
    return child;
}

DataNode* Compound(const DataNode* node, const char* name) {
    DataNode* child = node->FindChild(Str(name));
    if (child == nullptr || (child->GetFlags() & kDataNodeCompound) == 0) return nullptr;
    return child;
}

bool ReadInt(const DataNode* node, const char* name, int32_t& out) {
    const DataNode* leaf = Leaf(node, name, 4);
    return leaf != nullptr && node->CopyChildData(Str(name), &out, 4);
}

bool ReadFloat(const DataNode* node, const char* name, float& out) {
    const DataNode* leaf = Leaf(node, name, 4);
    return leaf != nullptr && node->CopyChildData(Str(name), &out, 4);
}

bool ReadColor(const DataNode* node, const char* name, ArgbColor& out) {
    float v[4];
    if (Leaf(node, name, kColorBytes) == nullptr || !node->CopyChildData(Str(name), v, kColorBytes)) return false;
    out = ArgbColor(v[0], v[1], v[2], v[3]);
    return true;
}

// A 68-byte matrix: 16 floats and the kind. Non-finite elements make it absent; the kind keeps
// only what the elements bear out. The valid flag stays clear.
bool ReadMatrix(const DataNode* node, const char* name, TypedMatrix& out) {
    unsigned char bytes[kMatrixBytes];
    if (Leaf(node, name, kMatrixBytes) == nullptr || !node->CopyChildData(Str(name), bytes, kMatrixBytes)) {
        return false;
    }
    TypedMatrix m;
    std::memcpy(m.m, bytes, 64);
    for (float f : m.m) {
        if (!std::isfinite(f)) return false;
    }
    int32_t kind = 0;
    std::memcpy(&kind, bytes + 64, 4);
    m.kind = VerifiedMatrixKind(m, kind);
    m.valid = 0;
    out = m;
    return true;
}

bool ReadText(const DataNode* node, const char* name, String& out) {
    const DataNode* leaf = Leaf(node, name, 0);
    if (leaf == nullptr) return false;
    out = leaf->DataAsString();
    return true;
}

// Every child of a compound, in file order.
template <typename Visit>
void ForEachChild(const DataNode* node, Visit visit) {
    if (node == nullptr) return;
    const DataNodeMap& children = node->Children();
    const DataNodeMap::Node* entry = children.first();
    for (int32_t i = 0; i < children.count(); ++i, entry = entry->next) {
        if (!visit(entry->value)) return;
    }
}

bool HasWord(const PropertyWordSet& words, const char* word) {
    bool unused = false;
    return words.Find(Str(word), unused) != nullptr;
}

bool IsOne(const String& text) { return StringEqualsText(text, "1"); }

// The properties a scene node reads were copied into its property tree with inheritance when
// it was made (own and nearer values first), so they are looked up there: climbing the file's
// nesting for each of the twenty-odd properties of every node would cost the depth each time.
bool PropertyText(SceneNode* node, const char* name, String& out) {
    return node->properties().GetString(Str(name), out);
}

// A list's words (the texts of its children) or a single text's, each once (without regard to
// case). False when the property is absent.
bool PropertyWords(SceneNode* node, const char* name, PropertyWordSet& words) {
    const PropertyNode* list = node->properties().Child(Str(name));
    if (list == nullptr) return false;
    auto add = [&words](const String& word) {
        bool unused = false;
        if (words.Find(word, unused) == nullptr) words.Insert(word, true, 1);
    };
    String text;
    if (list->count() == 0) {
        if (node->properties().GetString(Str(name), text)) add(text);
    } else {
        const PropertyNode::Node* entry = list->first();
        for (int32_t i = 0; i < list->count(); ++i, entry = entry->next) {
            if (list->GetString(entry->key, text)) add(text);
        }
    }
    words.SetCursor(words.first());
    return true;
}

// The word table value for a filter or addressing word (without regard to case); 0 when not in
// the table.
int32_t WordValue(const String& text, const char* const* words, const int32_t* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (CompareStringsNoCase(text, Str(words[i])) == 0) return values[i];
    }
    return 0;
}

int32_t FilterValue(const String& text) {
    static const char* const kWords[] = {"none", "point", "linear", "anisotropic", "pyrquad", "guasquad"};
    static const int32_t kValues[] = {0, 1, 2, 3, 6, 7};
    return WordValue(text, kWords, kValues, 6);
}

int32_t AddressValue(const String& text) {
    static const char* const kWords[] = {"wrap", "mirror", "border"};
    static const int32_t kValues[] = {1, 2, 4};
    return WordValue(text, kWords, kValues, 3);
}

// A map's own "TexAddrU/V": "Mirror" 2, "Wrap" 1, any other text 4 (border), absent 1.
int32_t MapAddress(const DataNode* map, const char* key) {
    String text;
    if (!ReadText(map, key, text)) return D3DTADDRESS_WRAP;
    if (StringEqualsText(text, "Mirror")) return D3DTADDRESS_MIRROR;
    if (StringEqualsText(text, "Wrap")) return D3DTADDRESS_WRAP;
    return D3DTADDRESS_BORDER;
}

// Checks a "DECL" block: D3DVERTEXELEMENT9 records ending with the marker within 32 elements,
// all in stream 0 and of valid types. Copies the records with the marker into `out`.
bool ValidDeclaration(const DataNode* decl, D3DVERTEXELEMENT9* out) {
    const int32_t records = decl->GetSize() / 8;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(decl->GetData());
    for (int32_t i = 0; i < records && i < kMaxDeclElements; ++i) {
        D3DVERTEXELEMENT9 e;
        std::memcpy(&e, bytes + 8 * i, 8);
        out[i] = e;
        if (e.Stream == 0xFF) return e.Type == kDeclTypeUnused && i > 0;
        if (e.Stream != 0 || e.Type > kDeclTypeLast) return false;
    }
    return false;
}

void Trace(const char* what, const String& name) {
    DebugTrace(ConcatStrings(ConcatTextString(what, name), Str("\n")));
}

}  // namespace

Scene::Scene() {
    defaultMaterial_.sub(0).lit = true;
    root_.SetName(Str("Root"));
    bonesRoot_.SetName(Str("Bones"));
    camerasRoot_.SetName(Str("Cameras"));
}

Scene::~Scene() {
    skinnedMeshes_.clear();
    materials_.Destroy();
}

String Scene::NormalMapCacheName(const String& fileName, float amount) {
    const double tenths = std::isfinite(amount) ? std::trunc(static_cast<double>(amount) * 10.0) : 0.0;
    const int32_t n = tenths > 1e9 ? 1000000000 : tenths < -1e9 ? -1000000000 : static_cast<int32_t>(tenths);
    char number[16];
    std::snprintf(number, sizeof number, "%d", n);
    return ConcatStringText(ConcatStringText(ConcatStringText(ExtractBaseName(fileName), ".nhm"), number), ".dds");
}

bool Scene::ReadSceneFile(FileRef locator, const SceneLoadOptions* options) {
    if (options != nullptr) options_ = *options;
    // Every picture the file names is looked for under several names in several folders: one
    // batch for the whole load reads each folder's state once rather than once per picture.
    rh::FileLookupBatch lookups;
    Stream* stream = locator.OpenFile(1);
    if (stream == nullptr) return false;
    searchPaths_.Add(locator.Location());
    nodeBudget_ = kMaxSceneNodesPerFile;
    propertyVisitsLeft_ = kMaxPropertyVisitsPerFile;
    // A file on disk is read whole and parsed from memory: the reader jumps to every entry's
    // block, and each jump on the disk stream is a call into the system.
    ByteBuffer whole;
    MemStream memory;
    Stream* source = stream;
    if (locator.flags == FileRef::kDisk && locator.ReadWholeFile(whole) && whole.Size() > 0) {
        memory.Open(String(), 1);
        memory.ShowData(whole.Data(), whole.Size(), true);
        source = &memory;
    }
    bool ok = false;
    {
        BinaryDataReader reader;
        DataNode* root = reader.OpenStream(source);
        if (root != nullptr && root->Load(0, 0)) {
            ok = true;
            ArgbColor ambient;
            if (ReadColor(root, "AmbColor", ambient)) lights_.ambient = ambient;
            if (DataNode* materials = Compound(root, "Materials")) LoadMaterials(materials);
            const PropsChain rootProps{FindPropsCompound(root), nullptr};
            const PropsChain* top = rootProps.props != nullptr ? &rootProps : nullptr;
            LoadChildren(Compound(root, "Cameras"), &camerasRoot_, 0, top);
            if (DataNode* lights = Compound(root, "Lights")) LoadLights(lights);
            LoadChildren(Compound(root, "Children"), &root_, 0, top);

            // Skeletons move under the bones root.
            std::vector<SceneNode*> bones;
            for (int32_t i = 0; i < root_.childCount(); ++i) {
                if (IsBoneSubtree(*root_.child(i))) bones.push_back(root_.child(i));
            }
            for (SceneNode* bone : bones) {
                root_.RemoveChild(bone->GetName());
                bone->SetParent(nullptr);
                bonesRoot_.AddChild(bone);
            }
            ComputeBoneOffsets(bonesRoot_, IdentityMatrix(), 0);

            for (SkinnedMeshNode* mesh : skinnedMeshes_) {
                if (!mesh->BindBones(&bonesRoot_)) {
                    DebugTrace(Str("Scene: a skinned mesh names a bone the scene does not have\n"));
                    ok = false;
                    break;
                }
            }
        }
        reader.CloseDataFile();
    }
    stream->Close();
    delete stream;
    return ok;
}

void Scene::LoadMaterials(DataNode* materials) {
    ForEachChild(materials, [&](DataNode* node) {
        if (materials_.Contains(node->GetName(), nullptr)) return true;
        MultiMaterial material(defaultMaterial_);
        DataNode* subs = Compound(node, "Materials");
        if (subs != nullptr && subs->Children().count() > 0) {
            material.SetCount(subs->Children().count() > kMaxSubMaterials ? kMaxSubMaterials
                                                                           : subs->Children().count());
            ForEachChild(subs, [&](DataNode* subNode) {
                int32_t index = 0;
                ReadInt(subNode, "MaterialSubId", index);
                if (index < 0 || index >= kMaxSubMaterials) {
                    Trace("Scene: sub-material outside 0-7 skipped: ", subNode->GetName());
                    return true;
                }
                if (index >= material.count()) material.SetCount(index + 1);
                LoadSubMaterial(subNode, material.sub(index));
                return true;
            });
        } else {
            material.SetCount(1);
            LoadSubMaterial(node, material.sub(0));
        }
        material.SelectShaderKind();
        material.BuildStageCombination();
        materials_.Add(node->GetName(), material);
        return true;
    });
}

Texture* Scene::LoadMapTexture(const String& fileName, bool cube, bool pool2) {
    TextureRequest request;
    request.locator = FileRef(fileName);
    request.locator.flags = FileRef::kDisk | FileRef::kArchive;
    request.cube = cube;
    if ((options_.flags & kSceneOtherExtensions) != 0) request.flags |= kRequestOtherExtensions;
    if (pool2) {
        request.flags |= kRequestPool;
        request.pool = D3DPOOL_SYSTEMMEM;
    }
    return textures_.Keep(g_textureRegistry.Get(request, &searchPaths_));
}

void Scene::LoadBumpMap(const String& fileName, float amount, TextureMap& map) {
    const String cacheName = NormalMapCacheName(fileName, amount);
    const String extension = ExtractExtension(fileName);
    const bool description = CompareStringsNoCase(extension, Str("ts")) == 0;
    const String directory = ExtractDirectory(fileName);
    // Without a directory the cache file sits beside the height map under its bare name.
    const String cachePath =
        directory.length() > 0 ? ConcatStrings(ConcatStringText(directory, "/"), cacheName) : cacheName;
    if (!description) {
        TextureRequest cached;
        cached.locator = FileRef(cachePath);
        cached.locator.flags = FileRef::kDisk;
        if (Texture* texture = textures_.Keep(g_textureRegistry.Get(cached, &searchPaths_))) {
            map.texture = texture;
            return;
        }
    }
    Texture* texture = LoadMapTexture(fileName, false, true);
    if (texture == nullptr) {
        DebugTrace(ConcatTextString("Cannot load heightmap texture: ", fileName));
        return;
    }
    g_textureRegistry.Remove(texture);
    Texture* target = texture->PlaysAnimation() && texture->Parent() != nullptr ? texture->Parent() : texture;
    const float n = std::trunc(amount * 10.0f);
    target->ConvertToNormalMap(D3DFMT_A8R8G8B8, 0, 1, std::isfinite(n) ? n : 0.0f, true);
    if (!texture->PlaysAnimation()) {
        FileRef disk(cachePath);
        disk.flags = FileRef::kDisk;
        g_textureRegistry.Add(texture, disk);
    } else if (texture->Parent() == nullptr) {
        // Out of the registry for good: nobody else can find it to delete it.
        textures_.Adopt(texture);
    }
    if (!description && (options_.flags & kSceneSaveNormalMaps) != 0) target->SaveToFile(cachePath);
    map.texture = texture;
}

void Scene::LoadSubMaterial(DataNode* node, SubMaterial& sub) {
    sub.name = node->GetName();
    MaterialColors colors;
    ArgbColor color;
    if (ReadColor(node, "Ambient", color)) colors.SetAmbient(color);
    if (ReadColor(node, "Diffuse", color)) colors.SetDiffuse(color);
    if (ReadColor(node, "Specular", color)) colors.SetSpecular(color);
    if (ReadColor(node, "Emissive", color)) colors.SetEmissive(color);
    sub.cullMode = node->FindChild(Str("TwoSided")) != nullptr ? D3DCULL_NONE : D3DCULL_CCW;
    float opacity = 0.0f;
    if (ReadFloat(node, "Opacity", opacity)) sub.opacity = opacity;
    sub.colors = colors;

    const bool noReflectBump = (options_.flags & kSceneNoReflectBump) != 0;
    ForEachChild(Compound(node, "Textures"), [&](DataNode* mapNode) {
        String fileName;
        if (!ReadText(mapNode, "FileName", fileName)) return true;
        const String& kind = mapNode->GetTypeName();
        TextureMap map;
        map.addressU = MapAddress(mapNode, "TexAddrU");
        map.addressV = MapAddress(mapNode, "TexAddrV");
        float amount = 100.0f;
        ReadFloat(mapNode, "Amount", amount);
        map.amount = amount;
        int32_t slot = -1;
        if (StringEqualsText(kind, "Diffuse") || StringEqualsText(kind, "Specular")) {
            slot = StringEqualsText(kind, "Diffuse") ? kDiffuseMap : kSpecularMap;
            map.texture = LoadMapTexture(fileName, false, false);
            if (map.texture == nullptr) DebugTrace(ConcatTextString("Cannot load texture: ", fileName));
        } else if ((StringEqualsText(kind, "Reflect") && !noReflectBump) || StringEqualsText(kind, "Refract")) {
            slot = StringEqualsText(kind, "Reflect") ? kReflectMap : kRefractMap;
            map.texture = LoadMapTexture(fileName, true, false);
            if (map.texture == nullptr) map.texture = LoadMapTexture(fileName, false, false);
            if (map.texture == nullptr) DebugTrace(ConcatTextString("Cannot load texture: ", fileName));
        } else if (StringEqualsText(kind, "Bump") && !noReflectBump) {
            slot = kBumpMap;
            LoadBumpMap(fileName, amount, map);
        }
        if (slot >= 0) sub.maps[slot] = map;
        return true;
    });
}

bool Scene::LoadLights(DataNode* lights) {
    bool ok = true;
    ForEachChild(lights, [&](DataNode* node) {
        TypedMatrix nodeTM{{}, 0, 0};
        TypedMatrix objectTM{{}, 0, 0};
        ReadMatrix(node, "NodeTM", nodeTM);
        ReadMatrix(node, "ObjectTM", objectTM);
        const TypedMatrix m = MultiplyMatrices(objectTM, nodeTM);
        Vec3 position, forward, up, scale;
        if (!DecomposeMatrix(m, position, forward, up, scale)) {
            Trace("Scene: a light's transform does not decompose; no further lights: ", node->GetName());
            ok = false;
            return false;
        }
        TypedMatrix rotation = m;
        rotation.m[12] = rotation.m[13] = rotation.m[14] = 0.0f;
        D3DXVECTOR3 down(0.0f, -1.0f, 0.0f);
        D3DXVECTOR3 direction;
        D3DXMATRIX d3d(rotation.m);
        D3DXVec3TransformCoord(&direction, &down, &d3d);
        Vec3 dir = Vec3Normalize(Vec3{direction.x, direction.y, direction.z});

        const String& type = node->GetTypeName();
        float attStart = 0.0f;
        const bool attenuated = ReadFloat(node, "AttStart", attStart) && attStart != 0.0f;
        SharedRef<Light> light;
        if (StringEqualsText(type, "PointLight")) {
            light = SharedRef<Light>(new PointLight);
            light.Get()->SetPosition(position);
            if (attenuated) light.Get()->SetAttenuation(0.0f, 1.0f / attStart, 0.0f);
        } else if (StringEqualsText(type, "DirLight")) {
            light = SharedRef<Light>(new DirLight);
            light.Get()->SetDirection(dir);
        } else if (StringEqualsText(type, "SpotLight")) {
            light = SharedRef<Light>(new SpotLight);
            light.Get()->SetPosition(position);
            light.Get()->SetDirection(dir);
            if (attenuated) light.Get()->SetAttenuation(0.0f, 1.0f / attStart, 0.0f);
            float angle = 0.0f;
            if (ReadFloat(node, "HotSpot", angle)) light.Get()->SetInnerCone(angle);
            if (ReadFloat(node, "FallOff", angle)) light.Get()->SetOuterCone(angle);
        } else {
            Trace("Scene: unknown light type; no further lights: ", type);
            ok = false;
            return false;
        }
        ArgbColor diffuse;
        if (ReadColor(node, "Diffuse", diffuse)) light.Get()->SetDiffuse(diffuse);
        float range = 0.0f;
        ReadFloat(node, "AttEnd", range);
        light.Get()->SetRange(range);
        light.Get()->SetName(node->GetName());
        if (!AddLight(node, light)) {
            ok = false;
            return false;
        }
        return true;
    });
    return ok;
}

bool Scene::AddLight(DataNode*, const SharedRef<Light>& light) {
    lights_.Add(light);
    return true;
}

bool Scene::LoadSceneNode(DataNode* data, SceneNode* parent, int32_t depth, const PropsChain* inherited) {
    if (depth >= kMaxSceneNodeDepth) {
        Trace("Scene: nodes nested too deep are not read: ", data->GetName());
        return false;
    }
    if (nodeBudget_ <= 0) return false;
    if (--nodeBudget_ == 0) {
        Trace("Scene: the file holds too many nodes; the rest are not read: ", data->GetName());
        return false;
    }
    const String& name = data->GetName();
    const String& typeName = data->GetTypeName();
    SceneNode* node = parent->FindChild(name);
    const bool isNew = node == nullptr;
    if (isNew) {
        node = new SceneNode;
        node->GetMaterial() = defaultMaterial_;
        node->SetName(name);
        if (name.length() > 0 && name.Text()[0] == '~') node->flags().Set(kNodeOcclusionTested);
        node->SetTypeName(typeName);
        if (!parent->AddChild(node)) {
            delete node;
            return false;
        }
    }
    // Inherited properties come from the walk's chain of enclosing compounds (see PropsChain):
    // climbing parent links per node would let a forged file's circular links cost the climb's
    // whole bound for each of its nodes.
    const DataNode* own = FindPropsCompound(data);
    if (own != nullptr) {
        CopyChainedProperties(own, inherited, node->properties(), propertyVisitsLeft_);
    } else if (inherited != nullptr && inherited->props == data) {
        // A list's own "Props" read as a node: like any compound of that name, it passes on
        // what encloses its list's owner.
        CopyChainedProperties(nullptr, inherited->next, node->properties(), propertyVisitsLeft_);
    }
    node->ApplyNodeType(&searchPaths_);

    TypedMatrix nodeTM, objectTM;
    if (ReadMatrix(data, "NodeTM", nodeTM) && ReadMatrix(data, "ObjectTM", objectTM)) {
        SetNodeTransform(data, node, nodeTM, objectTM);
    }
    float box[6];
    if (Leaf(data, "Bounds", kBoxBytes) != nullptr && data->CopyChildData(Str("Bounds"), box, kBoxBytes)) {
        bool finite = true;
        for (float f : box) finite = finite && std::isfinite(f);
        if (finite) {
            node->GetFixedBounds().centre = Vec3{box[0], box[1], box[2]};
            node->GetFixedBounds().size = Vec3{box[3], box[4], box[5]};
            node->flags().Set(kNodeFixedBounds);
        }
    }
    if (isNew) {
        if (StringEqualsText(typeName, "Mesh")) {
            LoadMeshData(data, node);
        } else {
            LoadRenderProperties(data, node, nullptr);
        }
    }
    if (StringEqualsText(typeName, "Shape")) LoadShapeLines(data, node);
    LoadAnimation(data, node);
    // The node's own compound encloses its children's.
    const PropsChain ownLink{own, inherited};
    const PropsChain* passed = own != nullptr && !PropsChainHolds(inherited, own) ? &ownLink : inherited;
    LoadChildren(Compound(data, "Children"), node, depth + 1, passed);
    return true;
}

void Scene::LoadChildren(DataNode* children, SceneNode* parent, int32_t depth, const PropsChain* inherited) {
    if (children == nullptr) return;
    // A climb from a child would look for "Props" in the list compound before its owner.
    const PropsChain listLink{FindPropsCompound(children), inherited};
    const PropsChain* chain =
        listLink.props != nullptr && !PropsChainHolds(inherited, listLink.props) ? &listLink : inherited;
    ForEachChild(children, [&](DataNode* child) {
        LoadSceneNode(child, parent, depth, chain);
        return true;
    });
}

bool Scene::SetNodeTransform(DataNode*, SceneNode* node, TypedMatrix nodeMatrix, TypedMatrix objectMatrix) {
    SharedRef<NodeTransform> transform(new NodeTransform);
    Vec3 position, forward, up, scale;
    if (DecomposeMatrix(nodeMatrix, position, forward, up, scale)) {
        transform.Get()->SetPosition(position);
        transform.Get()->SetOrientation(forward, up);
        transform.Get()->SetScale(scale.x, scale.y, scale.z);
    } else {
        transform.Get()->SetBaseMatrix(nodeMatrix);
    }
    SharedRef<NodeTransform> object;
    const TypedMatrix& identity = IdentityMatrix();
    for (int32_t i = 0; i < 16; ++i) {
        if (std::fabs(objectMatrix.m[i] - identity.m[i]) > 0.01f) {
            object = SharedRef<NodeTransform>(new NodeTransform);
            object.Get()->SetBaseMatrix(objectMatrix);
            break;
        }
    }
    node->AddStoredTransform(options_.groupName, transform, object);
    if (node->storedTransformCount() == 1) node->ApplyStoredTransform(options_.groupName, false);
    return true;
}

bool Scene::LoadMeshData(DataNode* data, SceneNode* node) {
    const String& name = data->GetName();
    MultiMaterial material;
    MultiMaterial* source = nullptr;
    String materialName;
    if (ReadText(data, "MaterialName", materialName)) {
        if (!materials_.Contains(materialName, &material)) material = MultiMaterial();
        source = &material;
    }

    // Every block is checked before anything is built from it.
    int32_t indexSize = 0, vertexCount = 0, indexCount = 0;
    const DataNode* verts = Leaf(data, "Verts", 1);
    const DataNode* indexes = Leaf(data, "Indexes", 1);
    const DataNode* decl = Leaf(data, "DECL", 8);
    if (!ReadInt(data, "IndexSize", indexSize) || !ReadInt(data, "NumVerts", vertexCount) ||
        !ReadInt(data, "NumIndexes", indexCount) || verts == nullptr || indexes == nullptr || decl == nullptr) {
        Trace("Scene: mesh without its blocks: ", name);
        return false;
    }
    D3DVERTEXELEMENT9 elements[kMaxDeclElements + 1];
    if ((indexSize != 2 && indexSize != 4) || vertexCount <= 0 || indexCount <= 0 || indexCount % 3 != 0 ||
        !ValidDeclaration(decl, elements)) {
        Trace("Scene: mesh with unusable counts or declaration: ", name);
        return false;
    }
    VertexFormat format;
    format.SetFromElements(elements);
    const int64_t stride = format.stride(0);
    if (stride <= 0 || static_cast<int64_t>(verts->GetSize()) != stride * vertexCount ||
        static_cast<int64_t>(indexes->GetSize()) != static_cast<int64_t>(indexCount) * indexSize) {
        Trace("Scene: mesh blocks of the wrong size: ", name);
        return false;
    }
    const unsigned char* indexBytes = reinterpret_cast<const unsigned char*>(indexes->GetData());
    for (int32_t i = 0; i < indexCount; ++i) {
        uint32_t index = 0;
        if (indexSize == 2) {
            uint16_t v;
            std::memcpy(&v, indexBytes + 2 * i, 2);
            index = v;
        } else {
            std::memcpy(&index, indexBytes + 4 * i, 4);
        }
        if (index >= static_cast<uint32_t>(vertexCount)) {
            Trace("Scene: mesh index outside its vertices: ", name);
            return false;
        }
    }
    const DataNode* adjacency = Leaf(data, "Adjacency", 1);
    const int32_t triangles = indexCount / 3;
    if (adjacency != nullptr) {
        if (static_cast<int64_t>(adjacency->GetSize()) != 12LL * triangles) {
            Trace("Scene: mesh adjacency of the wrong size: ", name);
            return false;
        }
        for (int32_t i = 0; i < 3 * triangles; ++i) {
            int32_t v;
            std::memcpy(&v, adjacency->GetData() + 4 * i, 4);
            if (v != -1 && (v < 0 || v >= triangles)) {
                Trace("Scene: mesh adjacency names no triangle: ", name);
                return false;
            }
        }
    }

    // The skin, checked as a whole before the mesh is built.
    std::unique_ptr<SkinInfo> skin;
    if (DataNode* boneNames = Compound(data, "BoneNames")) {
        skin.reset(new SkinInfo);
        const int32_t bones = boneNames->Children().count();
        skin->boneNames.Resize(bones);
        bool namesOk = true;
        int32_t i = 0;
        ForEachChild(boneNames, [&](DataNode* child) {
            char expected[16];
            std::snprintf(expected, sizeof expected, "%d", i);
            if (!StringEqualsText(child->GetName(), expected)) namesOk = false;
            skin->boneNames.items()[i++] = child->DataAsString();
            return namesOk;
        });
        const DataNode* offs = Leaf(data, "VertBoneOffs", 0);
        const DataNode* nums = Leaf(data, "VertBoneNums", 0);
        const DataNode* weights = Leaf(data, "BoneWeights", 0);
        const int64_t perVertex = 4LL * vertexCount;
        if (!namesOk || offs == nullptr || nums == nullptr || weights == nullptr || offs->GetSize() != perVertex ||
            nums->GetSize() != perVertex || weights->GetSize() % 8 != 0 ||
            (weights->GetSize() > 0 && weights->GetData() == nullptr) || offs->GetData() == nullptr ||
            nums->GetData() == nullptr) {
            Trace("Scene: skinned mesh with unusable skin arrays: ", name);
            return false;
        }
        skin->firstWeight.resize(vertexCount);
        skin->weightCount.resize(vertexCount);
        skin->weights.resize(weights->GetSize() / 8);
        std::memcpy(skin->firstWeight.data(), offs->GetData(), perVertex);
        std::memcpy(skin->weightCount.data(), nums->GetData(), perVertex);
        if (!skin->weights.empty()) std::memcpy(skin->weights.data(), weights->GetData(), weights->GetSize());
        if (!skin->Fits(vertexCount)) {
            Trace("Scene: skinned mesh whose records do not fit: ", name);
            return false;
        }
    }

    // The blocks are copied: the file's nodes keep theirs.
    std::unique_ptr<MeshData> mesh(new MeshData);
    if (!mesh->vertices.Allocate(vertexCount, format) || !mesh->indices.Allocate(indexCount, indexSize)) {
        return false;
    }
    std::memcpy(mesh->vertices.stream(0), verts->GetData(), verts->GetSize());
    std::memcpy(mesh->indices.data(), indexes->GetData(), indexes->GetSize());
    if (adjacency != nullptr) {
        mesh->adjacency.Resize(adjacency->GetSize());
        std::memcpy(mesh->adjacency.Data(), adjacency->GetData(), adjacency->GetSize());
    }
    mesh->ComputeBounds();

    if (skin) {
        // Into the rest pose; the node keeps no transform of its own.
        TypedMatrix object, nodeMatrix;
        node->GetObjectTransform(true).ComposeTransform(object);
        node->GetNodeTransform(true).ComposeTransform(nodeMatrix);
        const TypedMatrix m = MultiplyMatrices(object, nodeMatrix);
        TransformPoints(mesh->vertices.stream(0), static_cast<int32_t>(stride), vertexCount,
                        *reinterpret_cast<const D3DXMATRIX*>(m.m));
        node->GetFixedBounds() = node->GetFixedBounds().Transform(m);
        node->GetObjectTransform(true).Reset();
        node->GetNodeTransform(true).Reset();
        mesh->ComputeBounds();
    }

    bool optimise = (options_.flags & kSceneOptimizeMeshes) != 0;
    String text;
    if (PropertyText(node, "OptimizeMesh", text)) optimise = IsOne(text);
    if (optimise) {
        SkinArrays arrays;
        if (skin) arrays = skin->Arrays();
        if (!mesh->OptimizeForVertexCache(skin ? &arrays : nullptr)) {
            Trace("Scene: mesh optimisation failed: ", name);
            return false;
        }
    }
    MeshData* kept = mesh.get();
    meshStore_.push_back(std::move(mesh));
    meshData_.Insert(name, kept, 1);
    SkinInfo* keptSkin = skin.get();
    if (skin) skins_.push_back(std::move(skin));
    return CreateMesh(data, node, source, kept, keptSkin);
}

bool Scene::CreateMesh(DataNode* data, SceneNode* node, MultiMaterial* material, MeshData* meshData, SkinInfo* skin) {
    LoadRenderProperties(data, node, material);
    GeometryDesc desc;
    const VertexFormat renderFormat = meshData->RenderFormat();
    if (!desc.InitFromMeshData(*meshData, &renderFormat, skin != nullptr)) return false;

    DWORD vertexUsage = skin != nullptr ? D3DUSAGE_DYNAMIC : D3DUSAGE_WRITEONLY;
    DWORD indexUsage = D3DUSAGE_WRITEONLY;
    PropertyWordSet usage;
    if (PropertyWords(node, "Usage", usage)) {
        vertexUsage = indexUsage = 0;
        if (HasWord(usage, "static")) {
            vertexUsage = indexUsage = D3DUSAGE_WRITEONLY;
        } else if (HasWord(usage, "dynamic")) {
            vertexUsage = indexUsage = D3DUSAGE_DYNAMIC;
        } else if (HasWord(usage, "dynamic_writeonly")) {
            vertexUsage = indexUsage = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY;
        }
        if (HasWord(usage, "vb_writeonly")) vertexUsage |= D3DUSAGE_WRITEONLY;
        if (HasWord(usage, "ib_writeonly")) indexUsage |= D3DUSAGE_WRITEONLY;
        if (HasWord(usage, "vb_dynamic")) vertexUsage |= D3DUSAGE_DYNAMIC;
        if (HasWord(usage, "ib_dynamic")) indexUsage |= D3DUSAGE_DYNAMIC;
    }
    desc.streams[0].usage = vertexUsage;
    desc.streams[0].flags |= kBufferUsageGiven;
    desc.indices.usage = indexUsage;
    desc.indices.flags |= kBufferUsageGiven;
    String text;
    if (PropertyText(node, "VertexAlign32", text) && IsOne(text)) {
        desc.streams[0].stride = (desc.streams[0].stride + 31) / 32 * 32;
        desc.streams[0].size = desc.streams[0].stride * meshData->vertices.count();
    }

    Mesh* mesh = nullptr;
    if (skin != nullptr) {
        auto* skinned = new SkinnedMeshNode;
        skinned->SetMeshData(meshData, skin);
        skinnedMeshes_.push_back(skinned);
        mesh = skinned;
    } else {
        mesh = new Mesh;
    }
    mesh->SetSourceLink(meshData);
    mesh->GetGeometryDesc() = desc;
    mesh->ComputeBounds();
    node->SetAttachment(mesh);
    return true;
}

void Scene::LoadRenderProperties(DataNode*, SceneNode* node, MultiMaterial* source) {
    MultiMaterial work(source != nullptr ? *source : node->GetMaterial());
    SubMaterial& first = work.sub(0);
    String text;
    if (PropertyText(node, "Effect", text) && text.length() > 0) {
        first.effectMaterial = g_effectManager.FindEffectMaterial(text, 200);
        if (first.effectMaterial == nullptr) {
            DebugTrace(ConcatStringText(ConcatTextString("Effect '", text), "' is not supported even with fallback\n"));
        }
    }
    if (PropertyText(node, "Blend", text)) {
        if (CompareStringsNoCase(text, Str("additive")) == 0) first.SetBlendKind(7);
        if (CompareStringsNoCase(text, Str("multiply")) == 0) first.SetBlendKind(4);
    }
    TextureMap& diffuse = first.maps[kDiffuseMap];
    if (PropertyText(node, "MinFilter", text)) diffuse.minFilter = FilterValue(text);
    if (PropertyText(node, "MagFilter", text)) diffuse.magFilter = FilterValue(text);
    if (PropertyText(node, "MipFilter", text)) diffuse.mipFilter = FilterValue(text);
    if (PropertyText(node, "TexAddrU", text)) diffuse.addressU = AddressValue(text);
    if (PropertyText(node, "TexAddrV", text)) diffuse.addressV = AddressValue(text);
    if (PropertyText(node, "ZWrite", text)) first.zWrite = IsOne(text) ? 1 : 0;
    if (PropertyText(node, "ZEnable", text)) first.zEnable = IsOne(text) ? 1 : 0;
    if (PropertyText(node, "AlphaTest", text)) {
        int32_t reference = 0;
        if (!text.ToInt(reference)) reference = 0;
        first.alphaRef = reference;
        work.SetAlphaTestAllowed(true);
    }
    PropertyWordSet words;
    if (PropertyWords(node, "AlphaUse", words)) {
        const bool factor = HasWord(words, "factor");
        const bool texture = HasWord(words, "texture");
        const bool vertex = HasWord(words, "diffuse");
        int32_t preset = 0;
        if (factor) {
            preset = texture ? 3 : vertex ? 5 : 1;
            float alpha = 0.5f;
            if (PropertyText(node, "Alpha", text) && !text.ToFloat(alpha)) alpha = 0.0f;
            first.opacity = alpha;
        } else {
            preset = vertex && texture ? 6 : vertex ? 4 : texture ? 2 : 0;
        }
        first.stages[0].SetAlphaSource(preset);
    }
    if (PropertyText(node, "SpecularEnable", text)) first.specular = IsOne(text);
    if (PropertyText(node, "LocalViewer", text)) first.localViewer = IsOne(text);
    if (PropertyText(node, "Lit", text)) first.lit = IsOne(text);
    int32_t order = 0;
    if (PropertyText(node, "AlphaOrder", text) && text.ToInt(order)) node->SetDrawOrder(order);
    PropertyWordSet qualities;
    if (PropertyWords(node, "EffectQuality", qualities)) {
        int32_t i = 0;
        for (const PropertyWordSet::Node* entry = qualities.first(); i < qualities.count() && i < kMaxSubMaterials;
             ++i, entry = entry->next) {
            int32_t value = -1;
            if (CompareStringsNoCase(entry->key, Str("custom")) == 0) {
                value = -2;
            } else if (!entry->key.ToInt(value)) {
                value = -1;
            }
            work.sub(i).quality = value;
        }
    }
    work.BuildStageCombination();
    node->GetMaterial() = work;
}

void Scene::LoadShapeLines(DataNode* data, SceneNode* node) {
    ForEachChild(data->FindChild(Str("Lines")), [&](DataNode* line) {
        int32_t count = 0;
        if (!ReadInt(line, "LineNumVerts", count)) return true;
        const DataNode* points = Leaf(line, "Line", 0);
        if (count < 0 || points == nullptr || static_cast<int64_t>(points->GetSize()) < 12LL * count) {
            Trace("Scene: shape line with fewer points than it claims: ", line->GetName());
            return true;
        }
        auto* array = new DynArray<Vec3>;
        array->Resize(count);
        if (count > 0) std::memcpy(array->items(), points->GetData(), 12LL * count);
        uint8_t closed = 0;
        if (Leaf(line, "LineClosed", 1) != nullptr) line->CopyChildData(Str("LineClosed"), &closed, 1);
        node->properties().SetBoolProperty(Str("LineClosed"), closed != 0);
        node->properties().SetPointerProperty(Str("ShapeLine"), array);
        return true;
    });
}

void Scene::LoadAnimation(DataNode* data, SceneNode* node) {
    DataNode* animation = Compound(data, "Animation");
    if (animation == nullptr) return;
    SharedRef<TransformAnimation> made(new TransformAnimation);
    node->AddAnimation(options_.groupName, made);
    auto fill = [&](const char* name, auto& track) {
        DataNode* list = Compound(animation, name);
        if (list == nullptr) return;
        const String& type = list->GetTypeName();
        if (StringEqualsText(type, "Sample") || StringEqualsText(type, "Linear")) track.SetFlags(track.flags() | 4);
        ForEachChild(list, [&](DataNode* keyNode) {
            TrackKey key;
            if (keyNode->GetSize() != kKeyBytes || keyNode->GetData() == nullptr) return true;
            std::memcpy(&key, keyNode->GetData(), kKeyBytes);
            track.AddKey(key);
            return true;
        });
    };
    fill("Position", made.Get()->GetPositionTrack());
    fill("Scale", made.Get()->GetScaleTrack());
    fill("Rotation", made.Get()->GetRotationTrack());
}

bool Scene::IsBoneSubtree(const SceneNode& node) { return node.CountNodes(true, false, false) > 0; }

void Scene::ComputeBoneOffsets(SceneNode& node, const TypedMatrix& parent, int32_t depth) {
    if (depth > kMaxSceneNodeDepth) return;
    TypedMatrix composed;
    node.GetNodeTransform(true).ComposeTransform(composed);
    const TypedMatrix world = MultiplyMatrices(composed, parent);
    TypedMatrix offset;
    D3DXMATRIX inverse;
    D3DXMatrixInverse(&inverse, nullptr, reinterpret_cast<const D3DXMATRIX*>(world.m));
    std::memcpy(offset.m, &inverse, 64);
    offset.kind = kMatrixGeneral;
    offset.valid = 1;
    node.SetBoneOffset(offset);
    for (int32_t i = 0; i < node.childCount(); ++i) ComputeBoneOffsets(*node.child(i), world, depth + 1);
}
