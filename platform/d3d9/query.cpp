// Occlusion queries over GL_SAMPLES_PASSED.

#include "platform/d3d9/d3d9_local.h"

namespace rh::d3d9 {

HRESULT STDMETHODCALLTYPE Device::CreateQuery(D3DQUERYTYPE, IDirect3DQuery9**) { return D3DERR_NOTAVAILABLE; }

}  // namespace rh::d3d9
