// Streams, indices, the draws and the vertex stage of the apply path: program, uniforms and
// attribute arrays. Every draw is checked against the bound buffers before GL sees it: GL
// does not check what it reads, and counts and indices come from data files.

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/gl.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace rh::d3d9 {
namespace {

// Direct3D's product a * b of row-major matrices (row vectors: v * a * b).
D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX c;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            c.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
        }
    }
    return c;
}

void Store(const D3DCOLORVALUE& c, GLfloat* out) {
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

// The weights of (material, COLOR0, COLOR1) for a D3DRS_*MATERIALSOURCE value: a vertex
// colour is used only with D3DRS_COLORVERTEX and when the vertex has it; otherwise the
// material's own colour.
void SourceWeights(DWORD source, bool colorVertex, const PipelineKey& key, GLfloat* out) {
    out[0] = out[1] = out[2] = out[3] = 0.0f;
    if (colorVertex && source == D3DMCS_COLOR1 && key.color0) {
        out[1] = 1.0f;
    } else if (colorVertex && source == D3DMCS_COLOR2 && key.color1) {
        out[2] = 1.0f;
    } else {
        out[0] = 1.0f;
    }
}

}  // namespace

// ---- Streams and indices ----

HRESULT STDMETHODCALLTYPE Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset,
                                                  UINT stride) {
    if (stream >= kStreamCount || stride > caps_.MaxStreamStride) return D3DERR_INVALIDCALL;
    if (buffer != nullptr && (!OwnsObject(buffer) || dynamic_cast<VertexBuffer*>(buffer) == nullptr)) {
        return D3DERR_INVALIDCALL;
    }
    StreamSource& source = streams_[stream];
    source.buffer.Set(buffer);
    source.offset = offset;
    source.stride = stride;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset,
                                                  UINT* stride) {
    if (stream >= kStreamCount || buffer == nullptr || offset == nullptr || stride == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    const StreamSource& source = streams_[stream];
    *buffer = source.buffer.Share();
    *offset = source.offset;
    *stride = source.stride;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetIndices(IDirect3DIndexBuffer9* buffer) {
    if (buffer != nullptr && (!OwnsObject(buffer) || dynamic_cast<IndexBuffer*>(buffer) == nullptr)) {
        return D3DERR_INVALIDCALL;
    }
    indices_.Set(buffer);
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetIndices(IDirect3DIndexBuffer9** buffer) {
    if (buffer == nullptr) return D3DERR_INVALIDCALL;
    *buffer = indices_.Share();
    return D3D_OK;
}

void Device::ReleaseStreams() {
    for (StreamSource& source : streams_) {
        source.buffer.Set(nullptr);
        source.offset = 0;
        source.stride = 0;
    }
    indices_.Set(nullptr);
}

// ---- Checks ----

uint64_t Device::CheckDraw(D3DPRIMITIVETYPE type, UINT primitiveCount) const {
    const VertexDeclaration* declaration = this->declaration();
    if (declaration == nullptr) return 0;
    const DeclarationLayout& layout = declaration->layout();
    // Fixed-function drawing needs a position; a type GL cannot read never reaches it.
    if (!layout.supported || !layout.hasPosition) return 0;
    if (primitiveCount == 0 || primitiveCount > caps_.MaxPrimitiveCount) return 0;
    return VerticesOfPrimitives(type, primitiveCount);
}

bool Device::StreamsHold(const DeclarationLayout& layout, int64_t first, int64_t last) const {
    if (first < 0 || last < first) return false;
    for (UINT stream = 0; stream < layout.streamExtent.size(); ++stream) {
        if ((layout.streamMask & (1u << stream)) == 0) continue;
        if (stream >= kStreamCount) return false;
        const StreamSource& source = streams_[stream];
        const auto* buffer = static_cast<const VertexBuffer*>(source.buffer.get());
        // GL's stride 0 means tightly packed, Direct3D's the same vertex again: not drawable.
        if (buffer == nullptr || source.stride == 0) return false;
        // Stride and extent are small, the vertex numbers below 2^33: no overflow in 64 bits.
        int64_t stride = source.stride;
        int64_t end = int64_t{source.offset} + last * stride + layout.streamExtent[stream];
        if (end > int64_t{buffer->store().length()}) return false;
    }
    return true;
}

bool Device::ArraysCanStartAt(const DeclarationLayout& layout, int64_t baseVertex) const {
    for (UINT stream = 0; stream < kStreamCount; ++stream) {
        if ((layout.streamMask & (1u << stream)) == 0) continue;
        const StreamSource& source = streams_[stream];
        if (int64_t{source.offset} + baseVertex * int64_t{source.stride} < 0) return false;
    }
    return true;
}

// ---- The vertex stage of the apply path ----

void Device::PrepareDraw() {
    if (MakeCurrent()) ApplyDrawState();
}

void Device::ApplyDrawState() {
    bool all = GlCache::bypassing();
    // The vertex stage keeps its own record: its groups wait while no declaration is bound.
    vertexStageDirty_ |= all ? uint32_t{kDirtyAll} : state_.dirty;
    textureStageDirty_ |= all ? uint32_t{kDirtyAll} : state_.dirty;
    ApplyDeviceState(state_, glCache_, target_, all);
    state_.dirty &= ~(kDirtyVertexInput | kDirtyTransforms | kDirtyLighting | kDirtyMaterial | kDirtyTextures |
                      kDirtySamplers | kDirtyStages);
    const VertexDeclaration* declaration = this->declaration();
    if (declaration != nullptr && declaration->layout().supported && declaration->layout().hasPosition) {
        ApplyVertexStage(declaration->layout());
    }
    ApplyTextures();
}

void Device::ApplyVertexStage(const DeclarationLayout& layout) {
    if (ShadersBound()) {
        ApplyShaderStage();
        return;
    }
    if (shaderProgram_ != nullptr) {
        // Back from shaders: the generated program is found again, its uniforms set anew.
        shaderProgram_ = nullptr;
        program_ = nullptr;
        vertexStageDirty_ = kDirtyAll;
    }
    uint32_t groups = vertexStageDirty_;
    if (program_ == nullptr || (groups & (kDirtyVertexInput | kDirtyLighting | kDirtyTextures | kDirtyStages)) != 0) {
        const DWORD* rs = state_.renderStates;
        PipelineKey key;
        key.pretransformed = layout.pretransformed;
        key.color0 = layout.hasColor[0];
        key.color0Bgra = key.color0 && layout.colorBgra[0];
        key.color1 = layout.hasColor[1];
        key.color1Bgra = key.color1 && layout.colorBgra[1];
        key.lighting = !key.pretransformed && rs[D3DRS_LIGHTING] != FALSE;
        key.specular = !key.lighting && key.color1 && rs[D3DRS_SPECULARENABLE] != FALSE;
        AddTextureStage(layout, &key);
        if (program_ == nullptr || key.Bits() != programKey_.Bits()) {
            program_ = programs_.Find(key);
            programKey_ = key;
            groups = kDirtyAll;  // the uniforms of a program switched to are stale
        }
    }
    if (program_ == nullptr) return;
    glCache_.UseProgram(program_->name);
    // Pre-transformed z is the depth itself; the viewport's depth range maps the others.
    if (programKey_.pretransformed) {
        glCache_.DepthRange(0.0f, 1.0f);
    } else {
        glCache_.DepthRange(state_.viewport.MinZ, state_.viewport.MaxZ);
    }
    UploadUniforms(programKey_, groups);
    vertexStageDirty_ = 0;
}

void Device::UploadUniforms(const PipelineKey& key, uint32_t groups) {
    const Program& program = *program_;
    if ((groups & kDirtyViewport) != 0) {
        const D3DVIEWPORT9& vp = state_.viewport;
        float width = static_cast<float>(std::max<DWORD>(vp.Width, 1));
        float height = static_cast<float>(std::max<DWORD>(vp.Height, 1));
        // A pixel centre exactly on an edge belongs to the triangle right of or below the edge
        // in Direct3D (its top-left rule); GL rasterisers settle such ties for the edges
        // below instead, in their upward y. A lift of kTieLift pixels, far above rasteriser
        // precision and far below anything visible, gives those centres to the edges above.
        constexpr float kTieLift = 1.0f / 64.0f;
        GLfloat pixel[4];
        if (key.pretransformed) {
            // Pixel x (a centre at an integer) lies at GL's x + 0.5 within the viewport.
            pixel[0] = 2.0f / width;
            pixel[1] = -2.0f / height;
            pixel[2] = (0.5f - static_cast<float>(vp.X)) * pixel[0] - 1.0f;
            pixel[3] = 1.0f - (0.5f - kTieLift - static_cast<float>(vp.Y)) * 2.0f / height;
        } else {
            pixel[0] = 1.0f / width;
            pixel[1] = (2.0f * kTieLift - 1.0f) / height;
            pixel[2] = pixel[3] = 0.0f;
        }
        gl.Uniform4fv(program.pixel, 1, pixel);
    }
    if ((groups & kDirtyTransforms) != 0 && program.worldViewProjection >= 0) {
        const D3DMATRIX* t = state_.transforms;
        // Usually only the world matrix changes between draws: view times projection is kept.
        if (!viewProjectionKnown_ || std::memcmp(&viewOfProduct_, &t[D3DTS_VIEW], sizeof(D3DMATRIX)) != 0 ||
            std::memcmp(&projectionOfProduct_, &t[D3DTS_PROJECTION], sizeof(D3DMATRIX)) != 0) {
            viewOfProduct_ = t[D3DTS_VIEW];
            projectionOfProduct_ = t[D3DTS_PROJECTION];
            viewProjection_ = Multiply(viewOfProduct_, projectionOfProduct_);
            viewProjectionKnown_ = true;
        }
        D3DMATRIX product = Multiply(t[D3DTS_WORLD], viewProjection_);
        // Direct3D's rows become GLSL's columns: M * v there is v * M here.
        gl.UniformMatrix4fv(program.worldViewProjection, 1, GL_FALSE, &product.m[0][0]);
    }
    if ((groups & (kDirtyLighting | kDirtyMaterial | kDirtyVertexInput)) != 0 && program.material >= 0) {
        const DWORD* rs = state_.renderStates;
        const D3DMATERIAL9& m = state_.material;
        GLfloat material[12];
        Store(m.Diffuse, material);
        Store(m.Ambient, material + 4);
        Store(m.Emissive, material + 8);
        gl.Uniform4fv(program.material, 3, material);
        bool colorVertex = rs[D3DRS_COLORVERTEX] != FALSE;
        GLfloat source[12];
        SourceWeights(rs[D3DRS_DIFFUSEMATERIALSOURCE], colorVertex, key, source);
        SourceWeights(rs[D3DRS_AMBIENTMATERIALSOURCE], colorVertex, key, source + 4);
        SourceWeights(rs[D3DRS_EMISSIVEMATERIALSOURCE], colorVertex, key, source + 8);
        gl.Uniform4fv(program.source, 3, source);
        DWORD a = rs[D3DRS_AMBIENT];
        GLfloat ambient[4] = {static_cast<float>((a >> 16) & 0xFF) / 255.0f, static_cast<float>((a >> 8) & 0xFF) / 255.0f,
                              static_cast<float>(a & 0xFF) / 255.0f, static_cast<float>(a >> 24) / 255.0f};
        gl.Uniform4fv(program.ambientLight, 1, ambient);
    }
    CheckGlError("UploadUniforms");
}

void Device::BindStreams(const DeclarationLayout& layout, int64_t baseVertex) {
    // The attributes the program reads; arrays it does not read stay off.
    uint32_t reads = (1u << kAttribPosition) | (programKey_.color0 ? 1u << kAttribColor0 : 0u) |
                     (programKey_.color1 ? 1u << kAttribColor1 : 0u);
    if (programKey_.texture != PipelineKey::kNoTexture && programKey_.texCoordPresent) {
        reads |= 1u << (kAttribTexCoord0 + programKey_.texCoordSet);
    }
    if (shaderProgram_ != nullptr) reads = shaderProgram_->reads;
    uint32_t enabled = 0;
    for (const DeclarationLayout::Attrib& attrib : layout.attribs) {
        uint32_t bit = 1u << attrib.location;
        if ((reads & bit) == 0) continue;
        const StreamSource& source = streams_[attrib.stream];
        const auto* buffer = static_cast<const VertexBuffer*>(source.buffer.get());
        // GL 2.1 has no base vertex: the arrays start baseVertex vertices further on instead.
        int64_t offset = int64_t{source.offset} + attrib.offset + baseVertex * int64_t{source.stride};
        GlCache::AttribArray array{buffer->store().name(), attrib.type.size, attrib.type.type, attrib.type.normalized,
                                   static_cast<GLsizei>(source.stride), static_cast<uintptr_t>(offset)};
        glCache_.VertexAttribPointer(attrib.location, array);
        enabled |= bit;
    }
    glCache_.EnableAttribArrays(enabled);
}

// ---- The draws ----

HRESULT STDMETHODCALLTYPE Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    uint64_t vertices = CheckDraw(type, primitiveCount);
    if (vertices == 0 || startVertex > INT_MAX) return D3DERR_INVALIDCALL;
    const DeclarationLayout& layout = declaration()->layout();
    int64_t last = int64_t{startVertex} + static_cast<int64_t>(vertices) - 1;
    if (!StreamsHold(layout, startVertex, last)) return D3DERR_INVALIDCALL;
    // A lost device draws nothing and says nothing about it.
    if (!CannotDraw() && MakeCurrent()) {
        ApplyDrawState();
        if (program_ == nullptr) return D3DERR_DRIVERINTERNALERROR;
        BindStreams(layout, 0);
        gl.DrawArrays(GlPrimitive(type), static_cast<GLint>(startVertex), static_cast<GLsizei>(vertices));
        CheckGlError("DrawPrimitive");
    }
    ++drawCalls_;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT, UINT,
                                                       UINT startIndex, UINT primitiveCount) {
    // The minimum index and vertex count are hints; the index buffer's own indices decide
    // which vertices are read.
    uint64_t count = CheckDraw(type, primitiveCount);
    const auto* indices = static_cast<const IndexBuffer*>(indices_.get());
    if (count == 0 || indices == nullptr) return D3DERR_INVALIDCALL;
    if (uint64_t{startIndex} + count > indices->indexCount()) return D3DERR_INVALIDCALL;
    uint32_t smallest = 0;
    uint32_t largest = 0;
    indices->IndexRange(startIndex, static_cast<UINT>(count), &smallest, &largest);
    const DeclarationLayout& layout = declaration()->layout();
    if (!StreamsHold(layout, int64_t{baseVertexIndex} + smallest, int64_t{baseVertexIndex} + largest)) {
        return D3DERR_INVALIDCALL;
    }
    if (!CannotDraw() && MakeCurrent()) {
        ApplyDrawState();
        if (program_ == nullptr) return D3DERR_DRIVERINTERNALERROR;
        GLenum mode = GlPrimitive(type);
        if (ArraysCanStartAt(layout, baseVertexIndex)) {
            BindStreams(layout, baseVertexIndex);
            glCache_.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, indices->store().name());
            gl.DrawElements(mode, static_cast<GLsizei>(count), indices->glType(),
                            reinterpret_cast<const void*>(uintptr_t{startIndex} * indices->indexSize()));
        } else {
            // A negative base vertex before the start of a stream: GL takes no offset below
            // 0, so the indices themselves are rebased, from the CPU copy, which the checks
            // above describe.
            std::vector<uint32_t> rebased = indices->Rebased(startIndex, static_cast<UINT>(count), baseVertexIndex);
            BindStreams(layout, 0);
            glCache_.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
            gl.DrawElements(mode, static_cast<GLsizei>(count), GL_UNSIGNED_INT, rebased.data());
        }
        CheckGlError("DrawIndexedPrimitive");
    }
    ++drawCalls_;
    return D3D_OK;
}

}  // namespace rh::d3d9
