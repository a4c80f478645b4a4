// 2D and cube textures and their surfaces: a level's bytes in the format's Direct3D layout,
// mirrored into a GL texture object row range by row range as locks end. Once GL holds a level,
// its CPU copy goes unless the texture needs it (see TextureStore::keepsCopies). Private to
// platform/d3d9.
#pragma once

#include "platform/d3d9/buffers.h"
#include "platform/d3d9/device_child.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/texture_access.h"

#include <d3d9.h>

#include <SDL_opengl.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace rh::d3d9 {

class Device;

// The number of levels of a full chain for a width x height level 0 (down to 1 x 1).
UINT FullChainLevels(UINT width, UINT height);

// The sampler parameters GL 2.1 keeps in a texture object: what was last sent to one texture,
// so that drawing sends only what changed.
struct GlSamplerParams {
    bool known = false;  // nothing was sent yet: GL's defaults are not Direct3D's
    GLint wrap[3] = {0, 0, 0};  // S, T, R
    GLint minFilter = 0;
    GLint magFilter = 0;
    GLfloat maxAnisotropy = 0.0f;
    GLint baseLevel = -1;
    GLfloat lodBias = 0.0f;
    std::array<GLfloat, 4> border{};
};

// What 2D and cube textures share: faces x levels of bytes, the locks and the GL object.
class TextureStore {
public:
    // One level of one face.
    struct Level {
        UINT width = 0;
        UINT height = 0;
        UINT pitch = 0;  // bytes from one row (of 4x4 blocks) to the next
        UINT rows = 0;   // rows (of blocks)
        // Not cleared until first needed (Bytes()): a level written whole before anything reads
        // it is never cleared. Null while GL alone holds the level (dropped after its upload).
        std::unique_ptr<uint8_t[]> bytes;
        size_t size = 0;
        bool cleared = false;  // bytes holds what the level holds: zeros, or what was written
        bool locked = false;
        bool readOnly = false;
        UINT lockedTop = 0;  // rows (of blocks) the lock covers, half-open
        UINT lockedBottom = 0;
    };

    // faces: 1 (GL_TEXTURE_2D) or 6 (GL_TEXTURE_CUBE_MAP). Arguments were validated.
    TextureStore(Device* device, const FormatInfo& format, DWORD usage, D3DPOOL pool, UINT width, UINT height,
                 UINT levels, UINT faces);
    ~TextureStore();
    TextureStore(const TextureStore&) = delete;
    TextureStore& operator=(const TextureStore&) = delete;

    // Makes the bytes (zeros to whoever reads them before they are written) and, unless the pool is system memory, the GL object. False when
    // memory runs out. GL receives a level's storage with its first upload: a level that is
    // filled before it is drawn crosses to GL once.
    bool Allocate();
    // With the GL texture bound on the active unit: gives GL every level it has not had yet
    // (drawing and reading back need the whole chain).
    void CompleteInGl() {
        if (!complete_) SpecifyMissing();
    }
    bool completeInGl() const { return complete_; }

    UINT levelCount() const { return levelCount_; }
    UINT faceCount() const { return faces_; }
    D3DFORMAT format() const { return format_.format; }
    D3DPOOL pool() const { return pool_; }
    DWORD usage() const { return usage_; }
    GLenum target() const { return faces_ == 6 ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D; }
    GLuint name() const { return name_; }
    bool ValidLevel(UINT face, UINT level) const { return face < faces_ && level < levelCount_; }
    const Level& level(UINT face, UINT index) const { return levels_[face * levelCount_ + index]; }

    HRESULT LevelDesc(UINT level, D3DSURFACE_DESC* desc) const;
    // The lock of LockRect; anyPool: as D3DX locks, whatever the pool and usage allow.
    // overwrite: the whole level, every byte of which the caller writes before Unlock.
    HRESULT Lock(UINT face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags, bool anyPool,
                 bool overwrite = false);
    // Ends the lock and uploads the rows it covered unless it was read-only. A level GL has not
    // had yet crosses whole: now when the store keeps no copies (and the copy goes), else it
    // waits for CompleteInGl.
    HRESULT Unlock(UINT face, UINT level);
    // SurfaceAccess::WriteWhole of one level.
    HRESULT WriteWhole(UINT face, UINT level, const uint8_t* bits, UINT pitch);
    // Whether levels keep their CPU copy once GL has them: textures without a GL object (system
    // memory), dynamic ones, DXT that GL holds decoded (its blocks cannot be read back), formats
    // GL stores with fewer bits than Direct3D's layout has, and any texture the program locked
    // again to read or patch it after its levels went to GL. Other levels live in GL alone and
    // a lock reads them back.
    bool keepsCopies() const { return keepCopies_; }
    // Whether GL holds red and blue exchanged and the texture's swizzle swaps them back when
    // sampling (a colour sent to GL for the texture, its border, is swapped too).
    bool swapsRedBlue() const { return swapRedBlue_; }
    // Whether GL stores the unused byte of an X8 format as alpha and sampling answers 1.
    bool opaqueAlpha() const { return opaqueAlpha_; }

    // The sampler parameters last sent to the GL object.
    GlSamplerParams& sent() { return sent_; }

private:
    Level& At(UINT face, UINT index) { return levels_[face * levelCount_ + index]; }
    // A level's bytes, zeros where nothing was written yet.
    uint8_t* Bytes(UINT face, UINT index);
    // Sends rows [top, bottom) (of blocks) of one level to GL, or the whole level when GL has
    // not had it yet; the GL texture must be bound on the active unit.
    void Upload(UINT face, UINT level, UINT top, UINT bottom);
    // Gives GL one level's storage and bytes.
    void Specify(UINT face, UINT level);
    // Specify with the level's bytes taken from `bytes` (the level's own layout).
    void SpecifyFrom(UINT face, UINT level, const uint8_t* bytes);
    // Frees a level's CPU copy when GL holds it and nothing needs the copy.
    void DropCopy(UINT face, UINT level);
    // Makes a CPU copy of a level that lives in GL alone, its contents read back unless the
    // caller overwrites it whole. False when memory runs out.
    bool RestoreCopy(UINT face, UINT level, bool overwrite);
    void SpecifyMissing();
    // GL's storage and transfer of the levels, when they differ from the format table's.
    void ChooseStorage();
    GLenum FaceTarget(UINT face) const { return faces_ == 6 ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + face : GL_TEXTURE_2D; }
    // Whether GL holds the blocks themselves, not their decoding.
    bool UploadsBlocks() const;
    // Texels over every level of every face.
    int64_t Texels() const;

    Device* device_;
    const FormatInfo& format_;
    DWORD usage_;
    D3DPOOL pool_;
    UINT width_;
    UINT height_;
    UINT levelCount_;
    UINT faces_;
    std::vector<Level> levels_;
    GLuint name_ = 0;
    bool blocksInGl_ = false;  // decided when the GL object is made
    std::vector<bool> specified_;  // per level: GL has had its storage
    bool complete_ = false;        // every level has
    bool keepCopies_ = true;       // decided when the GL object is made; see keepsCopies
    // How GL stores the levels and takes and gives back their bytes; decided with the GL object.
    GLenum storage_;
    GLenum transferFormat_;
    GLenum transferType_;
    bool swapRedBlue_ = false;
    bool opaqueAlpha_ = false;
    GlSamplerParams sent_;
};

class Texture final : public DeviceChild<IDirect3DTexture9, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9,
                                         IID_IDirect3DTexture9> {
public:
    Texture(Device* device, const FormatInfo& format, DWORD usage, D3DPOOL pool, UINT width, UINT height,
            UINT levels);

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override { return ShareDevice(device); }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD STDMETHODCALLTYPE GetLevelCount() override { return store_.levelCount(); }
    HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
    HRESULT STDMETHODCALLTYPE LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE UnlockRect(UINT level) override;

    TextureStore& store() { return store_; }

private:
    void ProgramHoldChanged(bool held) override { count_.Set(held); }

    TextureStore store_;
    DefaultPoolCount count_;
};

class CubeTexture final : public DeviceChild<IDirect3DCubeTexture9, IID_IDirect3DResource9,
                                             IID_IDirect3DBaseTexture9, IID_IDirect3DCubeTexture9> {
public:
    CubeTexture(Device* device, const FormatInfo& format, DWORD usage, D3DPOOL pool, UINT edge, UINT levels);

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override { return ShareDevice(device); }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_CUBETEXTURE; }
    DWORD STDMETHODCALLTYPE GetLevelCount() override { return store_.levelCount(); }
    HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) override;
    HRESULT STDMETHODCALLTYPE LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                                       DWORD flags) override;
    HRESULT STDMETHODCALLTYPE UnlockRect(D3DCUBEMAP_FACES face, UINT level) override;

    TextureStore& store() { return store_; }

private:
    void ProgramHoldChanged(bool held) override { count_.Set(held); }

    TextureStore store_;
    DefaultPoolCount count_;
};

// The store behind a base texture of this layer; null for any other object.
TextureStore* StoreOf(IDirect3DBaseTexture9* texture);

// One level of one face of a texture. It holds a program reference on its texture, so the
// texture lives as long as any of its surfaces.
class Surface final : public DeviceChild<SurfaceAccess, IID_IDirect3DResource9, IID_IDirect3DSurface9,
                                         kIidSurfaceAccess> {
public:
    // container is a Texture or CubeTexture of this layer; it gains a reference.
    Surface(Device* device, IDirect3DBaseTexture9* container, TextureStore& store, UINT face, UINT level);
    ~Surface() override;

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override { return ShareDevice(device); }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT STDMETHODCALLTYPE GetContainer(REFIID iid, void** container) override;
    HRESULT STDMETHODCALLTYPE GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE UnlockRect() override;
    HRESULT STDMETHODCALLTYPE LockAnyPool(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE LockAnyPoolToOverwrite(D3DLOCKED_RECT* locked) override;
    HRESULT STDMETHODCALLTYPE WriteWhole(const void* bits, UINT pitch) override;

private:
    IDirect3DBaseTexture9* container_;
    TextureStore& store_;
    UINT face_;
    UINT level_;
};

}  // namespace rh::d3d9
