// Vertex layouts, counts and data as a scene file would give them, through the conversions the
// geometry code runs before anything reaches a device: VertexFormat::SetFromElements on two
// fuzzed declarations, CopyVertices between them, into each stream of the source renumbered to
// stream 0 (as the geometry cache fills its buffers) and into the fixed-function render layout,
// CopyIndices between fuzzed widths and counts, the mesh's box and the geometry description.
// Every view is an exact heap block, so ASan sees any access past it; a copy that claims
// success but did not copy an element, or refuses a copy that fits, aborts.
//
// Input: source declaration, target declaration (a count byte, then 8 bytes per element:
// stream and offset as little-endian words, type, method, usage, usage index), source and
// target vertex counts (2 bytes each), index count (2 bytes), source and target index widths,
// target index count (2 bytes), a flags byte, then the vertex and index bytes (repeated).

#include "fuzz/fuzz_input.h"
#include "render/format_facts.h"
#include "render/geometry.h"
#include "render/mesh_data.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using fuzz_input::Check;
using fuzz_input::Reader;

// The views' memory stays below this, so inputs explore layouts rather than allocation.
constexpr int64_t kMaxStreamBytes = 256 * 1024;
constexpr D3DVERTEXELEMENT9 kEnd = D3DDECL_END();

VertexFormat ReadFormat(Reader& in) {
    const int count = in.Byte() % 40;
    // Room for the elements and one end marker behind them, so a declaration without its own
    // marker is read as SetFromElements reads one: at most 31 elements.
    std::vector<D3DVERTEXELEMENT9> elements(static_cast<size_t>(count) + 1, kEnd);
    for (int i = 0; i < count; ++i) {
        D3DVERTEXELEMENT9& e = elements[static_cast<size_t>(i)];
        e.Stream = static_cast<WORD>(in.Number(2));
        e.Offset = static_cast<WORD>(in.Number(2));
        e.Type = in.Byte();
        e.Method = in.Byte();
        e.Usage = in.Byte();
        e.UsageIndex = in.Byte();
    }
    if (elements.size() < kMaxVertexElements) elements.resize(kMaxVertexElements, kEnd);
    VertexFormat format;
    format.SetFromElements(elements.data());
    Check(format.elementCount() <= kMaxVertexElements - 1);
    Check(format.streamCount() >= 1 && format.streamCount() <= kMaxVertexStreams);
    return format;
}

// Owned exact blocks behind a view.
struct Streams {
    std::unique_ptr<uint8_t[]> blocks[kMaxVertexStreams];
    VertexStreams view;
};

int32_t Bounded(int32_t count, const VertexFormat& format) {
    for (int32_t s = 0; s < format.streamCount(); ++s) {
        if (format.stride(s) > 0 && static_cast<int64_t>(count) * format.stride(s) > kMaxStreamBytes) {
            count = static_cast<int32_t>(kMaxStreamBytes / format.stride(s));
        }
    }
    return count;
}

void MakeStreams(Streams* out, const VertexFormat* format, const int32_t strides[kMaxVertexStreams], int32_t count,
                 const std::string& bytes) {
    out->view.format = format;
    out->view.count = count;
    for (int32_t s = 0; s < kMaxVertexStreams; ++s) {
        out->view.strides[s] = strides[s];
        const size_t size = static_cast<size_t>(count) * static_cast<size_t>(strides[s]);
        if (size == 0) continue;
        out->blocks[s].reset(new uint8_t[size]);
        for (size_t i = 0; i < size; ++i) out->blocks[s][i] = bytes.empty() ? 0 : uint8_t(bytes[(i * 7 + s) % bytes.size()]);
        out->view.data[s] = out->blocks[s].get();
    }
}

bool Fits(const D3DVERTEXELEMENT9& e, const int32_t strides[kMaxVertexStreams]) {
    if (e.Stream >= kMaxVertexStreams) return false;
    const int size = DeclTypeSize(e.Type);
    return size > 0 && e.Offset + size <= strides[e.Stream];
}

uint32_t Packed(const D3DVERTEXELEMENT9& e) {
    return uint32_t(e.Type) | uint32_t(e.Method) << 8 | uint32_t(e.Usage) << 16 | uint32_t(e.UsageIndex) << 24;
}

// Copies and checks that every element with a fitting counterpart was copied for the first and
// the last vertex.
void CopyAndCheck(const VertexStreams& target, const VertexStreams& source) {
    const bool copied = CopyVertices(target, source);
    Check(copied == (target.count >= source.count));
    if (!copied || source.count == 0) return;
    for (int32_t i = 0; i < source.format->elementCount(); ++i) {
        const D3DVERTEXELEMENT9& se = source.format->element(i);
        if (!Fits(se, source.strides)) continue;
        const int32_t found = target.format->FindPackedElement(Packed(se));
        if (found < 0) continue;
        const D3DVERTEXELEMENT9& te = target.format->element(found);
        if (!Fits(te, target.strides)) continue;
        for (int32_t v : {0, source.count - 1}) {
            const uint8_t* from = source.data[se.Stream] + static_cast<size_t>(v) * source.strides[se.Stream] + se.Offset;
            const uint8_t* to = target.data[te.Stream] + static_cast<size_t>(v) * target.strides[te.Stream] + te.Offset;
            // A later element of the source may overlap this one in the target: compare only
            // when this pair is the last to write there.
            bool overwritten = false;
            for (int32_t j = i + 1; j < source.format->elementCount(); ++j) {
                const D3DVERTEXELEMENT9& later = source.format->element(j);
                if (!Fits(later, source.strides)) continue;
                const int32_t f = target.format->FindPackedElement(Packed(later));
                if (f < 0 || !Fits(target.format->element(f), target.strides)) continue;
                const D3DVERTEXELEMENT9& lt = target.format->element(f);
                const int lsize = DeclTypeSize(lt.Type);
                if (lt.Stream == te.Stream && lt.Offset < te.Offset + DeclTypeSize(te.Type) && te.Offset < lt.Offset + lsize) {
                    overwritten = true;
                }
            }
            if (!overwritten) Check(std::memcmp(from, to, static_cast<size_t>(DeclTypeSize(se.Type))) == 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const VertexFormat from = ReadFormat(in);
    const VertexFormat to = ReadFormat(in);
    const int32_t sourceCount = Bounded(static_cast<int32_t>(in.Number(2) % 4096), from);
    const int32_t targetCount = Bounded(static_cast<int32_t>(in.Number(2) % 4096), to);
    const int32_t indexCount = static_cast<int32_t>(in.Number(2) % 8192);
    const int32_t fromWidth = in.Byte() % 6;
    const int32_t toWidth = in.Byte() % 6;
    const int32_t indexRoom = static_cast<int32_t>(in.Number(2) % 8192);
    const uint8_t flags = in.Byte();
    const std::string bytes = in.Rest();

    int32_t fromStrides[kMaxVertexStreams];
    int32_t toStrides[kMaxVertexStreams];
    for (int32_t s = 0; s < kMaxVertexStreams; ++s) {
        fromStrides[s] = from.stride(s);
        toStrides[s] = to.stride(s);
    }
    Streams source;
    MakeStreams(&source, &from, fromStrides, sourceCount, bytes);

    // Between the two declarations.
    Streams target;
    MakeStreams(&target, &to, toStrides, targetCount, std::string());
    CopyAndCheck(target.view, source.view);

    // Into each stream alone, renumbered to stream 0 with the stream's stride given apart.
    for (int32_t s = 0; s < from.streamCount(); ++s) {
        const VertexFormat part = from.ExtractStream(s, 0);
        int32_t strides[kMaxVertexStreams] = {};
        strides[0] = from.stride(s);
        Streams buffer;
        MakeStreams(&buffer, &part, strides, sourceCount, std::string());
        CopyAndCheck(buffer.view, source.view);
    }

    // The mesh: its box, its render layout and its geometry description.
    MeshData mesh;
    if (mesh.vertices.Allocate(sourceCount, from)) {
        for (int32_t s = 0; s < from.streamCount(); ++s) {
            if (mesh.vertices.stream(s) != nullptr && source.view.data[s] != nullptr) {
                std::memcpy(mesh.vertices.stream(s), source.view.data[s],
                            static_cast<size_t>(sourceCount) * static_cast<size_t>(from.stride(s)));
            }
        }
        const bool boxed = mesh.ComputeBounds();
        Check(boxed == (sourceCount > 0));
        const VertexFormat render = mesh.RenderFormat();
        Check(render.streamCount() == 1 && render.stride(0) >= 24 && render.stride(0) <= 44);
        Streams rendered;
        int32_t renderStrides[kMaxVertexStreams] = {};
        renderStrides[0] = render.stride(0);
        MakeStreams(&rendered, &render, renderStrides, sourceCount, std::string());
        CopyAndCheck(rendered.view, mesh.vertices.Streams());

        if (mesh.indices.Allocate(indexCount, (flags & 1) != 0 ? 4 : 2)) {
            GeometryDesc desc;
            if (desc.InitFromMeshData(mesh, (flags & 2) != 0 ? &render : nullptr, (flags & 4) != 0)) {
                const VertexFormat& chosen = (flags & 2) != 0 ? render : from;
                for (int32_t s = 0; s < chosen.streamCount(); ++s) {
                    Check(desc.streams[s].size == chosen.stride(s) * sourceCount && desc.streams[s].size > 0);
                }
                const bool wide = indexCount > kMaxShortIndexCount || sourceCount > kMaxShortIndexVertices;
                Check(desc.indices.indexFormat == (wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16));
            }
        }
    }

    // Indices between widths; widths other than 2 and 4 and too little room are refused.
    const size_t fromBytes = static_cast<size_t>(indexCount) * static_cast<size_t>(fromWidth);
    const size_t toBytes = static_cast<size_t>(indexRoom) * static_cast<size_t>(toWidth);
    std::unique_ptr<uint8_t[]> indexFrom(new uint8_t[fromBytes == 0 ? 1 : fromBytes]);
    std::unique_ptr<uint8_t[]> indexTo(new uint8_t[toBytes == 0 ? 1 : toBytes]);
    for (size_t i = 0; i < fromBytes; ++i) indexFrom[i] = bytes.empty() ? uint8_t(i) : uint8_t(bytes[i % bytes.size()]);
    const IndexStream indexSource{fromBytes == 0 ? nullptr : indexFrom.get(), indexCount, fromWidth};
    const IndexStream targetTo{toBytes == 0 ? nullptr : indexTo.get(), indexRoom, toWidth};
    const bool widthsOk = (fromWidth == 2 || fromWidth == 4) && (toWidth == 2 || toWidth == 4);
    const bool copied = CopyIndices(targetTo, indexSource);
    Check(copied == (widthsOk && indexRoom >= indexCount));
    if (copied) {
        for (int32_t i = 0; i < indexCount; ++i) {
            uint32_t a = 0, b = 0;
            std::memcpy(&a, indexFrom.get() + static_cast<size_t>(i) * fromWidth, static_cast<size_t>(fromWidth));
            std::memcpy(&b, indexTo.get() + static_cast<size_t>(i) * toWidth, static_cast<size_t>(toWidth));
            Check(toWidth == 2 ? b == (a & 0xFFFF) : b == a);
        }
    }
    return 0;
}
