// Streams, indices, the draws and the vertex stage of the apply path: program, uniforms and
// attribute arrays. Every draw is checked against the bound buffers before GL sees it: GL
// does not check what it reads, and counts and indices come from data files.

#include "platform/d3d9/clip_space.h"
#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/gl.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
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

// A finite stand-in for a value from the application: NaN is 0, infinities the largest
// floats, so that colours and lights built from scene files give a defined colour.
float Finite(float v) {
    if (std::isnan(v)) return 0.0f;
    if (std::isinf(v)) return v > 0.0f ? FLT_MAX : -FLT_MAX;
    return v;
}

void Store(const D3DCOLORVALUE& c, GLfloat* out) {
    out[0] = Finite(c.r);
    out[1] = Finite(c.g);
    out[2] = Finite(c.b);
    out[3] = Finite(c.a);
}

void StoreColour(D3DCOLOR c, GLfloat* out) {
    out[0] = static_cast<float>((c >> 16) & 0xFF) / 255.0f;
    out[1] = static_cast<float>((c >> 8) & 0xFF) / 255.0f;
    out[2] = static_cast<float>(c & 0xFF) / 255.0f;
    out[3] = static_cast<float>(c >> 24) / 255.0f;
}

// The row vector (x, y, z, w) times m.
void Transform(const D3DMATRIX& m, double x, double y, double z, double w, double* out) {
    for (int j = 0; j < 3; ++j) out[j] = x * m.m[0][j] + y * m.m[1][j] + z * m.m[2][j] + w * m.m[3][j];
}

// The inverse transpose of m's upper 3 x 3, which takes normals as m takes positions. A
// singular m gives its cofactors: the same directions, lengths that are defined.
void NormalMatrix(const D3DMATRIX& m, GLfloat* out) {
    double a[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) a[i][j] = Finite(m.m[i][j]);
    }
    double c[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            c[i][j] = a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1];
        }
    }
    double det = a[0][0] * c[0][0] + a[0][1] * c[0][1] + a[0][2] * c[0][2];
    double scale = det != 0.0 && std::isfinite(1.0 / det) ? 1.0 / det : 1.0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) out[i * 3 + j] = Finite(static_cast<float>(c[i][j] * scale));
    }
}

float FloatOf(DWORD bits) {
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
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
    ++streamsSerial_;
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
    ++streamsSerial_;
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
    // A buffer's length is fixed at its creation: with the same declaration and streams, a
    // range found held before is held still.
    if (streamsHeld_.streamsSerial == streamsSerial_ && streamsHeld_.first == first && streamsHeld_.last == last) {
        return true;
    }
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
    streamsHeld_ = {streamsSerial_, first, last};
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
    // A draw that may write depth leaves it uneven (a test that is off writes nothing).
    if (target_.depthBits > 0 && state_.renderStates[D3DRS_ZENABLE] != D3DZB_FALSE &&
        state_.renderStates[D3DRS_ZWRITEENABLE] != FALSE) {
        depthUniform_ = false;
    }
    state_.dirty &= ~(kDirtyVertexInput | kDirtyTransforms | kDirtyLighting | kDirtyMaterial | kDirtyTextures |
                      kDirtySamplers | kDirtyStages | kDirtyFog);
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
    // The groups whose states are in the key.
    constexpr uint32_t kKeyGroups = kDirtyVertexInput | kDirtyLighting | kDirtyTextures | kDirtyStages | kDirtyFog |
                                    kDirtyAlphaTest | kDirtyPoints;
    uint32_t groups = vertexStageDirty_;
    if (program_ == nullptr || (groups & kKeyGroups) != 0 || (programKey_.points != 0) != drawingPoints_) {
        PipelineKey key = BuildPipelineKey(layout);
        if (program_ == nullptr || !(key == programKey_)) {
            program_ = programs_.Find(key, glCache_);
            programKey_ = key;
            groups = kDirtyAll;  // the uniforms of a program switched to are stale
            lightsSent_ = false;
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
    if (programKey_.points) {
        // Points take their size from the program and sprites their coordinates from
        // gl_PointCoord; both switches touch points only, so they stay on.
        glCache_.Enable(GL_VERTEX_PROGRAM_POINT_SIZE, true);
        glCache_.Enable(GL_POINT_SPRITE, true);
    }
    UploadUniforms(programKey_, groups);
    vertexStageDirty_ = 0;
}

void Device::UploadLights() {
    // Direct3D lights in camera space: the view matrix takes positions and directions there.
    const D3DMATRIX& view = state_.transforms[D3DTS_VIEW];
    GLfloat values[kMaxLights * 7 * 4] = {};
    for (size_t i = 0; i < enabledLights_.size(); ++i) {
        const D3DLIGHT9& light = EnabledLight(i);
        GLfloat* v = values + i * 28;
        Store(light.Diffuse, v);
        Store(light.Specular, v + 4);
        Store(light.Ambient, v + 8);
        double p[3], d[3];
        Transform(view, Finite(light.Position.x), Finite(light.Position.y), Finite(light.Position.z), 1.0, p);
        Transform(view, Finite(light.Direction.x), Finite(light.Direction.y), Finite(light.Direction.z), 0.0, d);
        double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        double unit = length > 0.0 && std::isfinite(length) ? 1.0 / length : 0.0;
        // A directional light shines along its direction: the shader wants the way to it.
        double sign = light.Type == D3DLIGHT_DIRECTIONAL ? -1.0 : 1.0;
        for (int k = 0; k < 3; ++k) {
            v[12 + k] = Finite(static_cast<float>(p[k]));
            v[16 + k] = Finite(static_cast<float>(sign * d[k] * unit));
        }
        v[15] = Finite(light.Range);
        v[19] = Finite(light.Falloff);
        v[20] = Finite(light.Attenuation0);
        v[21] = Finite(light.Attenuation1);
        v[22] = Finite(light.Attenuation2);
        v[24] = Finite(static_cast<float>(std::cos(0.5 * Finite(light.Theta))));
        v[25] = Finite(static_cast<float>(std::cos(0.5 * Finite(light.Phi))));
    }
    gl.Uniform4fv(program_->lights, static_cast<GLsizei>(enabledLights_.size() * 7), values);
    lightsView_ = view;
    lightsSent_ = true;
}

void Device::UploadUniforms(const PipelineKey& key, uint32_t groups) {
    const Program& program = *program_;
    const DWORD* rs = state_.renderStates;
    if ((groups & kDirtyViewport) != 0) {
        GLfloat pixel[4];
        PixelShift(state_.viewport, key.pretransformed, pixel);
        gl.Uniform4fv(program.pixel, 1, pixel);
    }
    if ((groups & kDirtyTransforms) != 0) {
        const D3DMATRIX* t = state_.transforms;
        if (program.worldViewProjection >= 0) {
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
        if (program.worldView >= 0 || program.normalMatrix >= 0) {
            D3DMATRIX worldView = Multiply(t[D3DTS_WORLD], t[D3DTS_VIEW]);
            if (program.worldView >= 0) gl.UniformMatrix4fv(program.worldView, 1, GL_FALSE, &worldView.m[0][0]);
            if (program.normalMatrix >= 0) {
                GLfloat normal[9];
                NormalMatrix(worldView, normal);
                gl.UniformMatrix3fv(program.normalMatrix, 1, GL_FALSE, normal);
            }
        }
        for (int i = 0; i < kMaxStages; ++i) {
            if (program.textureMatrix[i] >= 0) {
                gl.UniformMatrix4fv(program.textureMatrix[i], 1, GL_FALSE, &t[D3DTS_TEXTURE0 + i].m[0][0]);
            }
        }
    }
    if (program.lights >= 0 && ((groups & kDirtyLighting) != 0 || !lightsSent_ ||
                                ((groups & kDirtyTransforms) != 0 &&
                                 std::memcmp(&lightsView_, &state_.transforms[D3DTS_VIEW], sizeof(D3DMATRIX)) != 0))) {
        UploadLights();
    }
    if ((groups & (kDirtyLighting | kDirtyMaterial)) != 0 && program.material >= 0) {
        const D3DMATERIAL9& m = state_.material;
        GLfloat material[20] = {};
        Store(m.Diffuse, material);
        Store(m.Ambient, material + 4);
        Store(m.Specular, material + 8);
        Store(m.Emissive, material + 12);
        material[16] = Finite(m.Power);
        gl.Uniform4fv(program.material, 5, material);
        GLfloat ambient[4];
        StoreColour(rs[D3DRS_AMBIENT], ambient);
        gl.Uniform4fv(program.ambientLight, 1, ambient);
    }
    if ((groups & kDirtyFog) != 0) {
        if (program.fog >= 0) {
            float start = Finite(FloatOf(rs[D3DRS_FOGSTART]));
            float end = Finite(FloatOf(rs[D3DRS_FOGEND]));
            // Start and end together make a step at the end.
            double span = static_cast<double>(end) - start;
            double scale = span != 0.0 ? 1.0 / span : 1e30;
            GLfloat fog[4] = {end, Finite(static_cast<float>(scale)), Finite(FloatOf(rs[D3DRS_FOGDENSITY])), 0.0f};
            gl.Uniform4fv(program.fog, 1, fog);
        }
        if (program.fogColor >= 0) {
            GLfloat colour[4];
            StoreColour(rs[D3DRS_FOGCOLOR], colour);
            gl.Uniform4fv(program.fogColor, 1, colour);
        }
    }
    if ((groups & kDirtyStages) != 0 && program.textureFactor >= 0) {
        GLfloat factor[4];
        StoreColour(rs[D3DRS_TEXTUREFACTOR], factor);
        gl.Uniform4fv(program.textureFactor, 1, factor);
    }
    if ((groups & (kDirtyPoints | kDirtyViewport)) != 0 && program.point >= 0) {
        // The largest size is the state's, but never beyond what the device offers.
        float largest = std::min(Finite(FloatOf(rs[D3DRS_POINTSIZE_MAX])), caps_.MaxPointSize);
        float smallest = std::min(Finite(FloatOf(rs[D3DRS_POINTSIZE_MIN])), largest);
        GLfloat point[4] = {Finite(FloatOf(rs[D3DRS_POINTSIZE])), smallest, largest,
                            static_cast<float>(state_.viewport.Height)};
        gl.Uniform4fv(program.point, 1, point);
        if (program.pointScale >= 0) {
            GLfloat scale[3] = {Finite(FloatOf(rs[D3DRS_POINTSCALE_A])), Finite(FloatOf(rs[D3DRS_POINTSCALE_B])),
                                Finite(FloatOf(rs[D3DRS_POINTSCALE_C]))};
            gl.Uniform3fv(program.pointScale, 1, scale);
        }
    }
    if ((groups & kDirtyAlphaTest) != 0 && program.alphaRef >= 0) {
        gl.Uniform1f(program.alphaRef, static_cast<float>(rs[D3DRS_ALPHAREF] & 0xFF));
    }
    CheckGlError("UploadUniforms");
}

uint32_t Device::AttribsRead() const {
    if (shaderProgram_ != nullptr) return shaderProgram_->reads;
    const PipelineKey& key = programKey_;
    uint32_t reads = (1u << kAttribPosition) | (key.color0 ? 1u << kAttribColor0 : 0u) |
                     (key.color1 ? 1u << kAttribColor1 : 0u) | (key.normal ? 1u << kAttribNormal : 0u) |
                     (key.points && key.pointSizeAttrib ? 1u << kAttribPointSize : 0u);
    for (int i = 0; i < key.stageCount; ++i) {
        const StageKey& stage = key.stages[i];
        if (stage.texture != PipelineKey::kNoTexture && stage.coordGen == 0 && stage.coordSet < 8) {
            reads |= 1u << (kAttribTexCoord0 + stage.coordSet);
        }
    }
    return reads;
}

bool Device::StreamsStillBound(const DeclarationLayout& layout, uint32_t reads, int64_t baseVertex) const {
    const StreamsBound& last = streamsBound_;
    if (GlCache::bypassing() || last.streamsSerial != streamsSerial_ || last.attribSerial != glCache_.attribSerial() ||
        last.reads != reads || last.baseVertex != baseVertex) {
        return false;
    }
    for (UINT stream = 0; stream < kStreamCount; ++stream) {
        if ((layout.streamMask & (1u << stream)) == 0) continue;
        const auto* buffer = static_cast<const VertexBuffer*>(streams_[stream].buffer.get());
        if (buffer == nullptr || buffer->store().name() != last.names[stream]) return false;
    }
    return true;
}

void Device::BindStreams(const DeclarationLayout& layout, int64_t baseVertex) {
    // The attributes the program reads; arrays it does not read stay off.
    uint32_t reads = AttribsRead();
    // Object after object with the same mesh the arrays are already right; the checks below
    // would each find so, at a cost of their own per draw.
    if (StreamsStillBound(layout, reads, baseVertex)) return;
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
    StreamsBound& bound = streamsBound_;
    bound.streamsSerial = streamsSerial_;
    bound.attribSerial = glCache_.attribSerial();
    bound.reads = reads;
    bound.baseVertex = baseVertex;
    for (UINT stream = 0; stream < kStreamCount; ++stream) {
        const auto* buffer = static_cast<const VertexBuffer*>(streams_[stream].buffer.get());
        bound.names[stream] = (layout.streamMask & (1u << stream)) != 0 && buffer != nullptr ? buffer->store().name() : 0;
    }
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
        drawingPoints_ = type == D3DPT_POINTLIST;
        ApplyDrawState();
        if (program_ == nullptr) return D3DERR_DRIVERINTERNALERROR;
        BindStreams(layout, 0);
        gl.DrawArrays(GlPrimitive(type), static_cast<GLint>(startVertex), static_cast<GLsizei>(vertices));
        CheckGlError("DrawPrimitive");
    }
    CountDraw(type, primitiveCount);
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
        drawingPoints_ = type == D3DPT_POINTLIST;
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
    CountDraw(type, primitiveCount);
    return D3D_OK;
}

}  // namespace rh::d3d9
