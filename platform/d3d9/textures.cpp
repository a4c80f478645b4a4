// 2D and cube textures and their surfaces.

#include "platform/d3d9/textures.h"

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/gl.h"
#include "platform/d3dx9/pixel_formats.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace rh::d3d9 {
namespace {

// Test hooks (d3d9_testing.h).
bool s3tcDisabled = false;
bool swizzleDisabled = false;
int64_t liveTexels = 0;  // over every level of every texture with a GL object

constexpr DWORD kLockFlags = D3DLOCK_READONLY | D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK | D3DLOCK_NO_DIRTY_UPDATE;

bool IsBlocks(const FormatInfo& format) { return format.lock == LockLayout::Blocks4x4; }

// Checks what both creators take; the format's row, or null with *result the refusal.
const FormatInfo* CheckCreation(const D3DCAPS9& caps, UINT width, UINT height, UINT* levels, DWORD usage,
                                D3DFORMAT format, D3DPOOL pool, const void* out, HANDLE* sharedHandle,
                                HRESULT* result) {
    *result = D3DERR_INVALIDCALL;
    if (out == nullptr || sharedHandle != nullptr) return nullptr;
    if (width == 0 || height == 0 || width > caps.MaxTextureWidth || height > caps.MaxTextureHeight) return nullptr;
    UINT full = FullChainLevels(width, height);
    if (*levels > full) return nullptr;
    if (*levels == 0) *levels = full;
    // Render targets and depth textures are not offered; automatic mip maps neither.
    if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) != 0) {
        *result = D3DERR_NOTAVAILABLE;
        return nullptr;
    }
    if ((usage & ~DWORD{D3DUSAGE_DYNAMIC}) != 0) return nullptr;
    if (pool != D3DPOOL_DEFAULT && pool != D3DPOOL_MANAGED && pool != D3DPOOL_SYSTEMMEM) return nullptr;
    // A managed texture is copied to the card as the runtime sees fit: it cannot be dynamic.
    if (pool == D3DPOOL_MANAGED && (usage & D3DUSAGE_DYNAMIC) != 0) return nullptr;
    const FormatInfo* row = FindFormat(format);
    if (row == nullptr || !row->supported || row->kind != FormatKind::Color || row->internalFormat == 0) return nullptr;
    *result = D3D_OK;
    return row;
}

// Whether GL stores every bit of the format's texels, so that a level read back from GL is the
// level that was written. R5G6B5 goes to GL as RGB5, whose green has one bit fewer.
bool GlKeepsEveryBit(const FormatInfo& format) { return format.format != D3DFMT_R5G6B5; }

// Constants of GL 3.3 and ARB_texture_swizzle, with their registered values.
constexpr GLenum kTextureSwizzleR = 0x8E42;  // GL_TEXTURE_SWIZZLE_R
constexpr GLenum kTextureSwizzleB = 0x8E44;  // GL_TEXTURE_SWIZZLE_B
constexpr GLenum kTextureSwizzleA = 0x8E45;  // GL_TEXTURE_SWIZZLE_A

// Read-back bytes of a level whose fourth byte GL stores but answers as 1 when sampling: the
// unused byte reads as 0xFF, as it does from storage without alpha.
void OpaqueAlpha(uint8_t* bytes, size_t size) {
    for (size_t i = 3; i < size; i += 4) bytes[i] = 0xFF;
}

HRESULT OutOfMemory(D3DPOOL pool) { return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY; }

}  // namespace

UINT FullChainLevels(UINT width, UINT height) {
    UINT levels = 1;
    for (UINT side = std::max(width, height); side > 1; side >>= 1) ++levels;
    return levels;
}

namespace testing {

void DisableS3tc(bool disabled) { s3tcDisabled = disabled; }

void DisableTextureSwizzle(bool disabled) { swizzleDisabled = disabled; }

uint64_t LiveTextureTexels() { return static_cast<uint64_t>(liveTexels); }

bool ReadTextureLevel(IDirect3DBaseTexture9* texture, UINT face, UINT level, std::vector<DWORD>* pixels) {
    TextureStore* store = StoreOf(texture);
    if (store == nullptr || !store->ValidLevel(face, level) || store->name() == 0) return false;
    auto* device = static_cast<Device*>(DeviceObjectOf(texture)->device());
    if (!device->MakeCurrent()) return false;
    const TextureStore::Level& l = store->level(face, level);
    pixels->assign(size_t{l.width} * l.height, 0);
    device->glCache().BindTexture(0, store->target(), store->name());
    store->CompleteInGl();
    gl.PixelStorei(GL_PACK_ALIGNMENT, 4);
    GLenum target = store->faceCount() == 6 ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + face : GL_TEXTURE_2D;
    // A store that keeps red and blue exchanged holds the words as they are in RGBA's order.
    if (store->swapsRedBlue()) {
        gl.GetTexImage(target, static_cast<GLint>(level), GL_RGBA, GL_UNSIGNED_BYTE, pixels->data());
    } else {
        gl.GetTexImage(target, static_cast<GLint>(level), GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels->data());
    }
    if (store->opaqueAlpha()) OpaqueAlpha(reinterpret_cast<uint8_t*>(pixels->data()), pixels->size() * 4);
    // GL reads luminance back into red alone; Direct3D samples it as grey.
    GLenum glFormat = FindFormat(store->format())->glFormat;
    if (glFormat == GL_LUMINANCE || glFormat == GL_LUMINANCE_ALPHA) {
        for (DWORD& p : *pixels) {
            DWORD l = (p >> 16) & 0xFF;
            p = (p & 0xFF000000) | (l << 16) | (l << 8) | l;
        }
    }
    CheckGlError("ReadTextureLevel");
    return true;
}

}  // namespace testing

bool Device::s3tc() const { return d3d_->limits().s3tc && !s3tcDisabled; }

bool Device::textureSwizzle() const { return d3d_->limits().textureSwizzle && !swizzleDisabled; }

// ---- TextureStore ----

TextureStore::TextureStore(Device* device, const FormatInfo& format, DWORD usage, D3DPOOL pool, UINT width,
                           UINT height, UINT levels, UINT faces)
    : device_(device), format_(format), usage_(usage), pool_(pool), width_(width), height_(height),
      levelCount_(levels), faces_(faces), storage_(format.internalFormat), transferFormat_(format.glFormat),
      transferType_(format.glType) {}

TextureStore::~TextureStore() {
    if (name_ == 0) return;
    liveTexels -= Texels();
    if (!device_->MakeCurrent()) return;
    gl.DeleteTextures(1, &name_);
    device_->glCache().ForgetTexture(name_);
}

bool TextureStore::UploadsBlocks() const { return blocksInGl_; }

int64_t TextureStore::Texels() const {
    int64_t texels = 0;
    for (const Level& l : levels_) texels += int64_t{l.width} * l.height;
    return texels;
}

bool TextureStore::Allocate() {
    try {
        levels_.resize(size_t{faces_} * levelCount_);
        for (UINT face = 0; face < faces_; ++face) {
            for (UINT i = 0; i < levelCount_; ++i) {
                Level& l = At(face, i);
                l.width = std::max(width_ >> i, 1u);
                l.height = std::max(height_ >> i, 1u);
                if (IsBlocks(format_)) {
                    l.pitch = (l.width + 3) / 4 * format_.bytesPerPixel;
                    l.rows = (l.height + 3) / 4;
                } else {
                    l.pitch = l.width * format_.bytesPerPixel;
                    l.rows = l.height;
                }
                l.size = size_t{l.pitch} * l.rows;
                l.bytes = std::make_unique_for_overwrite<uint8_t[]>(l.size);
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    // System memory is the CPU's alone: never drawn, no GL object.
    if (pool_ == D3DPOOL_SYSTEMMEM || !device_->MakeCurrent()) return true;
    blocksInGl_ = IsBlocks(format_) && device_->s3tc();
    ChooseStorage();
    // Managed and default-pool textures live in GL's memory through losses and resets (the
    // context outlives them), so once GL has a level its copy is only a lock's: read back then.
    keepCopies_ = (usage_ & D3DUSAGE_DYNAMIC) != 0 || (IsBlocks(format_) && !blocksInGl_) || !GlKeepsEveryBit(format_);
    specified_.assign(levels_.size(), false);
    gl.GenTextures(1, &name_);
    liveTexels += Texels();
    device_->glCache().BindTexture(0, target(), name_);
    // Levels past the last one the texture has would leave GL's chain incomplete.
    gl.TexParameteri(target(), GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levelCount_ - 1));
    if (swapRedBlue_) {
        gl.TexParameteri(target(), kTextureSwizzleR, GL_BLUE);
        gl.TexParameteri(target(), kTextureSwizzleB, GL_RED);
    }
    if (opaqueAlpha_) gl.TexParameteri(target(), kTextureSwizzleA, GL_ONE);
    CheckGlError("TextureStore::Allocate");
    return true;
}

void TextureStore::ChooseStorage() {
    // The 32-bit formats go to GL as the bytes they are, into RGBA8 storage: drivers that keep
    // RGBA8 in that byte order (llvmpipe among them) copy such levels, where BGRA input or
    // storage without alpha costs a conversion of every texel. The texture's swizzle puts red
    // and blue back in their places when sampling, and answers 1 for an X8 format's alpha.
    // Without swizzles the format table's storage and transfer hold.
    if (!device_->textureSwizzle()) return;
    switch (format_.format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
            swapRedBlue_ = true;
            transferFormat_ = GL_RGBA;
            transferType_ = GL_UNSIGNED_BYTE;
            break;
        case D3DFMT_X8B8G8R8:
            break;
        default:
            return;
    }
    storage_ = GL_RGBA8;
    opaqueAlpha_ = format_.format != D3DFMT_A8R8G8B8;
}

uint8_t* TextureStore::Bytes(UINT face, UINT index) {
    Level& l = At(face, index);
    if (!l.cleared) {
        std::memset(l.bytes.get(), 0, l.size);
        l.cleared = true;
    }
    return l.bytes.get();
}

void TextureStore::Specify(UINT face, UINT index) {
    const uint8_t* bytes = Bytes(face, index);
    const Level& l = level(face, index);
    auto gLevel = static_cast<GLint>(index);
    auto w = static_cast<GLsizei>(l.width);
    auto h = static_cast<GLsizei>(l.height);
    if (blocksInGl_) {
        gl.CompressedTexImage2D(FaceTarget(face), gLevel, format_.internalFormat, w, h, 0,
                                static_cast<GLsizei>(l.size), bytes);
    } else if (IsBlocks(format_)) {
        // A DXT texture GL cannot hold as blocks holds their decoding.
        std::vector<uint32_t> decoded(size_t{l.width} * l.height);
        rh::d3dx9::DecodeDxt(format_.format, bytes, l.pitch, l.width, l.height,
                             reinterpret_cast<uint8_t*>(decoded.data()), l.width * 4);
        gl.TexImage2D(FaceTarget(face), gLevel, GL_RGBA8, w, h, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                      decoded.data());
    } else {
        gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
        gl.TexImage2D(FaceTarget(face), gLevel, static_cast<GLint>(storage_), w, h, 0, transferFormat_, transferType_,
                      bytes);
    }
    specified_[face * levelCount_ + index] = true;
    CheckGlError("TextureStore::Specify");
}

void TextureStore::SpecifyMissing() {
    for (UINT face = 0; face < faces_; ++face) {
        for (UINT i = 0; i < levelCount_; ++i) {
            if (!specified_[face * levelCount_ + i]) {
                Specify(face, i);
                DropCopy(face, i);
            }
        }
    }
    complete_ = true;
}

void TextureStore::DropCopy(UINT face, UINT index) {
    Level& l = At(face, index);
    if (keepCopies_ || l.locked || !specified_[face * levelCount_ + index]) return;
    l.bytes.reset();
    l.cleared = false;
}

bool TextureStore::RestoreCopy(UINT face, UINT index, bool overwrite) {
    Level& l = At(face, index);
    try {
        l.bytes = std::make_unique_for_overwrite<uint8_t[]>(l.size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Bytes the caller overwrites whole need neither GL's contents nor clearing.
    l.cleared = overwrite;
    if (overwrite) return true;
    // A texture locked to be read or patched after it went to GL is one the program reaches
    // again: reading back at every lock would cost more than keeping the copy.
    keepCopies_ = true;
    // Without the context the level reads as zeros (Bytes clears it).
    if (!device_->MakeCurrent()) return true;
    device_->glCache().BindTexture(0, target(), name_);
    gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
    if (blocksInGl_) {
        gl.GetCompressedTexImage(FaceTarget(face), static_cast<GLint>(index), l.bytes.get());
    } else {
        gl.GetTexImage(FaceTarget(face), static_cast<GLint>(index), transferFormat_, transferType_, l.bytes.get());
        if (opaqueAlpha_) OpaqueAlpha(l.bytes.get(), l.size);
    }
    l.cleared = true;
    CheckGlError("TextureStore::RestoreCopy");
    return true;
}

HRESULT TextureStore::LevelDesc(UINT index, D3DSURFACE_DESC* desc) const {
    if (desc == nullptr || index >= levelCount_) return D3DERR_INVALIDCALL;
    const Level& l = level(0, index);
    *desc = D3DSURFACE_DESC{format_.format, D3DRTYPE_SURFACE, usage_, pool_, D3DMULTISAMPLE_NONE, 0, l.width, l.height};
    return D3D_OK;
}

HRESULT TextureStore::Lock(UINT face, UINT index, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags,
                           bool anyPool, bool overwrite) {
    if (locked == nullptr) return D3DERR_INVALIDCALL;
    locked->Pitch = 0;
    locked->pBits = nullptr;
    if (!ValidLevel(face, index) || (flags & ~kLockFlags) != 0) return D3DERR_INVALIDCALL;
    bool dynamic = (usage_ & D3DUSAGE_DYNAMIC) != 0;
    // The card's own memory is the program's only through a dynamic texture.
    if (!anyPool && pool_ == D3DPOOL_DEFAULT && !dynamic) return D3DERR_INVALIDCALL;
    if ((flags & D3DLOCK_DISCARD) != 0 && (!dynamic || (flags & D3DLOCK_READONLY) != 0)) return D3DERR_INVALIDCALL;
    Level& l = At(face, index);
    if (l.locked) return D3DERR_INVALIDCALL;
    RECT r = rect != nullptr ? *rect : RECT{0, 0, static_cast<LONG>(l.width), static_cast<LONG>(l.height)};
    if (r.left < 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom || static_cast<UINT>(r.right) > l.width ||
        static_cast<UINT>(r.bottom) > l.height) {
        return D3DERR_INVALIDCALL;
    }
    size_t offset = 0;
    if (IsBlocks(format_)) {
        // Whole blocks only: a partial block at the level's edge counts as whole.
        auto aligned = [](LONG v, UINT edge) { return v % 4 == 0 || static_cast<UINT>(v) == edge; };
        if (r.left % 4 != 0 || r.top % 4 != 0 || !aligned(r.right, l.width) || !aligned(r.bottom, l.height)) {
            return D3DERR_INVALIDCALL;
        }
        l.lockedTop = static_cast<UINT>(r.top) / 4;
        l.lockedBottom = (static_cast<UINT>(r.bottom) + 3) / 4;
        offset = size_t{l.lockedTop} * l.pitch + size_t(r.left / 4) * format_.bytesPerPixel;
    } else {
        l.lockedTop = static_cast<UINT>(r.top);
        l.lockedBottom = static_cast<UINT>(r.bottom);
        offset = size_t{l.lockedTop} * l.pitch + size_t(r.left) * format_.bytesPerPixel;
    }
    // A level GL alone holds gets its copy back for the lock.
    if (l.bytes == nullptr && !RestoreCopy(face, index, overwrite)) return OutOfMemory(pool_);
    // DISCARD makes the old bytes undefined; keeping them costs nothing.
    l.locked = true;
    l.readOnly = (flags & D3DLOCK_READONLY) != 0;
    locked->Pitch = static_cast<INT>(l.pitch);
    // Bytes the caller overwrites whole need no clearing first.
    if (overwrite) l.cleared = true;
    locked->pBits = Bytes(face, index) + offset;
    return D3D_OK;
}

HRESULT TextureStore::Unlock(UINT face, UINT index) {
    if (!ValidLevel(face, index)) return D3DERR_INVALIDCALL;
    Level& l = At(face, index);
    if (!l.locked) return D3DERR_INVALIDCALL;
    l.locked = false;
    if (name_ == 0 || l.readOnly) return D3D_OK;
    // A level GL has not had yet crosses once, whole. A store that keeps its copies sends it
    // when a draw or a read first needs the chain (CompleteInGl), with what it holds then: a
    // texture filled level by level after its creation is not sent level by level while it is
    // being filled, nor at all if it is never drawn. Any other sends it now, so that its copy
    // goes at once and a texture being loaded is held twice only until its levels are unlocked.
    if (keepCopies_ && !specified_[face * levelCount_ + index]) return D3D_OK;
    if (!device_->MakeCurrent()) return D3D_OK;
    device_->glCache().BindTexture(0, target(), name_);
    Upload(face, index, l.lockedTop, l.lockedBottom);
    DropCopy(face, index);
    return D3D_OK;
}

void TextureStore::Upload(UINT face, UINT index, UINT top, UINT bottom) {
    const Level& l = level(face, index);
    if (top >= bottom) return;
    if (!specified_[face * levelCount_ + index]) {
        Specify(face, index);
        return;
    }
    auto gLevel = static_cast<GLint>(index);
    const uint8_t* rows = l.bytes.get() + size_t{top} * l.pitch;
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (!IsBlocks(format_)) {
        // Whole rows: a rectangle's rows are contiguous in the copy, its columns are not.
        gl.TexSubImage2D(FaceTarget(face), gLevel, 0, static_cast<GLint>(top), static_cast<GLsizei>(l.width),
                         static_cast<GLsizei>(bottom - top), transferFormat_, transferType_, rows);
    } else {
        UINT y = top * 4;
        UINT h = std::min(bottom * 4, l.height) - y;
        if (UploadsBlocks()) {
            gl.CompressedTexSubImage2D(FaceTarget(face), gLevel, 0, static_cast<GLint>(y),
                                       static_cast<GLsizei>(l.width), static_cast<GLsizei>(h), format_.internalFormat,
                                       static_cast<GLsizei>(size_t{bottom - top} * l.pitch), rows);
        } else {
            std::vector<uint32_t> decoded(size_t{l.width} * h);
            rh::d3dx9::DecodeDxt(format_.format, rows, l.pitch, l.width, h, reinterpret_cast<uint8_t*>(decoded.data()),
                                 l.width * 4);
            gl.TexSubImage2D(FaceTarget(face), gLevel, 0, static_cast<GLint>(y), static_cast<GLsizei>(l.width),
                             static_cast<GLsizei>(h), GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, decoded.data());
        }
    }
    CheckGlError("TextureStore::Upload");
}

// ---- Texture ----

Texture::Texture(Device* device, const FormatInfo& format, DWORD usage, D3DPOOL pool, UINT width, UINT height,
                 UINT levels)
    : DeviceChild(device), store_(device, format, usage, pool, width, height, levels, 1), count_(device, pool) {}

HRESULT STDMETHODCALLTYPE Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    return store_.LevelDesc(level, desc);
}

HRESULT STDMETHODCALLTYPE Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (!store_.ValidLevel(0, level)) return D3DERR_INVALIDCALL;
    *surface = new Surface(static_cast<Device*>(device()), this, store_, 0, level);
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    return store_.Lock(0, level, locked, rect, flags, false);
}

HRESULT STDMETHODCALLTYPE Texture::UnlockRect(UINT level) { return store_.Unlock(0, level); }

// ---- CubeTexture ----

CubeTexture::CubeTexture(Device* device, const FormatInfo& format, DWORD usage, D3DPOOL pool, UINT edge, UINT levels)
    : DeviceChild(device), store_(device, format, usage, pool, edge, edge, levels, 6), count_(device, pool) {}

HRESULT STDMETHODCALLTYPE CubeTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    return store_.LevelDesc(level, desc);
}

HRESULT STDMETHODCALLTYPE CubeTexture::GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level,
                                                         IDirect3DSurface9** surface) {
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (!store_.ValidLevel(static_cast<UINT>(face), level)) return D3DERR_INVALIDCALL;
    *surface = new Surface(static_cast<Device*>(device()), this, store_, static_cast<UINT>(face), level);
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE CubeTexture::LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked,
                                                const RECT* rect, DWORD flags) {
    return store_.Lock(static_cast<UINT>(face), level, locked, rect, flags, false);
}

HRESULT STDMETHODCALLTYPE CubeTexture::UnlockRect(D3DCUBEMAP_FACES face, UINT level) {
    return store_.Unlock(static_cast<UINT>(face), level);
}

TextureStore* StoreOf(IDirect3DBaseTexture9* texture) {
    if (auto* flat = dynamic_cast<Texture*>(texture)) return &flat->store();
    if (auto* cube = dynamic_cast<CubeTexture*>(texture)) return &cube->store();
    return nullptr;
}

// ---- Surface ----

Surface::Surface(Device* device, IDirect3DBaseTexture9* container, TextureStore& store, UINT face, UINT level)
    : DeviceChild(device), container_(container), store_(store), face_(face), level_(level) {
    container_->AddRef();
}

Surface::~Surface() { container_->Release(); }

HRESULT STDMETHODCALLTYPE Surface::GetContainer(REFIID iid, void** container) {
    if (container == nullptr) return D3DERR_INVALIDCALL;
    return container_->QueryInterface(iid, container);
}

HRESULT STDMETHODCALLTYPE Surface::GetDesc(D3DSURFACE_DESC* desc) { return store_.LevelDesc(level_, desc); }

HRESULT STDMETHODCALLTYPE Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    return store_.Lock(face_, level_, locked, rect, flags, false);
}

HRESULT STDMETHODCALLTYPE Surface::LockAnyPool(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    return store_.Lock(face_, level_, locked, rect, flags, true);
}

HRESULT STDMETHODCALLTYPE Surface::LockAnyPoolToOverwrite(D3DLOCKED_RECT* locked) {
    return store_.Lock(face_, level_, locked, nullptr, 0, true, true);
}

HRESULT STDMETHODCALLTYPE Surface::UnlockRect() { return store_.Unlock(face_, level_); }

// ---- The device's creators ----

HRESULT STDMETHODCALLTYPE Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                                D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* sharedHandle) {
    if (texture != nullptr) *texture = nullptr;
    HRESULT hr = D3D_OK;
    const FormatInfo* row = CheckCreation(caps_, width, height, &levels, usage, format, pool, texture, sharedHandle, &hr);
    if (row == nullptr) return hr;
    auto* made = new Texture(this, *row, usage, pool, width, height, levels);
    if (!made->store().Allocate()) {
        made->Release();
        return OutOfMemory(pool);
    }
    *texture = made;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format,
                                                    D3DPOOL pool, IDirect3DCubeTexture9** texture,
                                                    HANDLE* sharedHandle) {
    if (texture != nullptr) *texture = nullptr;
    HRESULT hr = D3D_OK;
    const FormatInfo* row =
        CheckCreation(caps_, edgeLength, edgeLength, &levels, usage, format, pool, texture, sharedHandle, &hr);
    if (row == nullptr) return hr;
    auto* made = new CubeTexture(this, *row, usage, pool, edgeLength, levels);
    if (!made->store().Allocate()) {
        made->Release();
        return OutOfMemory(pool);
    }
    *texture = made;
    return D3D_OK;
}

}  // namespace rh::d3d9
