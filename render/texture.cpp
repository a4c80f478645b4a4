#include "render/texture.h"

#include "core/text/paths.h"
#include "core/time/clock.h"
#include "render/format_facts.h"
#include "render/texture_script.h"

#include <cstring>

namespace {

// A view may show a view; the chain is followed this far and no further, so that a view made
// to show itself (or a ring of views) cannot hang a draw.
constexpr int kMaxViewHops = 8;

bool IsBlockCompressed(D3DFORMAT format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
           format == D3DFMT_DXT5;
}

// The rows a lock of the level shows: pixel rows, or rows of 4x4 blocks for the DXT formats
// (whose pitch is one row of blocks).
UINT LockedRows(const D3DSURFACE_DESC& desc) {
    return IsBlockCompressed(desc.Format) ? (desc.Height + 3) / 4 : desc.Height;
}

void CopyOut(const D3DLOCKED_RECT& locked, UINT rows, ByteBuffer& out) {
    const int32_t bytes = static_cast<int32_t>(rows) * locked.Pitch;
    out.Assign(locked.pBits, bytes > 0 ? bytes : 0);
}

void CopyIn(const ByteBuffer& saved, const D3DLOCKED_RECT& locked, UINT rows) {
    int32_t bytes = static_cast<int32_t>(rows) * locked.Pitch;
    if (saved.Size() < bytes) bytes = saved.Size();
    if (bytes > 0) std::memcpy(locked.pBits, saved.Data(), static_cast<size_t>(bytes));
}

uint32_t ReadPixel(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint32_t(p[i]) << (8 * i);
    return value;
}

void WritePixel(uint8_t* p, int bytes, uint32_t value) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t LowMask(uint32_t bits) { return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1u; }

}  // namespace

// ---- Life

Texture::~Texture() {
    Unload(true);
    // Unload keeps the children of a sub-texture (its parent's clear-out reaches them through
    // this destructor); and views are kept by Unload for whoever holds them.
    DeleteAnimations();
    DeleteSubTextures();
    while (owned_.count() > 0) delete owned_.Pop();
}

bool Texture::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<Texture, RefCounted>(this, id, out);
}

void Texture::Unload(bool clearSubs) {
    view_ = false;
    ownedData_.Free();
    data_ = nullptr;
    dataSize_ = 0;
    for (ByteBuffer& level : savedLevels_) level.Free();
    savedCubeLevels_.reset();
    // Released while the parent is still known: a sub-texture must not release what it shares.
    ReleaseDeviceTextures();
    const bool hadParent = parent_ != nullptr;
    LeaveParent();
    if (clearSubs && !hadParent) {
        DeleteAnimations();
        DeleteSubTextures();
        ResetViews(nullptr);
    }
}

void Texture::ReleaseDeviceTextures() {
    if (SharesParentTexture()) {
        // The parent's: forgotten, never released.
        texture2D_ = nullptr;
        cubeTexture_ = nullptr;
        return;
    }
    if (texture2D_ != nullptr) texture2D_->Release();
    if (cubeTexture_ != nullptr) cubeTexture_->Release();
    texture2D_ = nullptr;
    cubeTexture_ = nullptr;
}

void Texture::LeaveParent() {
    if (parent_ == nullptr) return;
    Texture* holder = nullptr;
    if (parent_->subs_.Find(id_, holder) != nullptr && holder == this) {
        parent_->subs_.Erase(id_);
    } else {
        parent_->owned_.RemoveAll(this);
    }
    parent_ = nullptr;
    borrowsParent_ = false;
}

void Texture::StoreParameters(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              bool cube) {
    desc_ = D3DSURFACE_DESC{};
    desc_.Format = format;
    desc_.Type = D3DRTYPE_SURFACE;
    desc_.Usage = usage;
    desc_.Pool = pool;
    desc_.Width = width;
    desc_.Height = height;
    levels_ = static_cast<int32_t>(levels);
    cube_ = cube;
}

// ---- Creation

bool Texture::CreateEmpty(int32_t flags, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, bool cube, bool clearSubs) {
    Unload(clearSubs);
    if (!RegisterDeviceResource(this)) return false;
    sourceFlags_ = flags | kTextureEmpty;
    StoreParameters(width, height, levels, usage, format, pool, cube);
    if ((flags & kTextureDeferred) != 0) return true;
    return CreateDeviceTexture();
}

bool Texture::CreateFromFile(const String& path, int32_t flags, UINT width, UINT height, UINT levels, DWORD usage,
                             D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                             bool cube, bool clearSubs) {
    Unload(clearSubs);
    if (!RegisterDeviceResource(this)) return false;
    sourceFlags_ = flags;
    filter_ = filter;
    mipFilter_ = mipFilter;
    colorKey_ = colorKey;
    fileName_ = path;
    StoreParameters(width, height, levels, usage, format, pool, cube);
    if ((flags & kTextureDeferred) != 0) return true;
    if ((flags & kTextureSaveData) != 0) {
        FileRef file(path);
        if (!file.ReadWholeFile(ownedData_)) return false;
        data_ = ownedData_.Data();
        dataSize_ = ownedData_.Size();
        return CreateFromFileData();
    }
    if ((flags & kTextureLentData) != 0) return false;
    HRESULT hr;
    if (cube_) {
        hr = D3DXCreateCubeTextureFromFileExA(g_device, fileName_.Text(), width, levels, usage, format, pool, filter,
                                              mipFilter, colorKey, &imageInfo_, nullptr, &cubeTexture_);
    } else {
        hr = D3DXCreateTextureFromFileExA(g_device, fileName_.Text(), width, height, levels, usage, format, pool,
                                          filter, mipFilter, colorKey, &imageInfo_, nullptr, &texture2D_);
    }
    if (hr != D3D_OK) return false;
    RefreshDescription();
    return true;
}

bool Texture::CreateFromMemory(const void* data, int32_t size, int32_t kind, UINT width, UINT height, UINT levels,
                               DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                               D3DCOLOR colorKey, bool cube, bool clearSubs) {
    Unload(clearSubs);
    if (!RegisterDeviceResource(this)) return false;
    sourceFlags_ = kind;
    filter_ = filter;
    mipFilter_ = mipFilter;
    colorKey_ = colorKey;
    StoreParameters(width, height, levels, usage, format, pool, cube);
    if (size < 0 || (kind & kTextureSaveName) != 0) return false;
    if ((kind & kTextureLentData) != 0) {
        data_ = static_cast<const uint8_t*>(data);
        dataSize_ = size;
    } else if ((kind & kTextureSaveData) != 0) {
        ownedData_.Assign(data, size);
        data_ = ownedData_.Data();
        dataSize_ = ownedData_.Size();
    } else {
        return false;
    }
    if ((kind & kTextureDeferred) != 0) return true;
    return CreateFromFileData();
}

bool Texture::CreateFromFileData() {
    HRESULT hr;
    const UINT levels = static_cast<UINT>(levels_);
    if (cube_) {
        hr = D3DXCreateCubeTextureFromFileInMemoryEx(g_device, data_, static_cast<UINT>(dataSize_), desc_.Width,
                                                     levels, desc_.Usage, desc_.Format, desc_.Pool, filter_,
                                                     mipFilter_, colorKey_, &imageInfo_, nullptr, &cubeTexture_);
    } else {
        hr = D3DXCreateTextureFromFileInMemoryEx(g_device, data_, static_cast<UINT>(dataSize_), desc_.Width,
                                                 desc_.Height, levels, desc_.Usage, desc_.Format, desc_.Pool,
                                                 filter_, mipFilter_, colorKey_, &imageInfo_, nullptr, &texture2D_);
    }
    if (hr != D3D_OK) return false;
    RefreshDescription();
    return true;
}

bool Texture::Load(const TextureRequest& request) {
    Unload(true);
    FileRef locator = request.locator;
    int32_t kind = kTextureEmpty;
    if ((locator.flags & FileRef::kDisk) != 0 || (request.flags & kRequestId) != 0) {
        kind = locator.noCopy ? kTextureSaveData : kTextureSaveName;
    }
    UINT width = 0;
    UINT height = 0;
    UINT levels = 0;
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_MANAGED;
    DWORD filter = D3DX_FILTER_BOX;
    DWORD mipFilter = D3DX_FILTER_BOX;
    D3DCOLOR colorKey = 0;
    const int32_t flags = request.flags;
    if ((flags & kRequestFormat) != 0) format = request.format;
    if ((flags & kRequestColorKey) != 0) colorKey = request.colorKey;
    if ((flags & kRequestSize) != 0) {
        width = static_cast<UINT>(request.width);
        height = static_cast<UINT>(request.height);
    }
    if ((flags & kRequestUsage) != 0) usage = request.usage;
    if ((flags & kRequestPool) != 0) pool = request.pool;
    if ((flags & kRequestFilters) != 0) {
        filter = request.filter;
        mipFilter = request.mipFilter;
    }
    if ((flags & kRequestLevels) != 0) levels = static_cast<UINT>(request.levels);

    // Only the lower-case extension names a description; "TS" is left to D3DX (and fails).
    if (StringEqualsText(ExtractExtension(locator.name), "ts")) return LoadTextureScript(this, locator);

    if ((locator.flags & FileRef::kDisk) != 0) {
        const int32_t deferred = request.deferred ? kTextureDeferred : 0;
        return CreateFromFile(locator.name, kind | deferred, width, height, levels, usage, format, pool, filter,
                              mipFilter, colorKey, request.cube, request.clearSubs);
    }
    if ((locator.flags & (FileRef::kArchive | FileRef::kResource | FileRef::kMemory)) != 0) {
        String bytes;
        bool lent = true;
        if (!locator.ReadWholeFile(bytes, &lent)) return false;
        return CreateFromMemory(bytes.data(), bytes.length(), lent ? kTextureLentData : kTextureSaveData, width,
                                height, levels, usage, format, pool, filter, mipFilter, colorKey, request.cube,
                                request.clearSubs);
    }
    return CreateEmpty(kind, width, height, levels, usage, format, pool, request.cube, request.clearSubs);
}

// ---- Device life

bool Texture::OnDeviceRestore() {
    if ((sourceFlags_ & kTextureDeferred) != 0) return true;
    if (SharesParentTexture()) {
        texture2D_ = parent_->texture2D_;
        desc_ = parent_->desc_;
        return parentSpace_ ? ReloadIntoParent() : true;
    }
    if (!CreateDeviceTexture()) return false;
    bool ok = true;
    ForEachChild([&](Texture* sub) {
        if (sub->SharesParentTexture()) {
            sub->texture2D_ = texture2D_;
            sub->desc_ = desc_;
        }
        if (!sub->OnDeviceRestore()) ok = false;
    });
    return ok;
}

bool Texture::CreateDeviceTexture() {
    // A texture restored twice without a loss between keeps one Direct3D texture, not two.
    ReleaseDeviceTextures();
    const UINT levels = static_cast<UINT>(levels_);
    HRESULT hr = D3D_OK;
    if ((sourceFlags_ & kTextureEmpty) != 0) {
        if (noTexture_) return true;
        if (cube_) {
            hr = D3DXCreateCubeTexture(g_device, desc_.Width, levels, desc_.Usage, desc_.Format, desc_.Pool,
                                       &cubeTexture_);
        } else {
            hr = D3DXCreateTexture(g_device, desc_.Width, desc_.Height, levels, desc_.Usage, desc_.Format,
                                   desc_.Pool, &texture2D_);
        }
        if (hr != D3D_OK) return false;
        RefreshDescription();
        return WriteSavedLevels();
    }
    if ((sourceFlags_ & kTextureSaveName) != 0) {
        if (cube_) {
            hr = D3DXCreateCubeTextureFromFileExA(g_device, fileName_.Text(), desc_.Width, levels, desc_.Usage,
                                                  desc_.Format, desc_.Pool, filter_, mipFilter_, colorKey_,
                                                  &imageInfo_, nullptr, &cubeTexture_);
        } else {
            hr = D3DXCreateTextureFromFileExA(g_device, fileName_.Text(), desc_.Width, desc_.Height, levels,
                                              desc_.Usage, desc_.Format, desc_.Pool, filter_, mipFilter_,
                                              colorKey_, &imageInfo_, nullptr, &texture2D_);
        }
        if (hr != D3D_OK) return false;
        RefreshDescription();
        return true;
    }
    if ((sourceFlags_ & (kTextureSaveData | kTextureLentData)) != 0) {
        if (data_ == nullptr) {
            if ((sourceFlags_ & kTextureSaveData) == 0) return false;
            FileRef file(fileName_);
            if (!file.ReadWholeFile(ownedData_)) return false;
            data_ = ownedData_.Data();
            dataSize_ = ownedData_.Size();
        }
        return CreateFromFileData();
    }
    return true;
}

bool Texture::WriteSavedLevels() {
    if (cube_) {
        if (cubeTexture_ == nullptr) return false;
        for (int32_t level = 0; level < levels_ && level < kMaxLevels; ++level) {
            D3DSURFACE_DESC desc{};
            if (cubeTexture_->GetLevelDesc(static_cast<UINT>(level), &desc) != D3D_OK) return false;
            for (int face = 0; face < kCubeFaces; ++face) {
                if (savedCubeLevels_ == nullptr) continue;  // nothing saved
                const ByteBuffer& saved = savedCubeLevels_->levels[face][level];
                if (saved.Size() == 0) continue;
                D3DLOCKED_RECT locked{};
                const auto f = static_cast<D3DCUBEMAP_FACES>(face);
                if (cubeTexture_->LockRect(f, static_cast<UINT>(level), &locked, nullptr, 0) != D3D_OK) return false;
                CopyIn(saved, locked, LockedRows(desc));
                cubeTexture_->UnlockRect(f, static_cast<UINT>(level));
            }
        }
        return true;
    }
    if (texture2D_ == nullptr) return false;
    for (int32_t level = 0; level < levels_ && level < kMaxLevels; ++level) {
        const ByteBuffer& saved = savedLevels_[level];
        if (saved.Size() == 0) continue;
        D3DSURFACE_DESC desc{};
        if (texture2D_->GetLevelDesc(static_cast<UINT>(level), &desc) != D3D_OK) return false;
        D3DLOCKED_RECT locked{};
        if (!LockLevel(static_cast<UINT>(level), 0, &locked)) return false;
        CopyIn(saved, locked, LockedRows(desc));
        UnlockLevel(static_cast<UINT>(level));
    }
    return true;
}

bool Texture::ReloadIntoParent() {
    const bool fromName = (sourceFlags_ & kTextureSaveName) != 0;
    const bool fromData = (sourceFlags_ & (kTextureSaveData | kTextureLentData)) != 0;
    if (!fromName && !fromData) return true;
    IDirect3DSurface9* surface = GetSurface(0);
    if (surface == nullptr) return false;
    const RECT rect{rect_.left, rect_.top, rect_.right, rect_.bottom};
    HRESULT hr;
    if (fromName) {
        hr = D3DXLoadSurfaceFromFileA(surface, nullptr, &rect, fileName_.Text(), nullptr, filter_, colorKey_,
                                      &imageInfo_);
    } else {
        hr = D3DXLoadSurfaceFromFileInMemory(surface, nullptr, &rect, data_, static_cast<UINT>(dataSize_), nullptr,
                                             filter_, colorKey_, &imageInfo_);
    }
    surface->Release();
    return hr == D3D_OK;
}

bool Texture::OnDeviceLost() {
    ReleaseDeviceTextures();
    ForEachChild([](Texture* sub) { sub->OnDeviceLost(); });
    return true;
}

// ---- Queries

bool Texture::FormatHasAlpha() const { return ::FormatHasAlpha(desc_.Format); }

Point Texture::GetSize() const {
    if (parent_ != nullptr) return Point(rect_.right - rect_.left, rect_.bottom - rect_.top);
    return Point(static_cast<int32_t>(desc_.Width), static_cast<int32_t>(desc_.Height));
}

IDirect3DSurface9* Texture::GetSurface(UINT level) {
    if (texture2D_ == nullptr) return nullptr;
    IDirect3DSurface9* surface = nullptr;
    if (texture2D_->GetSurfaceLevel(level, &surface) != D3D_OK) return nullptr;
    return surface;
}

IDirect3DSurface9* Texture::GetCubeSurface(D3DCUBEMAP_FACES face, UINT level) {
    if (cubeTexture_ == nullptr) return nullptr;
    IDirect3DSurface9* surface = nullptr;
    if (cubeTexture_->GetCubeMapSurface(face, level, &surface) != D3D_OK) return nullptr;
    return surface;
}

bool Texture::LockLevel(UINT level, DWORD flags, D3DLOCKED_RECT* locked) {
    return texture2D_ != nullptr && texture2D_->LockRect(level, locked, nullptr, flags) == D3D_OK;
}

void Texture::UnlockLevel(UINT level) {
    if (texture2D_ != nullptr) texture2D_->UnlockRect(level);
}

UvRect Texture::GetUVRect() const {
    UvRect uv;
    if (parent_ != nullptr && parentSpace_) {
        const auto width = static_cast<float>(parent_->desc_.Width);
        const auto height = static_cast<float>(parent_->desc_.Height);
        if (parent_->desc_.Width != 0 && parent_->desc_.Height != 0) {
            uv.left = static_cast<float>(rect_.left) / width;
            uv.top = static_cast<float>(rect_.top) / height;
            uv.right = static_cast<float>(rect_.right) / width;
            uv.bottom = static_cast<float>(rect_.bottom) / height;
        }
    }
    return uv;
}

TypedMatrix Texture::GetUVMatrix() const {
    TypedMatrix m;
    if (parent_ == nullptr || !parentSpace_) return m;
    const UvRect uv = GetUVRect();
    m.At(0, 0) = uv.right - uv.left;
    m.At(1, 1) = uv.bottom - uv.top;
    m.At(2, 0) = uv.left;
    m.At(2, 1) = uv.top;
    m.kind = kMatrixGeneral;
    return m;
}

Texture* Texture::Shown() {
    Texture* shown = this;
    for (int hops = 0; shown->view_ && hops < kMaxViewHops; ++hops) {
        shown->playback_.Advance(ClockNow());
        Texture* frame = shown->playback_.frame;
        if (frame == nullptr) return nullptr;
        if (frame == shown) break;
        shown = frame;
    }
    return shown;
}

IDirect3DTexture9* Texture::GetTexture2D() {
    Texture* shown = Shown();
    if (shown == nullptr) return nullptr;
    if (shown->texture2D_ == nullptr) {
        // A sub-texture waits for its parent: only a parent not made yet is made here (making a
        // present one again every frame would cost a whole load per draw).
        Texture* maker = shown->parent_ != nullptr ? shown->parent_ : shown;
        if ((maker->sourceFlags_ & kTextureDeferred) != 0) {
            maker->sourceFlags_ &= ~kTextureDeferred;
            maker->OnDeviceRestore();
        }
    }
    return shown->texture2D_;
}

IDirect3DCubeTexture9* Texture::GetCubeTexture() {
    Texture* shown = Shown();
    if (shown == nullptr) return nullptr;
    if (shown->cubeTexture_ == nullptr && shown->parent_ == nullptr &&
        (shown->sourceFlags_ & kTextureDeferred) != 0) {
        shown->sourceFlags_ &= ~kTextureDeferred;
        shown->OnDeviceRestore();
    }
    return shown->cubeTexture_;
}

IDirect3DBaseTexture9* Texture::GetBaseTexture() {
    if (cube_) return GetCubeTexture();
    return GetTexture2D();
}

void Texture::RefreshDescription() {
    if (texture2D_ != nullptr) {
        texture2D_->GetLevelDesc(0, &desc_);
        levels_ = static_cast<int32_t>(texture2D_->GetLevelCount());
    } else if (cubeTexture_ != nullptr) {
        cubeTexture_->GetLevelDesc(0, &desc_);
        levels_ = static_cast<int32_t>(cubeTexture_->GetLevelCount());
    }
    if (parent_ == nullptr || !parentSpace_) {
        rect_ = Rect(0, 0, static_cast<int32_t>(desc_.Width), static_cast<int32_t>(desc_.Height));
    }
    UpdateSubTextures();
}

bool Texture::Matches(const TextureRequest& request) const {
    const int32_t flags = request.flags;
    if ((flags & kRequestFormat) != 0 && desc_.Format != request.format) return false;
    if ((flags & kRequestColorKey) != 0 && colorKey_ != request.colorKey) return false;
    if ((flags & kRequestSize) != 0 && (desc_.Width != static_cast<UINT>(request.width) ||
                                        desc_.Height != static_cast<UINT>(request.height))) {
        return false;
    }
    if ((flags & kRequestUsage) != 0 && desc_.Usage != request.usage) return false;
    if ((flags & kRequestPool) != 0 && desc_.Pool != request.pool) return false;
    if ((flags & kRequestFilters) != 0 && (filter_ != request.filter || mipFilter_ != request.mipFilter)) {
        return false;
    }
    if ((flags & kRequestLevels) != 0 && levels_ != request.levels) return false;
    return true;
}

// ---- Saved pixels, normal maps, files

bool Texture::SaveLevels() {
    if (levels_ < 1) return true;
    const int32_t levels = levels_ < kMaxLevels ? levels_ : kMaxLevels;
    if (cube_) {
        if (cubeTexture_ == nullptr) return false;
        for (int32_t level = 0; level < levels; ++level) {
            for (int face = 0; face < kCubeFaces; ++face) {
                const auto f = static_cast<D3DCUBEMAP_FACES>(face);
                IDirect3DSurface9* surface = GetCubeSurface(f, static_cast<UINT>(level));
                if (surface == nullptr) return false;
                D3DSURFACE_DESC desc{};
                D3DLOCKED_RECT locked{};
                const bool ok = surface->GetDesc(&desc) == D3D_OK &&
                                surface->LockRect(&locked, nullptr, D3DLOCK_READONLY) == D3D_OK;
                if (ok) {
                    if (savedCubeLevels_ == nullptr) savedCubeLevels_ = std::make_unique<SavedCubeLevels>();
                    CopyOut(locked, LockedRows(desc), savedCubeLevels_->levels[face][level]);
                    surface->UnlockRect();
                }
                surface->Release();
                if (!ok) return false;
            }
        }
        return true;
    }
    if (texture2D_ == nullptr) return false;
    for (int32_t level = 0; level < levels; ++level) {
        D3DSURFACE_DESC desc{};
        D3DLOCKED_RECT locked{};
        if (texture2D_->GetLevelDesc(static_cast<UINT>(level), &desc) != D3D_OK) return false;
        if (!LockLevel(static_cast<UINT>(level), D3DLOCK_READONLY, &locked)) return false;
        CopyOut(locked, LockedRows(desc), savedLevels_[level]);
        UnlockLevel(static_cast<UINT>(level));
    }
    return true;
}

bool Texture::ConvertToNormalMap(D3DFORMAT format, DWORD flags, DWORD channel, float amplitude,
                                 bool heightToAlpha) {
    // Pixels shared with the parent belong to the parent: converting them here would convert
    // the parent's texture and then release it as if it were this one's.
    if (SharesParentTexture()) return false;
    if (texture2D_ != nullptr) {
        // The normals are worked out in system memory, where every lock is plain memory, and
        // the finished levels go to the drawn texture once: working in the drawn texture would
        // send each level to the device, read it back for the heights and send it again.
        Texture normals;
        if (!normals.CreateEmpty(kTextureEmpty, desc_.Width, desc_.Height, static_cast<UINT>(levels_), 0, format,
                                 D3DPOOL_SYSTEMMEM, false, false)) {
            return false;
        }
        if (D3DXComputeNormalMap(normals.texture2D_, texture2D_, nullptr, flags, channel, amplitude) != D3D_OK) {
            return false;
        }
        if (heightToAlpha && !CopyHeightToAlpha(normals, channel)) return false;
        if (!normals.SaveLevels()) return false;

        for (int level = 0; level < kMaxLevels; ++level) savedLevels_[level] = std::move(normals.savedLevels_[level]);
        ReleaseDeviceTextures();
        sourceFlags_ = normals.sourceFlags_;
        desc_ = normals.desc_;
        desc_.Pool = D3DPOOL_MANAGED;
        imageInfo_ = normals.imageInfo_;
        levels_ = normals.levels_;
        // The picture's bytes would only build the height map again.
        ownedData_.Free();
        data_ = nullptr;
        dataSize_ = 0;
        // The managed texture with the saved levels; the sub-textures that show these pixels
        // held the old texture and are pointed at the new one.
        if (!CreateDeviceTexture()) return false;
    }
    bool ok = true;
    ForEachChild([&](Texture* sub) {
        if (ok && !sub->SharesParentTexture()) {
            ok = sub->ConvertToNormalMap(format, flags, channel, amplitude, heightToAlpha);
        }
    });
    return ok;
}

bool Texture::CopyHeightToAlpha(Texture& normals, DWORD channel) {
    const FormatChannelBits to = FormatChannels(normals.desc_.Format);
    if (to.alphaBits == 0) return true;
    const FormatChannelBits from = FormatChannels(desc_.Format);
    uint32_t shift = from.luminanceShift;
    uint32_t bits = from.luminanceBits;
    if (channel == D3DX_CHANNEL_RED && from.redBits != 0) {
        shift = from.redShift;
        bits = from.redBits;
    } else if (channel == D3DX_CHANNEL_GREEN && from.greenBits != 0) {
        shift = from.greenShift;
        bits = from.greenBits;
    } else if (channel == D3DX_CHANNEL_BLUE && from.blueBits != 0) {
        shift = from.blueShift;
        bits = from.blueBits;
    }
    const int fromBytes = FormatBits(desc_.Format) / 8;
    const int toBytes = FormatBits(normals.desc_.Format) / 8;
    // No height channel, or a compressed source (no pixel size): the normal map keeps its
    // alpha rather than reading nonsense.
    if (bits == 0 || fromBytes < 1 || fromBytes > 4 || toBytes < 1 || toBytes > 4) return true;

    const double fromMax = static_cast<double>(LowMask(bits));
    const double toMax = static_cast<double>(LowMask(to.alphaBits));
    const uint32_t alphaMask = LowMask(to.alphaBits) << to.alphaShift;
    const auto alphaBitsOf = [&](uint32_t v) {
        const auto a = static_cast<uint32_t>(static_cast<double>(v) / fromMax * toMax);
        return (a << to.alphaShift) & alphaMask;
    };
    // For heights of up to 8 bits the alpha of every value is worked out once, and each texel
    // of each level looks it up.
    uint32_t alphaOf[256] = {};
    const bool table = bits <= 8;
    if (table) {
        for (uint32_t v = 0; v <= LowMask(bits); ++v) alphaOf[v] = alphaBitsOf(v);
    }
    for (int32_t level = 0; level < normals.levels_; ++level) {
        D3DSURFACE_DESC desc{};
        if (normals.texture2D_->GetLevelDesc(static_cast<UINT>(level), &desc) != D3D_OK) return false;
        D3DLOCKED_RECT source{};
        D3DLOCKED_RECT target{};
        if (!LockLevel(static_cast<UINT>(level), D3DLOCK_READONLY, &source)) return false;
        if (!normals.LockLevel(static_cast<UINT>(level), 0, &target)) {
            UnlockLevel(static_cast<UINT>(level));
            return false;
        }
        for (UINT y = 0; y < desc.Height; ++y) {
            const auto* in = static_cast<const uint8_t*>(source.pBits) + static_cast<ptrdiff_t>(y) * source.Pitch;
            auto* out = static_cast<uint8_t*>(target.pBits) + static_cast<ptrdiff_t>(y) * target.Pitch;
            if (table && fromBytes == 4 && toBytes == 4) {
                // Words to words, the common case, without the byte-by-byte assembly.
                const uint32_t mask = LowMask(bits);
                for (UINT x = 0; x < desc.Width; ++x, in += 4, out += 4) {
                    uint32_t from = 0;
                    uint32_t pixel = 0;
                    std::memcpy(&from, in, 4);
                    std::memcpy(&pixel, out, 4);
                    pixel = (pixel & ~alphaMask) | alphaOf[(from >> shift) & mask];
                    std::memcpy(out, &pixel, 4);
                }
                continue;
            }
            for (UINT x = 0; x < desc.Width; ++x, in += fromBytes, out += toBytes) {
                const uint32_t v = (ReadPixel(in, fromBytes) >> shift) & LowMask(bits);
                const uint32_t pixel = ReadPixel(out, toBytes);
                WritePixel(out, toBytes, (pixel & ~alphaMask) | (table ? alphaOf[v] : alphaBitsOf(v)));
            }
        }
        normals.UnlockLevel(static_cast<UINT>(level));
        UnlockLevel(static_cast<UINT>(level));
    }
    return true;
}

bool Texture::SaveToFile(const String& path) {
    if (texture2D_ == nullptr) return false;
    return D3DXSaveTextureToFileA(path.Text(), D3DXIFF_DDS, texture2D_, nullptr) == D3D_OK;
}
