#include "render/occlusion_query.h"

OcclusionQuery::OcclusionQuery() { RegisterDeviceResource(this); }

OcclusionQuery::~OcclusionQuery() {
    ReleaseQuery();
    state_ = State::Idle;
}

bool OcclusionQuery::CreateQuery() {
    if (g_device == nullptr) return false;
    IDirect3DQuery9* query = nullptr;
    if (g_device->CreateQuery(D3DQUERYTYPE_OCCLUSION, &query) != D3D_OK || query == nullptr) return false;
    query_ = query;
    return true;
}

void OcclusionQuery::ReleaseQuery() {
    if (query_ != nullptr) {
        query_->Release();
        query_ = nullptr;
    }
}

bool OcclusionQuery::Begin() {
    if (query_ == nullptr && !CreateQuery()) return false;
    if (query_->Issue(D3DISSUE_BEGIN) != D3D_OK) return false;
    state_ = State::Begun;
    return true;
}

bool OcclusionQuery::End() {
    if (query_ == nullptr || state_ != State::Begun) return false;
    if (query_->Issue(D3DISSUE_END) != D3D_OK) return false;
    state_ = State::Ended;
    return true;
}

bool OcclusionQuery::GetResult(uint32_t* visiblePixels) {
    if (query_ == nullptr || state_ != State::Ended) return false;
    DWORD pixels = 0;
    // No flush: a result that has not arrived is asked for again next frame instead of stalling.
    if (query_->GetData(&pixels, sizeof(pixels), 0) != S_OK) return false;
    state_ = State::ResultRead;
    visiblePixels_ = pixels;
    if (visiblePixels != nullptr) *visiblePixels = pixels;
    return true;
}

bool OcclusionQuery::OnDeviceLost() {
    state_ = query_ != nullptr ? State::LostHolding : State::LostEmpty;
    ReleaseQuery();
    return true;
}

bool OcclusionQuery::OnDeviceRestore() {
    if (state_ == State::LostHolding) {
        if (query_ == nullptr && !CreateQuery()) return false;
        state_ = State::Idle;
    } else if (state_ == State::LostEmpty) {
        state_ = State::Idle;
    }
    return true;
}
