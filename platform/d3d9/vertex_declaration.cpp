// Vertex declarations and FVF codes on the device. The FVF <-> declaration conversion is
// D3DX's (platform/d3dx9/fvf.cpp), so that the device and D3DX agree by construction.

#include "platform/d3d9/d3d9_local.h"

#include <d3dx9mesh.h>

#include <algorithm>

namespace rh::d3d9 {
namespace {

bool IsEnd(const D3DVERTEXELEMENT9& e) { return e.Stream == 0xFF && e.Type == D3DDECLTYPE_UNUSED; }

// Direct3D refuses unknown types, methods and usages, types the caps' DeclTypes leave out,
// and a usage index given twice.
bool ValidElements(const std::vector<D3DVERTEXELEMENT9>& elements, bool halfFloat) {
    for (size_t i = 0; i + 1 < elements.size(); ++i) {
        const D3DVERTEXELEMENT9& e = elements[i];
        if (e.Stream >= 16 || FindDeclType(e.Type, halfFloat) == nullptr || e.Method > D3DDECLMETHOD_LOOKUPPRESAMPLED ||
            e.Usage > D3DDECLUSAGE_SAMPLE) {
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (elements[j].Usage == e.Usage && elements[j].UsageIndex == e.UsageIndex) return false;
        }
    }
    return true;
}

}  // namespace

HRESULT STDMETHODCALLTYPE VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) {
    if (count == nullptr) return D3DERR_INVALIDCALL;
    *count = static_cast<UINT>(elements_.size());
    if (elements != nullptr) std::copy(elements_.begin(), elements_.end(), elements);
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                                          IDirect3DVertexDeclaration9** declaration) {
    if (elements == nullptr || declaration == nullptr) return D3DERR_INVALIDCALL;
    std::vector<D3DVERTEXELEMENT9> list;
    for (UINT i = 0;; ++i) {
        if (i > MAXD3DDECLLENGTH) return D3DERR_INVALIDCALL;
        list.push_back(elements[i]);
        if (IsEnd(elements[i])) break;
    }
    bool halfFloat = (caps_.DeclTypes & D3DDTCAPS_FLOAT16_2) != 0;
    if (!ValidElements(list, halfFloat)) return D3DERR_INVALIDCALL;
    DWORD fvf = 0;
    if (D3DXFVFFromDeclarator(list.data(), &fvf) != D3D_OK) fvf = 0;
    *declaration = new VertexDeclaration(this, std::move(list), fvf, halfFloat);
    return D3D_OK;
}

void Device::BindDeclaration(VertexDeclaration* declaration) {
    if (declaration_.Set(declaration)) {
        state_.dirty |= kDirtyVertexInput;
        ++streamsSerial_;
    }
}

VertexDeclaration* Device::declaration() const {
    return static_cast<VertexDeclaration*>(declaration_.get());  // only ours are bound
}

HRESULT STDMETHODCALLTYPE Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
    if (declaration != nullptr && !OwnsObject(declaration)) return D3DERR_INVALIDCALL;
    auto* ours = static_cast<VertexDeclaration*>(declaration);
    BindDeclaration(ours);
    fvf_ = ours != nullptr ? ours->fvf() : 0;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) {
    if (declaration == nullptr) return D3DERR_INVALIDCALL;
    *declaration = declaration_.Share();
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetFVF(DWORD fvf) {
    if (fvf == 0) return D3D_OK;  // Direct3D ignores it: the declaration stays
    auto found = fvfDeclarations_.find(fvf);
    if (found == fvfDeclarations_.end()) {
        D3DVERTEXELEMENT9 elements[MAX_FVF_DECL_SIZE];
        if (D3DXDeclaratorFromFVF(fvf, elements) != D3D_OK) return D3DERR_INVALIDCALL;
        IDirect3DVertexDeclaration9* made = nullptr;
        if (HRESULT hr = CreateVertexDeclaration(elements, &made); hr != D3D_OK) return hr;
        // The device keeps it as a binding of its own; the program never held it.
        found = fvfDeclarations_.try_emplace(fvf).first;
        found->second.Set(made);
        made->Release();
    }
    BindDeclaration(static_cast<VertexDeclaration*>(found->second.get()));
    fvf_ = fvf;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetFVF(DWORD* fvf) {
    if (fvf == nullptr) return D3DERR_INVALIDCALL;
    *fvf = fvf_;
    return D3D_OK;
}

}  // namespace rh::d3d9
