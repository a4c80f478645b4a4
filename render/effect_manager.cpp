#include "render/effect_manager.h"
#include "core/init_order.h"

#include "core/debug/debug_trace.h"
#include "core/files/stream.h"
#include "core/settings/frame_stats.h"
#include "core/text/paths.h"
#include "core/time/clock.h"
#include "core/types/byte_buffer.h"
#include "render/lit_effect_material.h"
#include "render/parallax_material.h"

#include <direct.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

EffectManager g_effectManager RH_INIT_ORDER(RH_INIT_EFFECT_MANAGER);

namespace {

// Appends to the list of an insertion-ordered map: inserting goes after the cursor, which
// lookups and walks may have moved.
template <typename Map, typename K, typename V>
void Append(Map& map, const K& key, const V& value) {
    if (map.count() > 0) map.SetCursor(map.first()->prev);
    map.Insert(key, value, 1);
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

int CompareBytes(const String& a, const String& b) { return Sign(CompareText(a.Text(), b.Text())); }

// The source kinds of a locator, in the order CompareKeys gives them.
int LocatorClass(const FileRef& ref) {
    if ((ref.flags & FileRef::kDisk) != 0) return 2;
    if ((ref.flags & FileRef::kArchive) != 0) return 1;
    return 0;
}

// A total order on locators that calls exactly the Equals-equal ones equal (for the resolved,
// single-source locators the cache holds): unlike FileRef::Compare, names keep their case.
int CompareLocators(const FileRef& a, const FileRef& b) {
    if (FileRef::Equals(a, b)) return 0;
    if (LocatorClass(a) != LocatorClass(b)) return LocatorClass(a) < LocatorClass(b) ? -1 : 1;
    if (a.flags != b.flags) return a.flags < b.flags ? -1 : 1;
    if (a.archive != b.archive) return std::less<FileSource*>()(a.archive, b.archive) ? -1 : 1;
    if (int c = CompareBytes(a.name, b.name)) return c;
    if (a.resourceId != b.resourceId) return a.resourceId < b.resourceId ? -1 : 1;
    if (a.block.size != b.block.size) return a.block.size < b.block.size ? -1 : 1;
    if (a.block.size > 0 && a.block.data != b.block.data) {
        return Sign(std::memcmp(a.block.data, b.block.data, static_cast<size_t>(a.block.size)));
    }
    return 0;
}

uint64_t Fnv1a(const char* data, int32_t length) {
    uint64_t hash = 14695981039346656037ull;
    for (int32_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

void TraceWithErrors(const char* what, const String& name, ID3DXBuffer* errors) {
    DebugTrace(ConcatStringText(ConcatTextString(what, name), "\n"));
    if (errors != nullptr && errors->GetBufferSize() > 0) {
        const String text(static_cast<const char*>(errors->GetBufferPointer()),
                          static_cast<int32_t>(std::strlen(static_cast<const char*>(errors->GetBufferPointer()))),
                          true);
        DebugTrace(ConcatStringText(ConcatTextString("Errors Msgs: \n", text), "\n"));
    }
}

// Compiles the description's source into `out`; with saving on, writes the binary too. False
// (traced) when the source cannot be read or does not compile.
bool CompileSource(const EffectDesc& desc, const D3DXMACRO* macros, bool binaryResolved, const String& binaryPath,
                   ByteBuffer* out) {
    FileRef source = desc.locator;
    String text;
    bool mayBorrow = false;
    if (!source.ReadWholeFile(text, &mayBorrow)) {
        DebugTrace(ConcatStringText(ConcatTextString("Failed to read effect source: ", desc.locator.name), "\n"));
        return false;
    }
    ID3DXEffectCompiler* compiler = nullptr;
    ID3DXBuffer* errors = nullptr;
    if (D3DXCreateEffectCompiler(text.Text(), static_cast<UINT>(text.length()), macros, nullptr, 0, &compiler,
                                 &errors) != S_OK) {
        TraceWithErrors("Failed to create effect compiler: ", desc.locator.name, errors);
        if (errors != nullptr) errors->Release();
        if (compiler != nullptr) compiler->Release();
        return false;
    }
    if (errors != nullptr) errors->Release();
    errors = nullptr;
    ID3DXBuffer* binary = nullptr;
    const HRESULT hr = compiler->CompileEffect(0, &binary, &errors);
    compiler->Release();
    if (hr != S_OK || binary == nullptr) {
        TraceWithErrors("Failed to compile effect: ", desc.locator.name, errors);
        if (errors != nullptr) errors->Release();
        if (binary != nullptr) binary->Release();
        return false;
    }
    if (errors != nullptr) errors->Release();
    out->Assign(binary->GetBufferPointer(), static_cast<int32_t>(binary->GetBufferSize()));
    binary->Release();

    if (desc.saveBinary) {
        // One level only: the folder beside the source. Where the source's own directory does
        // not exist on disk (a source from the archive), the write fails and the binary is
        // simply not kept.
        if (!binaryResolved) _mkdir(ExtractDirectory(binaryPath).Text());
        FileRef target(binaryPath);
        target.flags = FileRef::kDisk;
        Stream* stream = target.OpenFile(2);
        bool written = false;
        if (stream != nullptr) {
            // A disk stream answers 1 for a whole write, not a count: the position tells.
            stream->Write(out->Data(), out->Size());
            written = stream->Tell() == out->Size();
            written = stream->Close() && written;
            delete stream;
        }
        if (!written) DebugTrace(ConcatStringText(ConcatTextString("Could not save compiled effect: ", binaryPath), "\n"));
    }
    return true;
}

}  // namespace

// ---- EffectPoolHolder

EffectPoolHolder::~EffectPoolHolder() {
    UnregisterDeviceResource(this);
    OnDeviceLost();
}

bool EffectPoolHolder::Register() { return RegisterDeviceResource(this); }

ID3DXEffectPool* EffectPoolHolder::Pool() {
    if (pool_ == nullptr && D3DXCreateEffectPool(&pool_) != S_OK) pool_ = nullptr;
    return pool_;
}

bool EffectPoolHolder::OnDeviceLost() {
    if (pool_ != nullptr) pool_->Release();
    pool_ = nullptr;
    return true;
}

// ---- EffectDesc

int EffectDesc::Compare(const EffectDesc& a, const EffectDesc& b) {
    if (int c = CompareLocators(a.locator, b.locator)) return c;
    if (a.macros.size() != b.macros.size()) return a.macros.size() < b.macros.size() ? -1 : 1;
    for (size_t i = 0; i < a.macros.size(); ++i) {
        if (int c = CompareBytes(a.macros[i].name, b.macros[i].name)) return c;
        if (int c = CompareBytes(a.macros[i].value, b.macros[i].value)) return c;
    }
    return 0;
}

String EffectDesc::BinaryKey() const {
    std::string key = ExtractBaseName(locator.name).Text();
    key += ' ';
    for (const EffectMacro& macro : macros) {
        key += macro.name.Text();
        key += macro.value.Text();
    }
    for (char& c : key) {
        // ':' cannot stand in a Windows file name; separators and control bytes in none.
        if (c == ':' || c == '/' || c == '\\' || (static_cast<unsigned char>(c) < 0x20)) c = ' ';
    }
    if (key.size() > static_cast<size_t>(kMaxKeyLength)) {
        char hash[20];
        std::snprintf(hash, sizeof hash, "~%016llx",
                      static_cast<unsigned long long>(Fnv1a(key.data(), static_cast<int32_t>(key.size()))));
        key.resize(static_cast<size_t>(kMaxKeyLength) - std::strlen(hash));
        key += hash;
    }
    return String(key.c_str());
}

String EffectDesc::BinaryPath() const {
    // A source without a directory keeps its binaries relative to where it was found (the
    // working directory), not in a folder at the root.
    std::string path = ExtractDirectoryPrefix(locator.name).Text();
    path += ExtractBaseName(locator.name).Text();
    path += '/';
    path += BinaryKey().Text();
    path += ".fxo";
    return String(path.c_str());
}

// ---- TechniqueInfo

int TechniqueInfo::Compare(const TechniqueInfo& a, const TechniqueInfo& b) {
    if (a.annotationSum != b.annotationSum) return a.annotationSum < b.annotationSum ? -1 : 1;
    auto x = a.annotations.begin();
    auto y = b.annotations.begin();
    for (; x != a.annotations.end() && y != b.annotations.end(); ++x, ++y) {
        if (int c = CompareBytes(x->first, y->first)) return c;
        if (x->second != y->second) return x->second < y->second ? -1 : 1;
    }
    if (a.annotations.size() != b.annotations.size()) return a.annotations.size() < b.annotations.size() ? -1 : 1;
    if (a.name.length() > 0 && b.name.length() > 0) {
        if (int c = Sign(CompareTextNoCase(a.name.Text(), b.name.Text()))) return c;
    }
    if (a.effect != nullptr && b.effect != nullptr && a.effect != b.effect) {
        return std::less<EffectResource*>()(a.effect, b.effect) ? -1 : 1;
    }
    return 0;
}

// ---- EffectResource

EffectResource::~EffectResource() {
    UnregisterDeviceResource(this);
    lastTechnique_ = nullptr;
    techniqueHandles_.clear();
    techniques_.clear();
    if (effect_ != nullptr) effect_->Release();
    effect_ = nullptr;
}

bool EffectResource::SetTechniqueByName(const String& name) {
    if (lastTechnique_ == nullptr || CompareText(lastTechnique_->first.Text(), name.Text()) != 0) {
        auto found = techniqueHandles_.find(name);
        if (found == techniqueHandles_.end()) return false;
        lastTechnique_ = &*found;
    }
    if (effect_ == nullptr) return false;
    return effect_->SetTechnique(lastTechnique_->second) == S_OK;
}

bool EffectResource::OnDeviceRestore() { return effect_ != nullptr || LoadEffect(this, desc_); }

bool EffectResource::OnDeviceLost() {
    if (effect_ != nullptr) {
        effect_->OnLostDevice();
        effect_->Release();
    }
    effect_ = nullptr;
    return true;
}

bool EffectResource::QueryInterface(int32_t id, void** out) { return AnswerQuery<EffectResource>(this, id, out); }

bool LoadEffect(EffectResource* resource, const EffectDesc& desc) {
    // The resource stays registered as a device resource throughout: a reload during a device
    // restore must not move it within the registry being walked.
    resource->techniques_.clear();
    resource->lastTechnique_ = nullptr;
    resource->techniqueHandles_.clear();
    if (resource->effect_ != nullptr) resource->effect_->Release();
    resource->effect_ = nullptr;

    std::vector<D3DXMACRO> macros;
    for (const EffectMacro& macro : desc.macros) macros.push_back(D3DXMACRO{macro.name.Text(), macro.value.Text()});
    macros.push_back(D3DXMACRO{nullptr, nullptr});

    const String binaryPath = desc.BinaryPath();
    FileRef binary = desc.locator;
    binary.name = binaryPath;
    SearchPaths none;
    const bool binaryResolved = none.ResolveFile(binary);

    ByteBuffer bytes;
    bool fromBinary = false;
    if (!desc.forceRecompile && binaryResolved && binary.ReadWholeFile(bytes)) {
        fromBinary = true;
    } else if (!CompileSource(desc, macros.data(), binaryResolved, binaryPath, &bytes)) {
        return false;
    }

    if (!RegisterDeviceResource(resource)) {
        DebugTrace(ConcatStringText(ConcatTextString("Failed to load binary effect: ", binaryPath), "\n"));
        return false;
    }
    ID3DXEffectPool* pool = desc.poolHolder != nullptr ? desc.poolHolder->Pool() : nullptr;
    ID3DXEffect* effect = nullptr;
    ID3DXBuffer* errors = nullptr;
    HRESULT hr = D3DXCreateEffect(g_device, bytes.Data(), static_cast<UINT>(bytes.Size()), nullptr, nullptr, 0, pool,
                                  &effect, &errors);
    if (hr != S_OK && fromBinary) {
        // A damaged binary, or one another build wrote: the source still says what it should be.
        TraceWithErrors("Refused compiled effect, compiling its source: ", binaryPath, errors);
        if (errors != nullptr) errors->Release();
        errors = nullptr;
        if (!CompileSource(desc, macros.data(), true, binaryPath, &bytes)) return false;
        hr = D3DXCreateEffect(g_device, bytes.Data(), static_cast<UINT>(bytes.Size()), nullptr, nullptr, 0, pool,
                              &effect, &errors);
    }
    if (hr != S_OK || effect == nullptr) {
        TraceWithErrors("Failed to load binary effect: ", binaryPath, errors);
        if (errors != nullptr) errors->Release();
        if (effect != nullptr) effect->Release();
        return false;
    }
    if (errors != nullptr) {
        // Passes the driver refused: their techniques are invalid, the effect is still used.
        TraceWithErrors("Effect loaded with invalid techniques: ", binaryPath, errors);
        errors->Release();
    }
    resource->effect_ = effect;

    D3DXHANDLE technique = nullptr;
    for (;;) {
        D3DXHANDLE next = nullptr;
        if (effect->FindNextValidTechnique(technique, &next) != S_OK || next == nullptr) break;
        technique = next;
        D3DXTECHNIQUE_DESC techniqueDesc{};
        if (effect->GetTechniqueDesc(technique, &techniqueDesc) != S_OK || techniqueDesc.Name == nullptr) continue;
        resource->techniqueHandles_[String(techniqueDesc.Name)] = technique;
    }
    for (const auto& entry : resource->techniqueHandles_) {
        TechniqueInfo info;
        info.effect = resource;
        info.name = entry.first;
        D3DXTECHNIQUE_DESC techniqueDesc{};
        if (effect->GetTechniqueDesc(entry.second, &techniqueDesc) == S_OK) {
            info.passes = static_cast<int32_t>(techniqueDesc.Passes);
        }
        for (UINT index = 0;; ++index) {
            D3DXHANDLE annotation = effect->GetAnnotation(entry.second, index);
            if (annotation == nullptr) break;
            D3DXPARAMETER_DESC parameter{};
            if (effect->GetParameterDesc(annotation, &parameter) != S_OK || parameter.Type != D3DXPT_INT) continue;
            INT value = 0;
            if (effect->GetInt(annotation, &value) != S_OK) continue;
            info.annotationSum += value;
            if (value != 0 && parameter.Name != nullptr) info.annotations[String(parameter.Name)] = value;
        }
        resource->techniques_.insert(info);
    }
    resource->desc_ = desc;
    return true;
}

// ---- EffectManager

EffectManager::~EffectManager() { ReleaseAll(); }

SharedRef<EffectResource> EffectManager::GetEffect(const EffectDesc& desc) {
    EffectDesc copy = desc;
    FileRef resolved = desc.locator;
    const bool found = searchPaths_.ResolveFile(resolved);
    if (found) copy.locator = resolved;
    auto cached = cache_.find(copy);
    if (cached != cache_.end()) return cached->second;
    if (!found) return SharedRef<EffectResource>();

    auto* resource = new EffectResource;
    SharedRef<EffectResource> ref(resource);
    if (!LoadEffect(resource, copy)) return SharedRef<EffectResource>();
    resource->SetDestroyListener(this);
    RefCounted* identity = static_cast<RefCounted*>(resource);
    byPointer_[identity] = ref;
    cache_[copy] = ref;
    reverse_[identity] = copy;
    return ref;
}

void EffectManager::OnEffectDestroyed(RefCounted* object) {
    auto reverse = reverse_.find(object);
    if (reverse != reverse_.end()) {
        cache_.erase(reverse->second);
        reverse_.erase(reverse);
    }
    byPointer_.erase(object);
}

void EffectManager::ReleaseEffects() {
    for (auto& entry : byPointer_) {
        if (entry.second.Get() != nullptr) entry.second.Get()->SetDestroyListener(nullptr);
    }
    reverse_.clear();
    byPointer_.clear();
    cache_.clear();
}

void EffectManager::ReleaseAll() {
    ClearEffectMaterials();
    for (LitEffectMaterial* material : prototypes_) delete material;
    prototypes_.clear();
    ReleaseEffects();
}

bool EffectManager::PreloadEffectMaterials() {
    IntervalTimer timer;
    for (LitEffectMaterial* material : prototypes_) {
        UnregisterEffectMaterial(material);
        delete material;
    }
    prototypes_.clear();

    std::vector<LitEffectMaterial*> made{new ParallaxMaterial};
    for (LitEffectMaterial* material : made) {
        if (material->Init()) {
            prototypes_.insert(material);
            RegisterEffectMaterial(material);
        } else {
            DebugTrace("Effect material failed to initialise; its effects stay unregistered\n");
            delete material;
        }
    }
    g_frameStats.Slot(FrameStats::kLoadTimeSlot)
        .SetIntProperty(kStatEffectLoadTime, static_cast<int>(timer.Elapsed()));
    return true;
}

LitEffectMaterial* EffectManager::FindEffectMaterial(const String& name, int32_t wanted) {
    QualityMap* entry = nullptr;
    if (!registry_.Find(name, entry)) {
        entry = new QualityMap;
        Append(registry_, name, entry);
        return nullptr;
    }
    LitEffectMaterial* choice = nullptr;
    int32_t quality = 0;
    auto* node = entry->first();
    for (int32_t i = 0; i < entry->count(); ++i, node = node->next) {
        const int32_t e = node->value;
        const bool between = (quality < e && e <= wanted) || (wanted <= e && e < quality);
        if (i == 0 || quality == 0 || between) {
            choice = node->key;
            quality = e;
        }
    }
    return choice;
}

void EffectManager::RegisterEffectMaterial(const String& name, LitEffectMaterial* material, int32_t quality) {
    if (material == nullptr) return;
    QualityMap* entry = nullptr;
    if (!registry_.Find(name, entry)) {
        entry = new QualityMap;
        Append(registry_, name, entry);
    }
    Append(*entry, material, quality);
}

void EffectManager::RegisterEffectMaterial(LitEffectMaterial* material) {
    if (material == nullptr) return;
    const LitEffectMaterial::NameTable& names = material->nameTable();
    auto* node = names.first();
    for (int32_t i = 0; i < names.count(); ++i, node = node->next) {
        RegisterEffectMaterial(node->key, material, node->value);
    }
}

void EffectManager::UnregisterEffectMaterial(LitEffectMaterial* material) {
    auto* node = registry_.first();
    for (int32_t i = 0; i < registry_.count(); ++i, node = node->next) node->value->Erase(material);
}

void EffectManager::ClearEffectMaterials() { registry_.DeleteAll(); }
