// Occlusion queries over GL_SAMPLES_PASSED.

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/d3d9/gl.h"

#include <cstring>

namespace rh::d3d9 {
namespace {

// Test hooks (d3d9_testing.h).
bool holdResults = false;
bool queriesUnsupported = false;

}  // namespace

namespace testing {

void HoldQueryResults(bool hold) { holdResults = hold; }

void MakeQueriesUnsupported(bool unsupported) { queriesUnsupported = unsupported; }

}  // namespace testing

HRESULT STDMETHODCALLTYPE Device::CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) {
    if (query != nullptr) *query = nullptr;
    if (type != D3DQUERYTYPE_OCCLUSION || !occlusionQueries_ || queriesUnsupported) return D3DERR_NOTAVAILABLE;
    if (query == nullptr) return D3D_OK;  // only asked whether the type is supported
    if (!MakeCurrent()) return D3DERR_NOTAVAILABLE;
    GLuint name = 0;
    gl.GenQueries(1, &name);
    if (name == 0) return E_OUTOFMEMORY;
    *query = new Query(this, name);
    return D3D_OK;
}

HRESULT Device::BeginQuery(Query* query) {
    if (openQuery_ != nullptr && openQuery_ != query) return D3DERR_INVALIDCALL;
    if (!MakeCurrent()) return D3DERR_INVALIDCALL;
    // GL keeps one samples-passed query open; beginning the open one again restarts it.
    if (openQuery_ == query) gl.EndQuery(GL_SAMPLES_PASSED);
    gl.BeginQuery(GL_SAMPLES_PASSED, query->name());
    openQuery_ = query;
    query->Began();
    CheckGlError("BeginQuery");
    return D3D_OK;
}

HRESULT Device::EndQuery(Query* query) {
    if (openQuery_ != query || !MakeCurrent()) return D3DERR_INVALIDCALL;
    gl.EndQuery(GL_SAMPLES_PASSED);
    openQuery_ = nullptr;
    queryToAwait_ = query->name();
    query->Ended(resets_);
    CheckGlError("EndQuery");
    return D3D_OK;
}

void Device::ForgetQuery(Query* query) {
    if (queryToAwait_ == query->name()) queryToAwait_ = 0;
    if (openQuery_ != query) return;
    openQuery_ = nullptr;
    if (MakeCurrent()) gl.EndQuery(GL_SAMPLES_PASSED);
}

Query::~Query() {
    device_->ForgetQuery(this);
    if (device_->MakeCurrent()) gl.DeleteQueries(1, &name_);
}

HRESULT STDMETHODCALLTYPE Query::Issue(DWORD issueFlags) {
    if (issueFlags == D3DISSUE_BEGIN) return device_->BeginQuery(this);
    if (issueFlags == D3DISSUE_END) return device_->EndQuery(this);
    return D3DERR_INVALIDCALL;
}

HRESULT STDMETHODCALLTYPE Query::GetData(void* data, DWORD size, DWORD getDataFlags) {
    // Either a place for the whole count, or no place at all (asking only whether it is there).
    if ((data == nullptr) != (size == 0) || (size != 0 && size < sizeof(DWORD))) return D3DERR_INVALIDCALL;
    if ((getDataFlags & ~static_cast<DWORD>(D3DGETDATA_FLUSH)) != 0) return D3DERR_INVALIDCALL;
    if (device_->CannotDraw()) return D3DERR_DEVICELOST;
    // Nothing to answer before the first bracket closed, nor for one closed before a Reset.
    if (state_ == State::kNew || (state_ == State::kEnded && endedAt_ != device_->resets())) return D3DERR_INVALIDCALL;
    if (state_ == State::kBegun) return S_FALSE;
    if (!haveResult_ && !holdResults && device_->MakeCurrent()) {
        // Asking whether the result is there never waits for it.
        GLuint available = GL_FALSE;
        gl.GetQueryObjectuiv(name_, GL_QUERY_RESULT_AVAILABLE, &available);
        if (available == GL_TRUE) {
            GLuint samples = 0;
            gl.GetQueryObjectuiv(name_, GL_QUERY_RESULT, &samples);
            result_ = samples;
            haveResult_ = true;
        } else if ((getDataFlags & D3DGETDATA_FLUSH) != 0) {
            gl.Flush();
        }
        CheckGlError("Query::GetData");
    }
    if (!haveResult_ || holdResults) return S_FALSE;
    if (data != nullptr) std::memcpy(data, &result_, sizeof result_);
    return S_OK;
}

}  // namespace rh::d3d9
