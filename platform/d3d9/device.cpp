// The device's life: creation on the window's SDL window, Reset, loss, scenes, Clear and
// Present.

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/gamma_pass.h"
#include "platform/d3d9/gl.h"
#include "platform/d3d9/gl_translate.h"
#include "platform/win32/sdl_window_local.h"

#include <rimeholt/log.h>

#include <SDL.h>

#include <algorithm>

namespace rh::d3d9 {
namespace {

bool ValidInterval(UINT interval) {
    // The caps offer IMMEDIATE and ONE; DEFAULT means ONE.
    return interval == D3DPRESENT_INTERVAL_DEFAULT || interval == D3DPRESENT_INTERVAL_ONE ||
           interval == D3DPRESENT_INTERVAL_IMMEDIATE;
}

D3DGAMMARAMP IdentityRamp() {
    D3DGAMMARAMP ramp;
    for (int i = 0; i < 256; ++i) ramp.red[i] = ramp.green[i] = ramp.blue[i] = static_cast<WORD>(i * 257);
    return ramp;
}

// The context must use the pixel format the window was made with: the window layer makes every
// window with the device's attributes (SetDeviceGlAttributes), and so does the context. (With
// EGL a context of another format cannot be made current on the window.)
SDL_GLContext CreateDeviceContext(SDL_Window* window) {
    SetDeviceGlAttributes();
    return SDL_GL_CreateContext(window);
}

}  // namespace

HRESULT CompletePresentParameters(const Direct3D9& d3d, UINT adapter, SDL_Window* window, D3DPRESENT_PARAMETERS* pp) {
    const Adapter* a = d3d.FindAdapter(adapter);
    if (a == nullptr || pp == nullptr) return D3DERR_INVALIDCALL;
    D3DPRESENT_PARAMETERS p = *pp;
    if (p.BackBufferCount > 3) return D3DERR_INVALIDCALL;
    if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY) return D3DERR_INVALIDCALL;
    if (p.SwapEffect == D3DSWAPEFFECT_COPY && p.BackBufferCount > 1) return D3DERR_INVALIDCALL;
    if (p.MultiSampleType != D3DMULTISAMPLE_NONE || p.MultiSampleQuality != 0) return D3DERR_INVALIDCALL;
    if (!ValidInterval(p.PresentationInterval)) return D3DERR_INVALIDCALL;
    if (p.EnableAutoDepthStencil && !IsSupportedDepthFormat(p.AutoDepthStencilFormat)) return D3DERR_INVALIDCALL;
    if (p.BackBufferCount == 0) p.BackBufferCount = 1;
    if (p.Windowed) {
        if (p.FullScreen_RefreshRateInHz != 0) return D3DERR_INVALIDCALL;
        // A window's back buffer defaults to its client area in the desktop's format.
        int w = 0;
        int h = 0;
        SDL_GL_GetDrawableSize(window, &w, &h);
        if (p.BackBufferWidth == 0) p.BackBufferWidth = static_cast<UINT>(std::max(w, 1));
        if (p.BackBufferHeight == 0) p.BackBufferHeight = static_cast<UINT>(std::max(h, 1));
        if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = kDesktopFormat;
        if (DisplayFormatOfBackBuffer(p.BackBufferFormat) != kDesktopFormat) return D3DERR_INVALIDCALL;
    } else {
        // Full screen: one of the adapter's modes, in a format a display shows. A zero size
        // takes nothing from the window here: Direct3D refuses it.
        if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) return D3DERR_INVALIDCALL;
        if (DisplayFormatOfBackBuffer(p.BackBufferFormat) == D3DFMT_UNKNOWN) return D3DERR_INVALIDCALL;
        if (!d3d.HasMode(*a, p.BackBufferWidth, p.BackBufferHeight, p.FullScreen_RefreshRateInHz)) {
            return D3DERR_INVALIDCALL;
        }
    }
    *pp = p;
    return D3D_OK;
}

Device::Device(Direct3D9* d3d, UINT adapter, HWND hwnd, SDL_Window* window, DWORD behavior)
    : adapter_(adapter), hwnd_(hwnd), window_(window), windowId_(SDL_GetWindowID(window)), behavior_(behavior) {
    d3d->AddRef();
    d3d_ = com::ComRef<Direct3D9>(d3d);
    gamma_ = IdentityRamp();
}

HRESULT Device::Create(Direct3D9* d3d, UINT adapter, HWND hwnd, SDL_Window* window, DWORD behavior,
                       const D3DPRESENT_PARAMETERS& presentParameters, Device** out) {
    SDL_GLContext context = CreateDeviceContext(window);
    if (context == nullptr) {
        rh::LogError("Direct3D: no OpenGL context on the device window: %s", SDL_GetError());
        return D3DERR_NOTAVAILABLE;
    }
    if (!LoadGlFunctions()) {
        SDL_GL_DeleteContext(context);
        return D3DERR_NOTAVAILABLE;
    }
    Device* device = new Device(d3d, adapter, hwnd, window, behavior);
    device->context_ = context;
    device->caps_ = d3d->FindAdapter(adapter)->halCaps;
    if (HRESULT hr = device->ApplyPresentParameters(presentParameters); hr != D3D_OK) {
        device->Release();
        return hr;
    }
    // Occlusion queries need a samples-passed counter of some width.
    GLint counterBits = 0;
    gl.GetQueryiv(GL_SAMPLES_PASSED, GL_QUERY_COUNTER_BITS, &counterBits);
    device->occlusionQueries_ = counterBits > 0;
    SDL_AddEventWatch(&Device::OnSdlEvent, device);
    *out = device;
    return D3D_OK;
}

Device::~Device() {
    SDL_DelEventWatch(&Device::OnSdlEvent, this);
    ReleaseBindings();
    fvfDeclarations_.clear();
    bool alive = WindowAlive();
    if (fullScreen_ && alive) LeaveFullScreen();
    // Without the window the context cannot be made current; deleting it frees the buffers.
    if (context_ != nullptr && MakeCurrent()) {
        programs_.Destroy();
        shaderPrograms_.Destroy(&glCache_);
        gammaPass_.Destroy(glCache_);
        backBuffer_.Destroy();
    }
    if (context_ != nullptr) {
        if (SDL_GL_GetCurrentContext() == context_) SDL_GL_MakeCurrent(alive ? window_ : nullptr, nullptr);
        SDL_GL_DeleteContext(static_cast<SDL_GLContext>(context_));
    }
}

bool Device::WindowAlive() const {
    // Every GL-touching call asks, several times per draw: the registry lookup is done again
    // only after some window died or changed its SDL window.
    uint64_t generation = win32::WindowGeneration();
    if (generation == aliveGeneration_) return true;
    if (win32::SdlWindowOf(hwnd_) != window_) return false;
    aliveGeneration_ = generation;
    return true;
}

bool Device::MakeCurrent() {
    if (!WindowAlive()) return false;
    // SDL's record of the current context is the truth: other code (a test's or a benchmark's
    // own context, another device) may have made another one current since the last call.
    // The context alone is asked: only this device makes it current, always on window_, and
    // SDL drops it from being current when window_ is destroyed.
    if (SDL_GL_GetCurrentContext() != context_) {
        SDL_GL_MakeCurrent(window_, static_cast<SDL_GLContext>(context_));
    }
    return true;
}

void Device::LeaveFullScreen() {
    // Direct3D gives the desktop its mode back when a full-screen device goes. (The ramp is the
    // layer's own, applied at Present: the desktop's never changed.)
    fullScreen_ = false;
    SDL_SetWindowFullscreen(window_, 0);
}

HRESULT Device::ApplyPresentParameters(const D3DPRESENT_PARAMETERS& pp) {
    if (!MakeCurrent()) return D3DERR_INVALIDCALL;
    if (pp.Windowed) {
        if (fullScreen_) LeaveFullScreen();
    } else {
        SDL_DisplayMode mode{};
        mode.w = static_cast<int>(pp.BackBufferWidth);
        mode.h = static_cast<int>(pp.BackBufferHeight);
        mode.refresh_rate = static_cast<int>(pp.FullScreen_RefreshRateInHz);
        // Drivers without real mode changes (offscreen) still give the window the mode's size.
        // A resize to the size the window has is skipped: under X11 SDL waits out a timeout
        // for the confirmation of a change that never comes (most of a Reset's time).
        int w = 0;
        int h = 0;
        SDL_GetWindowSize(window_, &w, &h);
        if (w != mode.w || h != mode.h) SDL_SetWindowSize(window_, mode.w, mode.h);
        if (SDL_SetWindowDisplayMode(window_, &mode) != 0 || SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN) != 0) {
            rh::LogError("Direct3D: cannot switch to %dx%d: %s", mode.w, mode.h, SDL_GetError());
            return D3DERR_NOTAVAILABLE;
        }
        fullScreen_ = true;
        rh::win32::AwaitWindowSize(window_, mode.w, mode.h);
    }
    // Direct3D's IMMEDIATE presents without waiting for the vertical blank.
    SDL_GL_SetSwapInterval(pp.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
    // Direct3D's back buffer has the size asked for, whatever the window's. When the window's
    // framebuffer is the same thing the device draws straight into it; otherwise it is a
    // buffer of its own, which Present stretches onto the client area.
    int drawableWidth = 0;
    int drawableHeight = 0;
    SDL_GL_GetDrawableSize(window_, &drawableWidth, &drawableHeight);
    windowFramebuffer_ = QueryWindowFramebuffer(drawableWidth, drawableHeight, glCache_);
    if (fullScreen_ && !windowFramebuffer_.sizeReached) {
        // The GL driver learns of a window's new size at a buffer swap; until then the
        // window's framebuffer keeps the old size and every frame is cut to it (the saver's
        // loading picture, drawn once, would show cut for the whole load). The probe left the
        // window black: showing it once is the black of a mode switch.
        SDL_GL_SwapWindow(window_);
        windowFramebuffer_ = QueryWindowFramebuffer(drawableWidth, drawableHeight, glCache_);
    }
    D3DFORMAT depthFormat = pp.EnableAutoDepthStencil ? pp.AutoDepthStencilFormat : D3DFMT_UNKNOWN;
    if (!backBuffer_.Create(pp.BackBufferWidth, pp.BackBufferHeight, pp.BackBufferFormat, depthFormat,
                            WindowMayServe(pp) ? &windowFramebuffer_ : nullptr)) {
        return D3DERR_NOTAVAILABLE;
    }
    pp_ = pp;
    const FormatInfo* depth = depthFormat != D3DFMT_UNKNOWN ? FindFormat(depthFormat) : nullptr;
    target_ = RenderTargetInfo{pp.BackBufferWidth, pp.BackBufferHeight, depth != nullptr ? depth->depthBits : 0,
                               depth != nullptr ? depth->stencilBits : 0, backBuffer_.depthBits(),
                               backBuffer_.stencilBits(), backBuffer_.alphaLocked()};
    glCache_.Forget();
    ResetState();
    depthUniform_ = false;
    CheckGlError("ApplyPresentParameters");
    return D3D_OK;
}

bool Device::WindowMayServe(const D3DPRESENT_PARAMETERS& pp) const {
    return pp.SwapEffect == D3DSWAPEFFECT_DISCARD && (pp.Windowed || gammaIdentity_);
}

void Device::BackBufferMoved() {
    depthUniform_ = false;  // another depth buffer
    target_.glDepthBits = backBuffer_.depthBits();
    target_.glStencilBits = backBuffer_.stencilBits();
    target_.alphaLocked = backBuffer_.alphaLocked();
    state_.dirty |= kDirtyRaster | kDirtyDepth;
}

void Device::LeaveWindowIfNeeded(bool force) {
    if (!backBuffer_.onWindow() || (!force && WindowMayServe(pp_))) return;
    // The copy is a blit: the scissor test and the colour mask must let it through.
    glCache_.Enable(GL_SCISSOR_TEST, false);
    glCache_.ColorMask(true, true, true, true);
    if (backBuffer_.LeaveWindow()) BackBufferMoved();
    state_.dirty |= kDirtyRaster;
}

void Device::ReleaseBindings() {
    for (Binding<IDirect3DBaseTexture9>& texture : textures_) texture.Set(nullptr);
    for (TextureStore*& store : textureStores_) store = nullptr;
    ++texturesSerial_;
    ++bindingsSerial_;
    vertexShader_.Set(nullptr);
    pixelShader_.Set(nullptr);
    ReleaseStreams();
    BindDeclaration(nullptr);
    fvf_ = 0;
}

void Device::ResetState() {
    ReleaseBindings();
    state_.SetDefaults(pp_.EnableAutoDepthStencil != FALSE, pp_.BackBufferWidth, pp_.BackBufferHeight,
                       caps_.MaxPointSize);
    ++bindingsSerial_;  // the sampler states are the defaults again
    ClearLights();
    inScene_ = false;
}

bool Device::OwnsObject(IUnknown* object) const {
    const DeviceObject* owned = DeviceObjectOf(object);
    return owned != nullptr && owned->device() == this;
}

bool Device::Lost() const { return forcedLost_ || (!pp_.Windowed && (!hasFocus_ || minimised_)); }

int Device::OnSdlEvent(void* self, SDL_Event* event) {
    auto* device = static_cast<Device*>(self);
    if (event->type != SDL_WINDOWEVENT || event->window.windowID != device->windowId_) return 0;
    switch (event->window.event) {
        case SDL_WINDOWEVENT_FOCUS_LOST: device->hasFocus_ = false; break;
        case SDL_WINDOWEVENT_FOCUS_GAINED: device->hasFocus_ = true; break;
        case SDL_WINDOWEVENT_MINIMIZED: device->minimised_ = true; break;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_MAXIMIZED: device->minimised_ = false; break;
        default: return 0;
    }
    if (device->Lost()) device->needsReset_ = true;
    return 0;
}

void Device::ForceLoss(bool lost) {
    forcedLost_ = lost;
    if (lost) needsReset_ = true;
}

HRESULT STDMETHODCALLTYPE Device::TestCooperativeLevel() {
    if (Lost()) return D3DERR_DEVICELOST;
    return needsReset_ ? D3DERR_DEVICENOTRESET : D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetDirect3D(IDirect3D9** direct3d) {
    if (direct3d == nullptr) return D3DERR_INVALIDCALL;
    *direct3d = d3d_.share();
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetDeviceCaps(D3DCAPS9* caps) {
    if (caps == nullptr) return D3DERR_INVALIDCALL;
    *caps = caps_;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (swapChain != 0 || mode == nullptr) return D3DERR_INVALIDCALL;
    if (pp_.Windowed) return d3d_->GetAdapterDisplayMode(adapter_, mode);
    const Adapter* a = d3d_->FindAdapter(adapter_);
    UINT refresh = pp_.FullScreen_RefreshRateInHz != 0 ? pp_.FullScreen_RefreshRateInHz : a->desktop.refresh;
    *mode = D3DDISPLAYMODE{pp_.BackBufferWidth, pp_.BackBufferHeight, refresh, DisplayFormatOfBackBuffer(pp_.BackBufferFormat)};
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::Reset(D3DPRESENT_PARAMETERS* presentParameters) {
    if (presentParameters == nullptr) return D3DERR_INVALIDCALL;
    if (Lost()) return D3DERR_DEVICELOST;
    // A failed Reset leaves the device waiting for a successful one, as on Windows.
    if (defaultPoolResources_ > 0) {
        needsReset_ = true;
        return D3DERR_INVALIDCALL;
    }
    D3DPRESENT_PARAMETERS pp = *presentParameters;
    if (!WindowAlive() || CompletePresentParameters(*d3d_.get(), adapter_, window_, &pp) != D3D_OK) {
        needsReset_ = true;
        return D3DERR_INVALIDCALL;
    }
    // A bracket open across the Reset closes without a result.
    if (openQuery_ != nullptr) EndQuery(openQuery_);
    ++resets_;
    if (HRESULT hr = ApplyPresentParameters(pp); hr != D3D_OK) {
        needsReset_ = true;
        return hr;
    }
    *presentParameters = pp;
    needsReset_ = false;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                          const void* dirtyRegion) {
    if (sourceRect != nullptr || destRect != nullptr || destWindowOverride != nullptr || dirtyRegion != nullptr) {
        return D3DERR_INVALIDCALL;
    }
    return PresentToWindow(nullptr);
}

HRESULT Device::PresentToWindow(WindowImage* shown) {
    // A lost device shows nothing until it was reset.
    if (Lost() || needsReset_) return D3DERR_DEVICELOST;
    if (!MakeCurrent()) return D3DERR_INVALIDCALL;  // the window is gone
    int width = 0;
    int height = 0;
    SDL_GL_GetDrawableSize(window_, &width, &height);
    if (width != windowFramebuffer_.width || height != windowFramebuffer_.height) {
        windowFramebuffer_.width = width;
        windowFramebuffer_.height = height;
        windowFramebuffer_.sizeReached = false;
        windowFramebuffer_.probes = 0;
    }
    const int backWidth = static_cast<int>(pp_.BackBufferWidth);
    const int backHeight = static_cast<int>(pp_.BackBufferHeight);
    // The window changed its size under a back buffer drawn on it: from this frame on the back
    // buffer is an object of its own again, stretched onto the window.
    if (backBuffer_.onWindow() && (width != backWidth || height != backHeight)) LeaveWindowIfNeeded(true);
    if (width > 0 && height > 0) {
        if (!backBuffer_.onWindow()) {
            // A blit skips the fragment operations except the scissor test (and, on some
            // drivers, the colour mask); the next draw restores both.
            glCache_.Enable(GL_SCISSOR_TEST, false);
            glCache_.ColorMask(true, true, true, true);
            state_.dirty |= kDirtyRaster;
            backBuffer_.Bind();
            // Direct3D's ramp changes what a full-screen device shows; the layer applies it on
            // the way to the window. A ramp that changes nothing costs nothing.
            bool ramp = fullScreen_ && !gammaIdentity_;
            if (ramp) state_.dirty = kDirtyAll;
            if (!ramp || !gammaPass_.Draw(gamma_, glCache_, backWidth, backHeight, width, height)) {
                backBuffer_.StretchToWindow(width, height);
            }
        } else {
            // Drawn on the window, the picture is in place already. Present still hands the
            // frame to GL: a swap of a surface nobody sees (an offscreen buffer) need not, and
            // occlusion results would then never arrive. The copy onto the window waits for
            // the frame's drawing; without it the frame's last query is waited for, so results
            // are there by the next frame as they were.
            gl.Flush();
            if (queryToAwait_ != 0) {
                GLuint samples = 0;
                gl.GetQueryObjectuiv(queryToAwait_, GL_QUERY_RESULT, &samples);
            }
        }
        if (shown != nullptr) {
            gl.ReadBuffer(GL_BACK);
            shown->width = width;
            shown->height = height;
            ReadPixels(0, 0, width, height, height, &shown->pixels);
            if (backBuffer_.alphaLocked()) {
                for (DWORD& pixel : shown->pixels) pixel |= 0xFF000000u;
            }
        }
    }
    queryToAwait_ = 0;
    // A window's buffers other than colour need not survive the swap, and the ramp's pass and
    // the size probe draw on their own terms.
    depthUniform_ = false;
    SDL_GL_SwapWindow(window_);
    // Back onto the window once it serves again (its size, the ramp), the picture kept as
    // Direct3D keeps a back buffer of its own. A window system may give the buffer its new size
    // a little after the window's: the size is probed in a few frames, not in every one.
    const D3DFORMAT depthFormat = pp_.EnableAutoDepthStencil ? pp_.AutoDepthStencilFormat : D3DFMT_UNKNOWN;
    WindowFramebuffer ifReached = windowFramebuffer_;
    ifReached.sizeReached = true;
    if (!backBuffer_.onWindow() && WindowMayServe(pp_) &&
        WindowServesAsBackBuffer(ifReached, pp_.BackBufferWidth, pp_.BackBufferHeight, pp_.BackBufferFormat,
                                 depthFormat)) {
        constexpr int kProbes = 3;
        if (!windowFramebuffer_.sizeReached && windowFramebuffer_.probes < kProbes) {
            ++windowFramebuffer_.probes;
            windowFramebuffer_.sizeReached = ProbeWindowSize(windowFramebuffer_, glCache_);
            state_.dirty |= kDirtyRaster;
        }
        if (windowFramebuffer_.sizeReached) {
            glCache_.Enable(GL_SCISSOR_TEST, false);
            glCache_.ColorMask(true, true, true, true);
            backBuffer_.ReturnToWindow(windowFramebuffer_);
            BackBufferMoved();
        }
    }
    backBuffer_.Bind();
    CheckGlError("Present");
    return D3D_OK;
}

void STDMETHODCALLTYPE Device::SetGammaRamp(UINT swapChain, DWORD, const D3DGAMMARAMP* ramp) {
    if (swapChain != 0 || ramp == nullptr) return;
    // Direct3D's ramp changes what is shown only for a full-screen device; it is kept across
    // Reset and windowed periods alike.
    gamma_ = *ramp;
    gammaIdentity_ = IsIdentityRamp(gamma_);
    // A ramp that changes what is shown needs the picture in a buffer of its own.
    if (backBuffer_.onWindow() && !WindowMayServe(pp_) && MakeCurrent()) {
        LeaveWindowIfNeeded(false);
        backBuffer_.Bind();
    }
}

void STDMETHODCALLTYPE Device::GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) {
    if (swapChain != 0 || ramp == nullptr) return;
    *ramp = gamma_;
}

HRESULT STDMETHODCALLTYPE Device::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                                        DWORD stencil) {
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0 && target_.depthBits == 0) return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_STENCIL) != 0 && target_.stencilBits == 0) return D3DERR_INVALIDCALL;
    // Direct3D clears nothing for rectangles without a count, and the whole viewport for a
    // count without rectangles.
    if (count == 0 && rects != nullptr) return D3D_OK;
    if (rects == nullptr) count = 0;
    const float depth = std::clamp(z, 0.0f, 1.0f);
    // Depth that every sample holds already is left as it is.
    const bool depthAsAsked = depthUniform_ && depth == depthValue_;
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) mask |= GL_COLOR_BUFFER_BIT;
    if ((flags & D3DCLEAR_ZBUFFER) != 0 && !depthAsAsked) mask |= GL_DEPTH_BUFFER_BIT;
    if (flags & D3DCLEAR_STENCIL) mask |= GL_STENCIL_BUFFER_BIT;
    if (mask == 0 || !MakeCurrent()) return D3D_OK;

    // Direct3D clears whatever the write masks and the scissor state of drawing say; the
    // cache remembers what is set here, so the next draw restores its own.
    GlColor c = gl_from_d3d_color(color);
    if (target_.alphaLocked) c.a = 1.0f;
    glCache_.ClearColor(c.r, c.g, c.b, c.a);
    glCache_.ClearDepth(depth);
    glCache_.ClearStencil(static_cast<GLint>(stencil));
    glCache_.ColorMask(true, true, true, true);
    glCache_.DepthMask(true);
    glCache_.StencilMask(0xFFFFFFFF, 0xFFFFFFFF);
    glCache_.Enable(GL_SCISSOR_TEST, true);
    state_.dirty |= kDirtyDepth | kDirtyStencil | kDirtyRaster;

    // Every rectangle is cut to the viewport, and to the scissor rectangle while the scissor
    // test is on; without rectangles the viewport is cleared.
    const D3DVIEWPORT9& vp = state_.viewport;
    D3DRECT whole{static_cast<LONG>(vp.X), static_cast<LONG>(vp.Y), static_cast<LONG>(vp.X + vp.Width),
                  static_cast<LONG>(vp.Y + vp.Height)};
    D3DRECT limit = whole;
    if (state_.renderStates[D3DRS_SCISSORTESTENABLE] != FALSE) {
        const RECT& scissor = state_.scissorRect;
        limit = D3DRECT{std::max(limit.x1, scissor.left), std::max(limit.y1, scissor.top),
                        std::min(limit.x2, scissor.right), std::min(limit.y2, scissor.bottom)};
    }
    const D3DRECT* list = count != 0 ? rects : &whole;
    DWORD n = count != 0 ? count : 1;
    bool wholeTarget = false;
    for (DWORD i = 0; i < n; ++i) {
        LONG x1 = std::max(list[i].x1, limit.x1);
        LONG y1 = std::max(list[i].y1, limit.y1);
        LONG x2 = std::min(list[i].x2, limit.x2);
        LONG y2 = std::min(list[i].y2, limit.y2);
        if (x1 >= x2 || y1 >= y2) continue;
        if (x1 <= 0 && y1 <= 0 && x2 >= static_cast<LONG>(target_.width) && y2 >= static_cast<LONG>(target_.height)) {
            wholeTarget = true;
        }
        glCache_.Scissor(x1, static_cast<GLint>(target_.height) - y2, x2 - x1, y2 - y1);
        gl.Clear(mask);
    }
    if ((mask & GL_DEPTH_BUFFER_BIT) != 0) {
        // A part cleared to another value leaves the buffer uneven.
        depthUniform_ = wholeTarget;
        depthValue_ = depth;
    }
    CheckGlError("Clear");
    return D3D_OK;
}

bool Device::ReadBackBuffer(const RECT& rect, std::vector<DWORD>* pixels) {
    LONG w = rect.right - rect.left;
    LONG h = rect.bottom - rect.top;
    if (w <= 0 || h <= 0 || rect.left < 0 || rect.top < 0 || static_cast<UINT>(rect.right) > target_.width ||
        static_cast<UINT>(rect.bottom) > target_.height) {
        return false;
    }
    if (!MakeCurrent()) return false;
    gl.ReadBuffer(backBuffer_.readBuffer());
    ReadPixels(rect.left, rect.top, w, h, static_cast<GLint>(target_.height), pixels);
    if (target_.alphaLocked) {
        for (DWORD& pixel : *pixels) pixel |= 0xFF000000u;
    }
    CheckGlError("ReadBackBuffer");
    return true;
}

void Device::ReadPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLint framebufferHeight, std::vector<DWORD>* pixels) {
    pixels->assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    std::vector<DWORD> rows(pixels->size());
    gl.PixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.ReadPixels(x, framebufferHeight - y - h, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, rows.data());
    // GL's rows run bottom-up; Direct3D's top-down.
    for (GLsizei row = 0; row < h; ++row) {
        std::copy_n(rows.begin() + (h - 1 - row) * w, w, pixels->begin() + row * w);
    }
}

}  // namespace rh::d3d9
