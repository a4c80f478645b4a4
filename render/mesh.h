// The engine's drawable: a Renderable that draws one Geometry with a MultiMaterial, sub-material
// by sub-material, each through its effect material in as many passes as that asks for, or
// through the fixed-function pipeline.
//
// A scene mesh keeps a link to its source mesh data and builds its geometry lazily, one per
// vertex layout the drawing paths need (an effect's layout, the fixed-function layout), through
// the geometry buffer cache; each layout's geometry stays with the mesh. Other users (GUI
// quads, the loading screen, particles) give a mesh an explicit geometry instead.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/containers/shared_ref.h"
#include "render/geometry.h"
#include "render/renderable.h"
#include "render/vertex_format.h"

class MeshData;

class Mesh : public Renderable {
public:
    using LayoutGeometryMap = OrderedMap<VertexFormat, SharedRef<Geometry>, VertexDeclarationCache>;

    // No source, no layouts, a default description, no geometry.
    Mesh() = default;
    // Releases the current geometry and every layout's.
    ~Mesh() override = default;

    // The scene's mesh data this mesh draws (not owned; it must outlive the mesh's geometries,
    // which the geometry buffer cache refills from it). Null for an explicit geometry.
    void SetSourceLink(MeshData* source) { source_ = source; }
    MeshData* sourceLink() const { return source_; }
    // Filled in place by whoever creates the mesh; retargeted per layout while drawing.
    GeometryDesc& GetGeometryDesc() { return desc_; }

    // A new geometry becomes the current one and makes its buffers from desc (the effective
    // sizes, pools and usages are written back). Answers Geometry::CreateBuffers.
    bool CreateGeometry(GeometryDesc* desc);
    // A counted reference to the current geometry (empty when there is none).
    SharedRef<Geometry> GetGeometry() const { return current_; }
    // Enters the geometry under the format; an existing entry takes the new geometry.
    void SetLayoutGeometry(const VertexFormat& format, const SharedRef<Geometry>& geometry);
    // The geometry entered under the format, or an empty reference.
    SharedRef<Geometry> FindLayoutGeometry(const VertexFormat& format) const;

    // Draws every sub-material below the material's count: the render context's effect
    // override, else the sub-material's effect material, in its passes (a pass that fails to
    // begin is not drawn, and nothing is drawn when the preparation fails); without one the
    // fixed function, lit by the context's light set (applied once per call, for the first lit
    // sub-material). Pre-transformed geometry is drawn without fog, and fog is switched on
    // again at the end when it was on. Success of every step combined; false without a
    // render context or a geometry. A hidden mesh answers true and touches nothing.
    FlagWord Render(MultiMaterial* material) override;

    // The box of the source data; valid and true with a source, else invalid and false.
    bool ComputeBounds() override;

    // Mesh and Renderable; nothing else.
    bool QueryInterface(int32_t id, void** out) override;

    const LayoutGeometryMap& layoutGeometries() const { return layouts_; }

protected:
    // The geometry for the layout, from the layout map or else made by the geometry buffer
    // cache and entered there. Empty when the description cannot take the layout.
    SharedRef<Geometry> LayoutGeometry(const VertexFormat& format);
    // For drawables that write into the geometry before it is drawn (skinning).
    void SetCurrentGeometry(const SharedRef<Geometry>& geometry) { current_ = geometry; }

private:

    MeshData* source_ = nullptr;
    LayoutGeometryMap layouts_;
    GeometryDesc desc_;
    SharedRef<Geometry> current_;
};
