// Conversions between flexible vertex format codes and vertex declarations. An FVF code
// describes one packed vertex in a fixed field order; a declaration expresses any layout, so
// only declarations that are exactly such a packed vertex convert back.

#include <d3dx9mesh.h>

#include <cstring>

namespace {

constexpr D3DVERTEXELEMENT9 kEnd = D3DDECL_END();
constexpr DWORD kLastBetaMask = D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR;
// The bits an FVF code may use: position, normal, point size, colours, texture count, the
// last-beta flags and the per-set coordinate sizes.
constexpr DWORD kKnownBits = D3DFVF_POSITION_MASK | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE |
                             D3DFVF_SPECULAR | D3DFVF_TEXCOUNT_MASK | kLastBetaMask | 0xFFFF0000u;
constexpr int kMaxTextureSets = 8;

int TypeSize(BYTE type) {
    switch (type) {
        case D3DDECLTYPE_FLOAT1: return 4;
        case D3DDECLTYPE_FLOAT2: return 8;
        case D3DDECLTYPE_FLOAT3: return 12;
        case D3DDECLTYPE_FLOAT4: return 16;
        case D3DDECLTYPE_D3DCOLOR: return 4;
        case D3DDECLTYPE_UBYTE4: return 4;
        default: return 0;  // no FVF field uses the other types
    }
}

// The float type of n components (1 to 4).
BYTE FloatType(int n) { return static_cast<BYTE>(D3DDECLTYPE_FLOAT1 + (n - 1)); }

// The D3DFVF_TEXCOORDSIZE code of a texture set's width, and back.
int TexCoordComponents(DWORD fvf, int set) {
    switch ((fvf >> (16 + 2 * set)) & 3) {
        case D3DFVF_TEXTUREFORMAT1: return 1;
        case D3DFVF_TEXTUREFORMAT3: return 3;
        case D3DFVF_TEXTUREFORMAT4: return 4;
        default: return 2;  // D3DFVF_TEXTUREFORMAT2
    }
}
DWORD TexCoordSizeBits(int components, int set) {
    switch (components) {
        case 1: return static_cast<DWORD>(D3DFVF_TEXCOORDSIZE1(set));
        case 3: return static_cast<DWORD>(D3DFVF_TEXCOORDSIZE3(set));
        case 4: return static_cast<DWORD>(D3DFVF_TEXCOORDSIZE4(set));
        default: return static_cast<DWORD>(D3DFVF_TEXCOORDSIZE2(set));
    }
}

// Appends packed stream-0 elements.
class DeclarationWriter {
public:
    explicit DeclarationWriter(D3DVERTEXELEMENT9* out) : out_(out) {}
    void Add(BYTE type, BYTE usage, BYTE usageIndex = 0) {
        out_[count_++] =
            D3DVERTEXELEMENT9{0, offset_, type, D3DDECLMETHOD_DEFAULT, usage, usageIndex};
        offset_ = static_cast<WORD>(offset_ + TypeSize(type));
    }
    void End() { out_[count_] = kEnd; }

private:
    D3DVERTEXELEMENT9* out_;
    int count_ = 0;
    WORD offset_ = 0;
};

// Number of beta values of a position code: XYZB1 (6) .. XYZB5 (0xE) give 1 .. 5; others 0.
int BetaCount(DWORD position) {
    if (position < D3DFVF_XYZB1 || position > D3DFVF_XYZB5) return 0;
    return static_cast<int>((position - D3DFVF_XYZB1) / 2 + 1);
}

}  // namespace

HRESULT WINAPI D3DXDeclaratorFromFVF(DWORD FVF, D3DVERTEXELEMENT9 pDeclarator[MAX_FVF_DECL_SIZE]) {
    if (pDeclarator == nullptr) return D3DERR_INVALIDCALL;
    pDeclarator[0] = kEnd;

    const DWORD position = FVF & D3DFVF_POSITION_MASK;
    const DWORD lastBeta = FVF & kLastBetaMask;
    const int betas = BetaCount(position);
    const int textureSets = static_cast<int>((FVF & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    const bool validPosition = position == 0 || position == D3DFVF_XYZ ||
                               position == D3DFVF_XYZRHW || position == D3DFVF_XYZW || betas > 0;
    if ((FVF & ~kKnownBits) != 0 || !validPosition || textureSets > kMaxTextureSets) {
        return D3DERR_INVALIDCALL;
    }
    // The last beta is read as blend indices; it needs a blended position and one meaning.
    if (lastBeta != 0 && (betas == 0 || lastBeta == kLastBetaMask)) return D3DERR_INVALIDCALL;
    // Five betas are five weights only with the last one taken as indices: no type holds five.
    if (betas == 5 && lastBeta == 0) return D3DERR_INVALIDCALL;

    DeclarationWriter writer(pDeclarator);
    if (position == D3DFVF_XYZRHW) {
        writer.Add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT);
    } else if (position == D3DFVF_XYZW) {
        writer.Add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION);
    } else if (position != 0) {
        writer.Add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION);
    }
    const int weights = lastBeta != 0 ? betas - 1 : betas;
    if (weights > 0) writer.Add(FloatType(weights), D3DDECLUSAGE_BLENDWEIGHT);
    if (lastBeta == D3DFVF_LASTBETA_UBYTE4)
        writer.Add(D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES);
    if (lastBeta == D3DFVF_LASTBETA_D3DCOLOR)
        writer.Add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_BLENDINDICES);
    if ((FVF & D3DFVF_NORMAL) != 0) writer.Add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL);
    if ((FVF & D3DFVF_PSIZE) != 0) writer.Add(D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE);
    if ((FVF & D3DFVF_DIFFUSE) != 0) writer.Add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    if ((FVF & D3DFVF_SPECULAR) != 0) writer.Add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    for (int set = 0; set < textureSets; ++set) {
        writer.Add(FloatType(TexCoordComponents(FVF, set)), D3DDECLUSAGE_TEXCOORD,
                   static_cast<BYTE>(set));
    }
    writer.End();
    return S_OK;
}

namespace {

// Reads a declaration in FVF field order, each field optional but none out of order.
class FvfReader {
public:
    explicit FvfReader(const D3DVERTEXELEMENT9* elements) : e_(elements) {}

    bool Read(DWORD& fvf) {
        if (AtEnd()) return true;
        stream_ = e_[i_].Stream;
        DWORD position = 0;
        if (Next(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT)) {
            position = D3DFVF_XYZRHW;
        } else if (Next(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION)) {
            position = D3DFVF_XYZW;
        } else if (Next(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)) {
            position = D3DFVF_XYZ;
            int betas = 0;
            for (int n = 1; n <= 4 && betas == 0; ++n) {
                if (Next(FloatType(n), D3DDECLUSAGE_BLENDWEIGHT)) betas = n;
            }
            if (Next(D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES)) {
                fvf |= D3DFVF_LASTBETA_UBYTE4;
                ++betas;
            } else if (Next(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_BLENDINDICES)) {
                fvf |= D3DFVF_LASTBETA_D3DCOLOR;
                ++betas;
            }
            if (betas > 0) position = D3DFVF_XYZB1 + 2 * static_cast<DWORD>(betas - 1);
        }
        fvf |= position;
        if (Next(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL)) fvf |= D3DFVF_NORMAL;
        if (Next(D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE)) fvf |= D3DFVF_PSIZE;
        if (Next(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0)) fvf |= D3DFVF_DIFFUSE;
        if (Next(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1)) fvf |= D3DFVF_SPECULAR;
        int sets = 0;
        while (sets < kMaxTextureSets && !AtEnd()) {
            int components = 0;
            for (int n = 1; n <= 4 && components == 0; ++n) {
                if (Next(FloatType(n), D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(sets)))
                    components = n;
            }
            if (components == 0) break;
            fvf |= TexCoordSizeBits(components, sets);
            ++sets;
        }
        fvf |= static_cast<DWORD>(sets) << D3DFVF_TEXCOUNT_SHIFT;
        // Anything left is out of order, in another stream, or has no FVF field.
        return AtEnd();
    }

private:
    // Every field is consumed at most once, so the walk stays within the FVF's 15 fields.
    bool AtEnd() const { return std::memcmp(&e_[i_], &kEnd, sizeof(kEnd)) == 0; }

    // Consumes the next element when it is exactly this field at the packed offset.
    bool Next(BYTE type, BYTE usage, BYTE usageIndex = 0) {
        if (AtEnd()) return false;
        const D3DVERTEXELEMENT9& e = e_[i_];
        if (e.Stream != stream_ || e.Offset != offset_ || e.Type != type ||
            e.Method != D3DDECLMETHOD_DEFAULT || e.Usage != usage || e.UsageIndex != usageIndex) {
            return false;
        }
        offset_ += TypeSize(type);
        ++i_;
        return true;
    }

    const D3DVERTEXELEMENT9* e_;
    int i_ = 0;
    WORD stream_ = 0;
    int offset_ = 0;
};

}  // namespace

HRESULT WINAPI D3DXFVFFromDeclarator(const D3DVERTEXELEMENT9* pDeclarator, DWORD* pFVF) {
    if (pFVF == nullptr) return D3DERR_INVALIDCALL;
    *pFVF = 0;
    if (pDeclarator == nullptr) return D3DERR_INVALIDCALL;
    DWORD fvf = 0;
    FvfReader reader(pDeclarator);
    if (!reader.Read(fvf)) return D3DERR_INVALIDCALL;
    *pFVF = fvf;
    return S_OK;
}
