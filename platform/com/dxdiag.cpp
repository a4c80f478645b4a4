// The DirectX diagnostic provider: a tree of containers answering what the OpenGL backend can
// do in the terms a Windows program asks for.
//
// RIMEHOLT_DXDIAG_VERSION, read at each Initialize, replaces the OpenGL probe so that tests
// (and users on odd drivers) can pick the answer: "9.0c", "8.1b", "9.0" (no letter) or "none"
// (Initialize fails, as on a system without the provider's information).

#include "platform/com/com_local.h"
#include "platform/com/com_object.h"

#include <rimeholt/log.h>

#include <dxdiag.h>

#include <sys/utsname.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rh::com {
namespace {

// Bytes map to the code points of the same value, like the layer's code page.
std::u16string WidenBytes(std::string_view text) {
    std::u16string wide;
    wide.reserve(text.size());
    for (char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return wide;
}

// Copies name with its terminator into a caller's buffer of capacity characters.
HRESULT CopyName(const std::u16string& name, LPWSTR out, DWORD capacity) {
    if (capacity < name.size() + 1) return DXDIAG_E_INSUFFICIENT_BUFFER;
    std::memcpy(out, name.c_str(), (name.size() + 1) * sizeof(char16_t));
    return S_OK;
}

class Container final : public ComObject<IDxDiagContainer, IID_IDxDiagContainer> {
public:
    void AddNumber(std::u16string name, DWORD value) {
        props_.push_back(Prop{std::move(name), VT_UI4, value, {}});
    }
    void AddText(std::u16string name, std::u16string text) {
        props_.push_back(Prop{std::move(name), VT_BSTR, 0, std::move(text)});
    }
    void AddChild(std::u16string name, ComRef<Container> child) {
        children_.emplace_back(std::move(name), std::move(child));
    }

    HRESULT STDMETHODCALLTYPE GetNumberOfChildContainers(DWORD* count) override {
        if (count == nullptr) return E_INVALIDARG;
        *count = static_cast<DWORD>(children_.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumChildContainerNames(DWORD index, LPWSTR name, DWORD capacity) override {
        if (name == nullptr || index >= children_.size()) return E_INVALIDARG;
        return CopyName(children_[index].first, name, capacity);
    }

    HRESULT STDMETHODCALLTYPE GetChildContainer(LPCWSTR name, IDxDiagContainer** child) override {
        if (child == nullptr) return E_INVALIDARG;
        *child = nullptr;  // COM's rule for interface out-parameters of a failing call
        Container* found = name != nullptr ? Find(name) : nullptr;
        if (found == nullptr) return E_INVALIDARG;
        found->AddRef();
        *child = found;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNumberOfProps(DWORD* count) override {
        if (count == nullptr) return E_INVALIDARG;
        *count = static_cast<DWORD>(props_.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumPropNames(DWORD index, LPWSTR name, DWORD capacity) override {
        if (name == nullptr || index >= props_.size()) return E_INVALIDARG;
        return CopyName(props_[index].name, name, capacity);
    }

    HRESULT STDMETHODCALLTYPE GetProp(LPCWSTR name, VARIANT* value) override {
        if (name == nullptr || value == nullptr) return E_INVALIDARG;
        const Prop* prop = nullptr;
        for (const Prop& p : props_) {
            if (p.name == name) {
                prop = &p;
                break;
            }
        }
        if (prop == nullptr) return E_INVALIDARG;

        BSTR text = nullptr;
        if (prop->type == VT_BSTR) {
            text = SysAllocString(prop->text.c_str());
            if (text == nullptr) return E_OUTOFMEMORY;
        }
        // The variant's old content goes first, as VariantCopy frees its destination.
        HRESULT hr = VariantClear(value);
        if (FAILED(hr)) {
            SysFreeString(text);
            return hr;
        }
        value->vt = prop->type;
        if (prop->type == VT_BSTR) {
            value->bstrVal = text;
        } else {
            value->ulVal = prop->number;
        }
        return S_OK;
    }

private:
    struct Prop {
        std::u16string name;
        VARTYPE type;
        DWORD number;
        std::u16string text;
    };

    // Follows a path of child names joined by '.'; null when any step is missing.
    Container* Find(std::u16string_view path) {
        size_t dot = path.find(u'.');
        std::u16string_view head = path.substr(0, dot);
        for (auto& [childName, child] : children_) {
            if (childName != head) continue;
            if (dot == std::u16string_view::npos) return child.get();
            return child->Find(path.substr(dot + 1));
        }
        return nullptr;
    }

    std::vector<std::pair<std::u16string, ComRef<Container>>> children_;
    std::vector<Prop> props_;
};

std::u16string OperatingSystemName() {
    utsname names;
    if (uname(&names) != 0) return u"Linux";
    return WidenBytes(std::string(names.sysname) + " " + names.release);
}

ComRef<Container> BuildTree(const DirectXVersion& version) {
    ComRef<Container> system(new Container);
    system->AddNumber(u"dwDirectXVersionMajor", version.major);
    system->AddNumber(u"dwDirectXVersionMinor", version.minor);
    system->AddText(u"szDirectXVersionLetter", std::u16string(1, version.letter));
    system->AddText(u"szOSEnglish", OperatingSystemName());

    ComRef<Container> root(new Container);
    root->AddChild(u"DxDiag_SystemInfo", std::move(system));
    return root;
}

// The DXDIAG_INIT_PARAMS size on the original 32-bit platform, which callers still pass.
constexpr DWORD kInitParamsSize32 = 16;

class Provider final : public ComObject<IDxDiagProvider, IID_IDxDiagProvider> {
public:
    HRESULT STDMETHODCALLTYPE Initialize(DXDIAG_INIT_PARAMS* params) override {
        if (params == nullptr) return E_POINTER;
        if (root_) return E_UNEXPECTED;
        if (params->dwSize != kInitParamsSize32 && params->dwSize != sizeof(DXDIAG_INIT_PARAMS))
            return E_INVALIDARG;
        if (params->dwDxDiagHeaderVersion != DXDIAG_DX9_SDK_VERSION) return E_INVALIDARG;
        if (params->pReserved != nullptr) return E_INVALIDARG;

        VersionOverride forced = ParseVersionOverride(std::getenv("RIMEHOLT_DXDIAG_VERSION"));
        std::optional<DirectXVersion> version =
            forced.forced ? forced.version : DirectXVersionFromGl(ProbeOpenGl());
        if (!version) return E_FAIL;
        root_ = BuildTree(*version);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetRootContainer(IDxDiagContainer** root) override {
        if (root == nullptr) return E_POINTER;
        *root = root_.share();
        if (*root == nullptr) return CO_E_NOTINITIALIZED;
        return S_OK;
    }

private:
    ComRef<Container> root_;
};

bool ReadVersionNumber(const char*& text, DWORD* value) {
    DWORD n = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9' && digits < 3; ++text, ++digits)
        n = n * 10 + static_cast<DWORD>(*text - '0');
    *value = n;
    return digits > 0;
}

}  // namespace

VersionOverride ParseVersionOverride(const char* text) {
    if (text == nullptr || *text == '\0') return {};
    if (std::strcmp(text, "none") == 0) return {true, std::nullopt};

    DirectXVersion version;
    const char* p = text;
    bool ok = ReadVersionNumber(p, &version.major) && *p == '.';
    if (ok) {
        ++p;
        ok = ReadVersionNumber(p, &version.minor);
    }
    if (ok && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')))
        version.letter = static_cast<char16_t>(*p++);
    if (ok && *p == '\0') return {true, version};

    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) {
        rh::LogWarning("RIMEHOLT_DXDIAG_VERSION=\"%s\" is not a version like 9.0c or none; ignored",
                       text);
    }
    return {};
}

HRESULT CreateDxDiagProvider(REFIID iid, void** object) {
    auto* provider = new Provider;
    HRESULT hr = provider->QueryInterface(iid, object);
    provider->Release();
    return hr;
}

}  // namespace rh::com
