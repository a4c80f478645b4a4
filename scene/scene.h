// A Scene holds what one or more scene files describe: a material library, three node trees
// (cameras, the scene itself and the bones), the mesh data by name, the lights with the ambient
// colour, the skinned meshes, a default material and the search paths the files' textures
// resolve against. Scene::ReadSceneFile reads one ZWF scene file into it.
//
// Scene files are outside data: every mesh block is checked before it is used (a mesh that
// fails gets no attachment and a DebugTrace line, and the load goes on), matrices with
// non-finite elements count as absent, and node nesting is cut at 256 levels.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/files/file_ref.h"
#include "core/files/search_paths.h"
#include "core/math/typed_matrix.h"
#include "core/text/string.h"
#include "render/light.h"
#include "render/material.h"
#include "render/texture_registry.h"
#include "scene/scene_node.h"

#include <cstdint>
#include <memory>
#include <vector>

class DataNode;
class MeshData;
struct PropsChain;
class SkinInfo;
class SkinnedMeshNode;

// Load flags.
constexpr int32_t kSceneOptimizeMeshes = 1;
constexpr int32_t kSceneSaveNormalMaps = 2;
constexpr int32_t kSceneOtherExtensions = 4;
constexpr int32_t kSceneNoReflectBump = 8;

// Nodes nested deeper than this in a scene file are not read.
constexpr int32_t kMaxSceneNodeDepth = 256;
// At most this many scene nodes are read from one file: linked children can make a small file
// describe a tree of exponential size.
constexpr int32_t kMaxSceneNodesPerFile = 20000;
// The property copies of one file look at most at this many entries (the city looks at about
// 1,100): shared blocks can make every node of a small file carry a large list.
constexpr int64_t kMaxPropertyVisitsPerFile = int64_t(1) << 20;

struct SceneLoadOptions {
    // Flags 1, or 3 when saveNormalMaps.
    explicit SceneLoadOptions(bool saveNormalMaps = false) : flags(saveNormalMaps ? 3 : 1) {}
    // Keys the stored transforms and the animations a load adds to a node.
    String groupName;
    int32_t flags;
};

class Scene {
public:
    using MeshDataMap = OrderedMap<String, MeshData*, StringCompare>;

    Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    virtual ~Scene();

    // Reads the scene file into the scene. False when it cannot be opened, its root cannot be
    // read, or a skinned mesh cannot bind its bones; what was read before stays.
    bool ReadSceneFile(FileRef locator, const SceneLoadOptions* options);

    SceneNode& GetRoot() { return root_; }
    SceneNode& GetBonesRoot() { return bonesRoot_; }
    SceneNode& GetCamerasRoot() { return camerasRoot_; }
    MaterialLibrary& materials() { return materials_; }
    LightSet& lights() { return lights_; }
    LightSlotManager& lightSlots() { return lightSlots_; }
    SearchPaths& searchPaths() { return searchPaths_; }
    MultiMaterial& defaultMaterial() { return defaultMaterial_; }
    const SceneLoadOptions& options() const { return options_; }
    const MeshDataMap& meshData() const { return meshData_; }
    const std::vector<SkinnedMeshNode*>& skinnedMeshes() const { return skinnedMeshes_; }
    // The property entries the last file's nodes looked at while copying their own and inherited
    // "Props" (made or passed over): the work inheritance cost.
    int64_t propertyEntriesRead() const { return kMaxPropertyVisitsPerFile - propertyVisitsLeft_; }

    // The file name a "Bump" map's generated normal map is cached under: the base name of
    // `fileName`, ".nhm", the amount times 10 truncated toward zero, ".dds".
    static String NormalMapCacheName(const String& fileName, float amount);

protected:
    // The three hooks.
    virtual bool CreateMesh(DataNode* data, SceneNode* node, MultiMaterial* material, MeshData* mesh,
                            SkinInfo* skin);
    virtual bool AddLight(DataNode* data, const SharedRef<Light>& light);
    virtual bool SetNodeTransform(DataNode* data, SceneNode* node, TypedMatrix nodeMatrix, TypedMatrix objectMatrix);

    // The loader's steps.
    void LoadMaterials(DataNode* materials);
    void LoadSubMaterial(DataNode* node, SubMaterial& sub);
    bool LoadLights(DataNode* lights);
    // `inherited`: the "Props" compounds enclosing `data`, nearest first (see PropsChain).
    bool LoadSceneNode(DataNode* data, SceneNode* parent, int32_t depth, const PropsChain* inherited);
    // Loads every child of a "Children" (or "Cameras") compound under `parent`.
    void LoadChildren(DataNode* children, SceneNode* parent, int32_t depth, const PropsChain* inherited);
    bool LoadMeshData(DataNode* data, SceneNode* node);
    void LoadRenderProperties(DataNode* data, SceneNode* node, MultiMaterial* source);
    void LoadShapeLines(DataNode* data, SceneNode* node);
    void LoadAnimation(DataNode* data, SceneNode* node);
    static bool IsBoneSubtree(const SceneNode& node);
    void ComputeBoneOffsets(SceneNode& node, const TypedMatrix& parent, int32_t depth);

private:
    Texture* LoadMapTexture(const String& fileName, bool cube, bool pool2);
    void LoadBumpMap(const String& fileName, float amount, TextureMap& map);

    // The references the loader took for the materials' maps, given back when the scene goes;
    // first, so that it goes after every node and material that points at them.
    TextureReferences textures_;
    MaterialLibrary materials_;
    LightSlotManager lightSlots_;
    SearchPaths searchPaths_;
    MultiMaterial defaultMaterial_;
    SceneLoadOptions options_;
    // Scene nodes the current file may still read.
    int32_t nodeBudget_ = 0;
    // Property entries the current file's copies may still look at.
    int64_t propertyVisitsLeft_ = kMaxPropertyVisitsPerFile;
    SceneNode camerasRoot_;
    SceneNode root_;
    SceneNode bonesRoot_;
    MeshDataMap meshData_;
    LightSet lights_;
    // Every skinned mesh made, for binding; the nodes own them.
    std::vector<SkinnedMeshNode*> skinnedMeshes_;
    // Mesh data and skins are kept for the scene's lifetime: meshes refill their buffers from
    // the data and skinned meshes read both every draw, even after a later file replaced the
    // map's entry of that name.
    std::vector<std::unique_ptr<MeshData>> meshStore_;
    std::vector<std::unique_ptr<SkinInfo>> skins_;
};
