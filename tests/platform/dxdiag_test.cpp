// Conformance tests for COM initialisation and creation, BSTRs and variants, and the DirectX
// diagnostic provider as a program reads its DirectX version from it.

#include "platform/com/com_local.h"

#include <dxdiag.h>
#include <objbase.h>
#include <oleauto.h>

#include <SDL2/SDL.h>  // the test holds the GL library; see the probe test
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

namespace {

// {6B1A0C3E-0D2F-4E5A-9B8C-7D6E5F4A3B2C}: a class nobody registered.
constexpr CLSID kOtherClass = {0x6B1A0C3E, 0x0D2F, 0x4E5A, {0x9B, 0x8C, 0x7D, 0x6E, 0x5F, 0x4A, 0x3B, 0x2C}};

void* const kSentinelPointer = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5EB7));
constexpr VARTYPE kSentinelType = 0x7F7F;  // not a variant type: a call that writes would change it

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class ScopedCom {
public:
    ScopedCom() { EXPECT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    ~ScopedCom() { CoUninitialize(); }
};

DXDIAG_INIT_PARAMS ProgramParams() {
    // As a program built for the 32-bit platform fills it in.
    DXDIAG_INIT_PARAMS params{};
    params.dwSize = 16;
    params.dwDxDiagHeaderVersion = DXDIAG_DX9_SDK_VERSION;
    params.bAllowWHQLChecks = FALSE;
    params.pReserved = nullptr;
    return params;
}

IDxDiagProvider* CreateProvider() {
    IDxDiagProvider* provider = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_DxDiagProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IDxDiagProvider,
                               reinterpret_cast<void**>(&provider)),
              S_OK);
    return provider;
}

struct SystemInfo {
    HRESULT initialize = E_FAIL;
    DWORD major = 0;
    DWORD minor = 0;
    std::u16string letter;
};

// Reads the version the way the program does, checking every step and that the provider is
// gone once its last reference is released.
SystemInfo ReadSystemInfo() {
    SystemInfo info;
    ScopedCom com;
    IDxDiagProvider* provider = CreateProvider();
    if (provider == nullptr) return info;
    DXDIAG_INIT_PARAMS params = ProgramParams();
    info.initialize = provider->Initialize(&params);
    if (SUCCEEDED(info.initialize)) {
        IDxDiagContainer* root = nullptr;
        IDxDiagContainer* system = nullptr;
        EXPECT_EQ(provider->GetRootContainer(&root), S_OK);
        EXPECT_EQ(root->GetChildContainer(u"DxDiag_SystemInfo", &system), S_OK);

        VARIANT var;
        VariantInit(&var);
        EXPECT_EQ(system->GetProp(u"dwDirectXVersionMajor", &var), S_OK);
        EXPECT_EQ(var.vt, VT_UI4);
        info.major = var.ulVal;
        EXPECT_EQ(VariantClear(&var), S_OK);

        EXPECT_EQ(system->GetProp(u"dwDirectXVersionMinor", &var), S_OK);
        EXPECT_EQ(var.vt, VT_UI4);
        info.minor = var.ulVal;
        EXPECT_EQ(VariantClear(&var), S_OK);

        EXPECT_EQ(system->GetProp(u"szDirectXVersionLetter", &var), S_OK);
        EXPECT_EQ(var.vt, VT_BSTR);
        if (var.vt == VT_BSTR && var.bstrVal != nullptr) {
            info.letter.assign(var.bstrVal, SysStringLen(var.bstrVal));
        }
        EXPECT_EQ(VariantClear(&var), S_OK);
        EXPECT_EQ(var.vt, VT_EMPTY);

        system->Release();
        root->Release();
    }
    EXPECT_EQ(provider->Release(), 0u);
    return info;
}

// ---- COM basics ----

TEST(Com, InitialiseCountsNestedCallsPerThread) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    std::thread([] {
        // Another thread has its own apartment.
        void* object = kSentinelPointer;
        EXPECT_EQ(CoCreateInstance(CLSID_DxDiagProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IDxDiagProvider,
                                   &object),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    }).join();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE) << "one CoUninitialize balances one call only";
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_OK) << "balanced calls leave COM uninitialised";
    CoUninitialize();

    int reserved = 0;
    EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
    void* object = kSentinelPointer;
    EXPECT_EQ(
        CoCreateInstance(CLSID_DxDiagProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IDxDiagProvider, &object),
        CO_E_NOTINITIALIZED);
}

TEST(Com, CreateInstanceAnswersTheProviderOnly) {
    struct Case {
        const char* what;
        bool initialise;
        const CLSID& clsid;
        bool outer;
        DWORD context;
        const IID& iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"the provider", true, CLSID_DxDiagProvider, false, CLSCTX_INPROC_SERVER, IID_IDxDiagProvider, S_OK},
        {"its IUnknown", true, CLSID_DxDiagProvider, false, CLSCTX_INPROC_SERVER, IID_IUnknown, S_OK},
        {"any context with in-process", true, CLSID_DxDiagProvider, false, 0x17, IID_IDxDiagProvider, S_OK},
        {"before CoInitialize", false, CLSID_DxDiagProvider, false, CLSCTX_INPROC_SERVER, IID_IDxDiagProvider,
         CO_E_NOTINITIALIZED},
        {"another class", true, kOtherClass, false, CLSCTX_INPROC_SERVER, IID_IUnknown, REGDB_E_CLASSNOTREG},
        {"a local server only", true, CLSID_DxDiagProvider, false, 0x4, IID_IDxDiagProvider,
         REGDB_E_CLASSNOTREG},
        {"an interface it lacks", true, CLSID_DxDiagProvider, false, CLSCTX_INPROC_SERVER,
         IID_IDxDiagContainer, E_NOINTERFACE},
        {"aggregation", true, CLSID_DxDiagProvider, true, CLSCTX_INPROC_SERVER, IID_IUnknown,
         CLASS_E_NOAGGREGATION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.initialise) {
            ASSERT_EQ(CoInitialize(nullptr), S_OK);
        }
        IUnknown* outer = nullptr;
        IDxDiagProvider* someone = nullptr;
        if (c.outer) {
            ASSERT_EQ(CoCreateInstance(CLSID_DxDiagProvider, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IDxDiagProvider, reinterpret_cast<void**>(&someone)),
                      S_OK);
            outer = someone;
        }
        void* object = kSentinelPointer;
        EXPECT_EQ(CoCreateInstance(c.clsid, outer, c.context, c.iid, &object), c.expected);
        if (SUCCEEDED(c.expected)) {
            ASSERT_NE(object, nullptr);
            EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 0u);
        } else {
            EXPECT_EQ(object, nullptr) << "a failing creation clears its out-parameter";
        }
        if (someone != nullptr) someone->Release();
        if (c.initialise) CoUninitialize();
    }

    ScopedCom com;
    EXPECT_EQ(
        CoCreateInstance(CLSID_DxDiagProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IDxDiagProvider, nullptr),
        E_POINTER);
}

TEST(Com, QueryInterfaceCountsReferences) {
    ScopedCom com;
    IDxDiagProvider* provider = CreateProvider();
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(provider->AddRef(), 2u);

    IUnknown* unknown = nullptr;
    EXPECT_EQ(provider->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(provider));
    void* other = kSentinelPointer;
    EXPECT_EQ(provider->QueryInterface(IID_IDxDiagContainer, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(provider->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(provider->Release(), 1u);
    EXPECT_EQ(provider->Release(), 0u);
}

TEST(Com, BstrAndVariantBasics) {
    BSTR text = SysAllocString(u"DxDiag");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 6u);
    EXPECT_EQ(std::u16string(text), u"DxDiag");
    SysFreeString(text);

    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr) << "an empty text is a string, not NULL";
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(empty[0], u'\0');
    SysFreeString(empty);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);

    VARIANT var;
    var.vt = kSentinelType;
    VariantInit(&var);
    EXPECT_EQ(var.vt, VT_EMPTY);
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(u"owned by the variant");  // LeakSanitizer reports it if not freed
    EXPECT_EQ(VariantClear(&var), S_OK);
    EXPECT_EQ(var.vt, VT_EMPTY);
    var.vt = VT_UI4;
    var.ulVal = 7;
    EXPECT_EQ(VariantClear(&var), S_OK);
    EXPECT_EQ(var.vt, VT_EMPTY);
    var.vt = kSentinelType;
    EXPECT_EQ(VariantClear(&var), DISP_E_BADVARTYPE);
    EXPECT_EQ(var.vt, kSentinelType);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

// ---- the diagnostic provider ----

TEST(DxDiag, ReportsTheForcedVersion) {
    struct Case {
        const char* forced;
        HRESULT initialize;
        DWORD major;
        DWORD minor;
        const char16_t* letter;
    };
    const Case cases[] = {
        {"9.0c", S_OK, 9, 0, u"c"},
        {"8.1b", S_OK, 8, 1, u"b"},
        {"9.0", S_OK, 9, 0, u" "},  // no letter reads as a blank
        {"none", E_FAIL, 0, 0, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.forced);
        ScopedEnv env("RIMEHOLT_DXDIAG_VERSION", c.forced);
        SystemInfo info = ReadSystemInfo();
        EXPECT_EQ(info.initialize, c.initialize);
        EXPECT_EQ(info.major, c.major);
        EXPECT_EQ(info.minor, c.minor);
        EXPECT_EQ(info.letter, c.letter);
    }
}

TEST(DxDiag, ProbeOfTheOpenGlBackendReportsNineC) {
    // llvmpipe offers OpenGL 4.x compatibility contexts without a display.
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    ScopedEnv env("RIMEHOLT_DXDIAG_VERSION", nullptr);
    // Mesa's driver keeps caches in its globals; when SDL unloads it at the end of the probe,
    // LeakSanitizer loses sight of them and reports them. Holding the GL library for the rest
    // of the process, as the Direct3D layer does while a program runs, keeps them reachable.
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    ASSERT_EQ(SDL_GL_LoadLibrary(nullptr), 0) << SDL_GetError();
    SystemInfo info = ReadSystemInfo();
    ASSERT_EQ(info.initialize, S_OK);
    EXPECT_EQ(info.major, 9u);
    EXPECT_EQ(info.minor, 0u);
    EXPECT_EQ(info.letter, u"c");
}

TEST(DxDiag, InitializeChecksItsParameters) {
    ScopedEnv env("RIMEHOLT_DXDIAG_VERSION", "9.0c");
    int reserved = 0;
    struct Case {
        const char* what;
        DWORD size;
        DWORD header;
        void* reserved;
        HRESULT expected;
    };
    const Case cases[] = {
        {"32-bit size", 16, DXDIAG_DX9_SDK_VERSION, nullptr, S_OK},
        {"our own size", sizeof(DXDIAG_INIT_PARAMS), DXDIAG_DX9_SDK_VERSION, nullptr, S_OK},
        {"size 0", 0, DXDIAG_DX9_SDK_VERSION, nullptr, E_INVALIDARG},
        {"size 12", 12, DXDIAG_DX9_SDK_VERSION, nullptr, E_INVALIDARG},
        {"older header", 16, DXDIAG_DX9_SDK_VERSION - 1, nullptr, E_INVALIDARG},
        {"reserved set", 16, DXDIAG_DX9_SDK_VERSION, &reserved, E_INVALIDARG},
    };
    ScopedCom com;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IDxDiagProvider* provider = CreateProvider();
        ASSERT_NE(provider, nullptr);
        DXDIAG_INIT_PARAMS params = ProgramParams();
        params.dwSize = c.size;
        params.dwDxDiagHeaderVersion = c.header;
        params.pReserved = c.reserved;
        EXPECT_EQ(provider->Initialize(&params), c.expected);
        if (FAILED(c.expected)) {
            // A refused Initialize leaves the provider uninitialised; a good one still works.
            IDxDiagContainer* root = reinterpret_cast<IDxDiagContainer*>(kSentinelPointer);
            EXPECT_EQ(provider->GetRootContainer(&root), CO_E_NOTINITIALIZED);
            EXPECT_EQ(root, nullptr);
            DXDIAG_INIT_PARAMS good = ProgramParams();
            EXPECT_EQ(provider->Initialize(&good), S_OK);
        }
        EXPECT_EQ(provider->Release(), 0u);
    }

    IDxDiagProvider* provider = CreateProvider();
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(provider->Initialize(nullptr), E_POINTER);
    EXPECT_EQ(provider->Release(), 0u);
}

TEST(DxDiag, ProviderStateErrors) {
    ScopedEnv env("RIMEHOLT_DXDIAG_VERSION", "9.0c");
    ScopedCom com;
    IDxDiagProvider* provider = CreateProvider();
    ASSERT_NE(provider, nullptr);
    IDxDiagContainer* root = reinterpret_cast<IDxDiagContainer*>(kSentinelPointer);
    EXPECT_EQ(provider->GetRootContainer(&root), CO_E_NOTINITIALIZED);
    EXPECT_EQ(root, nullptr);

    DXDIAG_INIT_PARAMS params = ProgramParams();
    ASSERT_EQ(provider->Initialize(&params), S_OK);
    EXPECT_EQ(provider->Initialize(&params), E_UNEXPECTED) << "a provider is initialised once";
    EXPECT_EQ(provider->GetRootContainer(nullptr), E_POINTER);
    ASSERT_EQ(provider->GetRootContainer(&root), S_OK) << "a refused second Initialize keeps the first";
    EXPECT_EQ(root->Release(), 1u) << "the provider still holds the root";
    EXPECT_EQ(provider->Release(), 0u);

    // "none" fails Initialize; the provider may be asked again once a version can be had.
    provider = CreateProvider();
    ASSERT_NE(provider, nullptr);
    {
        ScopedEnv none("RIMEHOLT_DXDIAG_VERSION", "none");
        EXPECT_EQ(provider->Initialize(&params), E_FAIL);
    }
    EXPECT_EQ(provider->Initialize(&params), S_OK);
    EXPECT_EQ(provider->Release(), 0u);
}

// Holds the SystemInfo container of an initialised provider for the container tests.
class DxDiagContainer : public testing::Test {
protected:
    void SetUp() override {
        provider_ = CreateProvider();
        ASSERT_NE(provider_, nullptr);
        DXDIAG_INIT_PARAMS params = ProgramParams();
        ASSERT_EQ(provider_->Initialize(&params), S_OK);
        ASSERT_EQ(provider_->GetRootContainer(&root_), S_OK);
        ASSERT_EQ(root_->GetChildContainer(u"DxDiag_SystemInfo", &system_), S_OK);
    }
    void TearDown() override {
        if (system_ != nullptr) system_->Release();
        if (root_ != nullptr) root_->Release();
        if (provider_ != nullptr) {
            EXPECT_EQ(provider_->Release(), 0u);
        }
    }

    ScopedEnv env_{"RIMEHOLT_DXDIAG_VERSION", "8.1b"};
    ScopedCom com_;
    IDxDiagProvider* provider_ = nullptr;
    IDxDiagContainer* root_ = nullptr;
    IDxDiagContainer* system_ = nullptr;
};

TEST_F(DxDiagContainer, UnknownNamesAndNullArgumentsFail) {
    struct ChildCase {
        const char* what;
        const char16_t* name;
    };
    const ChildCase children[] = {
        {"unknown child", u"DxDiag_Nothing"},
        {"empty name", u""},
        {"unknown step in a path", u"DxDiag_SystemInfo.Nothing"},
        {"path ending in a dot", u"DxDiag_SystemInfo."},
        {"null name", nullptr},
    };
    for (const ChildCase& c : children) {
        SCOPED_TRACE(c.what);
        IDxDiagContainer* child = reinterpret_cast<IDxDiagContainer*>(kSentinelPointer);
        EXPECT_EQ(root_->GetChildContainer(c.name, &child), E_INVALIDARG);
        EXPECT_EQ(child, nullptr);
    }
    EXPECT_EQ(root_->GetChildContainer(u"DxDiag_SystemInfo", nullptr), E_INVALIDARG);

    const char16_t* const props[] = {u"dwNothing", u"", u"dwdirectxversionmajor ", nullptr};
    for (const char16_t* name : props) {
        VARIANT var;
        var.vt = kSentinelType;
        var.ulVal = 0xFEEDu;
        EXPECT_EQ(system_->GetProp(name, &var), E_INVALIDARG);
        EXPECT_EQ(var.vt, kSentinelType) << "a failing GetProp leaves the variant alone";
        EXPECT_EQ(var.ulVal, 0xFEEDu);
    }
    EXPECT_EQ(system_->GetProp(u"dwDirectXVersionMajor", nullptr), E_INVALIDARG);
    EXPECT_EQ(system_->GetNumberOfProps(nullptr), E_INVALIDARG);
    EXPECT_EQ(root_->GetNumberOfChildContainers(nullptr), E_INVALIDARG);
}

TEST_F(DxDiagContainer, EnumeratesNamesIntoCallersBuffers) {
    DWORD children = 0;
    ASSERT_EQ(root_->GetNumberOfChildContainers(&children), S_OK);
    bool sawSystemInfo = false;
    for (DWORD i = 0; i < children; ++i) {
        char16_t name[64] = {};
        ASSERT_EQ(root_->EnumChildContainerNames(i, name, 64), S_OK);
        sawSystemInfo |= std::u16string(name) == u"DxDiag_SystemInfo";
    }
    EXPECT_TRUE(sawSystemInfo);
    char16_t name[64];
    EXPECT_EQ(root_->EnumChildContainerNames(children, name, 64), E_INVALIDARG);
    EXPECT_EQ(root_->EnumChildContainerNames(0, nullptr, 64), E_INVALIDARG);

    DWORD props = 0;
    ASSERT_EQ(system_->GetNumberOfProps(&props), S_OK);
    int versionProps = 0;
    for (DWORD i = 0; i < props; ++i) {
        ASSERT_EQ(system_->EnumPropNames(i, name, 64), S_OK);
        std::u16string prop(name);
        versionProps += prop == u"dwDirectXVersionMajor" || prop == u"dwDirectXVersionMinor" ||
                        prop == u"szDirectXVersionLetter";
        // Every enumerated name can be read.
        VARIANT var;
        VariantInit(&var);
        EXPECT_EQ(system_->GetProp(name, &var), S_OK);
        EXPECT_EQ(VariantClear(&var), S_OK);
    }
    EXPECT_EQ(versionProps, 3);
    EXPECT_EQ(system_->EnumPropNames(props, name, 64), E_INVALIDARG);

    // u"szDirectXVersionLetter" is 22 characters: it needs 23 with the terminator.
    std::u16string letterName = u"szDirectXVersionLetter";
    DWORD letterIndex = props;
    for (DWORD i = 0; i < props; ++i) {
        if (system_->EnumPropNames(i, name, 64) == S_OK && letterName == name) letterIndex = i;
    }
    ASSERT_LT(letterIndex, props);
    char16_t exact[23];
    EXPECT_EQ(system_->EnumPropNames(letterIndex, exact, 23), S_OK);
    EXPECT_EQ(std::u16string(exact), letterName);
    EXPECT_EQ(system_->EnumPropNames(letterIndex, exact, 22), DXDIAG_E_INSUFFICIENT_BUFFER);
}

TEST_F(DxDiagContainer, GetPropReplacesWhatTheVariantHeld) {
    VARIANT var;
    VariantInit(&var);
    ASSERT_EQ(system_->GetProp(u"szDirectXVersionLetter", &var), S_OK);
    ASSERT_EQ(var.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(var.bstrVal), u"b");
    // The string read first is freed by the second read (LeakSanitizer reports it otherwise).
    ASSERT_EQ(system_->GetProp(u"dwDirectXVersionMajor", &var), S_OK);
    EXPECT_EQ(var.vt, VT_UI4);
    EXPECT_EQ(var.ulVal, 8u);

    // Each read is the caller's own copy.
    VARIANT a;
    VARIANT b;
    VariantInit(&a);
    VariantInit(&b);
    ASSERT_EQ(system_->GetProp(u"szDirectXVersionLetter", &a), S_OK);
    ASSERT_EQ(system_->GetProp(u"szDirectXVersionLetter", &b), S_OK);
    EXPECT_NE(a.bstrVal, b.bstrVal);
    EXPECT_EQ(VariantClear(&a), S_OK);
    EXPECT_EQ(std::u16string(b.bstrVal), u"b");
    EXPECT_EQ(VariantClear(&b), S_OK);
}

TEST_F(DxDiagContainer, ContainersOutliveTheProvider) {
    // A reference keeps its object alive whatever order the others are released in.
    EXPECT_EQ(provider_->Release(), 0u);
    provider_ = nullptr;
    root_->Release();
    root_ = nullptr;
    VARIANT var;
    VariantInit(&var);
    EXPECT_EQ(system_->GetProp(u"dwDirectXVersionMajor", &var), S_OK);
    EXPECT_EQ(var.ulVal, 8u);
    EXPECT_EQ(system_->Release(), 0u);
    system_ = nullptr;
}

// ---- how the probe's findings and the override turn into a version ----

TEST(DxDiagProbe, OpenGlCapabilitiesMapToADirectXVersion) {
    struct Case {
        bool context;
        const char* glVersion;
        const char* glslVersion;
        std::optional<rh::com::DirectXVersion> expected;
    };
    const rh::com::DirectXVersion nineC{9, 0, u'c'};
    const rh::com::DirectXVersion eightOne{8, 1, u' '};
    const Case cases[] = {
        {false, nullptr, nullptr, std::nullopt},
        {true, "4.5 (Compatibility Profile) Mesa 22.3.6", "4.50", nineC},
        {true, "2.1 Mesa 7.0.4", "1.20", nineC},
        {true, "2.1.2 NVIDIA 96.43", "1.20 NVIDIA via Cg compiler", nineC},
        {true, "3.0 Mesa 10.1", "1.30", nineC},
        {true, "2.1 Vendor", "1.2", nineC},  // a one-digit minor means tens
        {true, "2.0 Mesa 6.5", "1.10", eightOne},
        {true, "2.1 Vendor", "1.10", eightOne},
        {true, "1.5 Mesa 6.4", nullptr, eightOne},
        {true, "garbage", "garbage", eightOne},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.glVersion ? c.glVersion : "(none)") + " / " +
                     (c.glslVersion ? c.glslVersion : "(none)"));
        rh::com::GlCapabilities gl;
        gl.hasContext = c.context;
        if (!rh::com::ParseGlVersion(c.glVersion, &gl.glMajor, &gl.glMinor)) gl.glMajor = gl.glMinor = 0;
        if (!rh::com::ParseGlslVersion(c.glslVersion, &gl.glslMajor, &gl.glslMinor))
            gl.glslMajor = gl.glslMinor = 0;
        std::optional<rh::com::DirectXVersion> got = rh::com::DirectXVersionFromGl(gl);
        ASSERT_EQ(got.has_value(), c.expected.has_value());
        if (got) {
            EXPECT_EQ(got->major, c.expected->major);
            EXPECT_EQ(got->minor, c.expected->minor);
            EXPECT_EQ(got->letter, c.expected->letter);
        }
    }
}

TEST(DxDiagProbe, OverrideTexts) {
    struct Case {
        const char* text;
        bool forced;
        bool hasVersion;
        DWORD major;
        DWORD minor;
        char16_t letter;
    };
    const Case cases[] = {
        {"9.0c", true, true, 9, 0, u'c'},    {"8.1b", true, true, 8, 1, u'b'},
        {"9.0", true, true, 9, 0, u' '},     {"10.12a", true, true, 10, 12, u'a'},
        {"none", true, false, 0, 0, u' '},   {nullptr, false, false, 0, 0, u' '},
        {"", false, false, 0, 0, u' '},      {"9", false, false, 0, 0, u' '},
        {"9.", false, false, 0, 0, u' '},    {".0c", false, false, 0, 0, u' '},
        {"9.0cc", false, false, 0, 0, u' '}, {"9.0 ", false, false, 0, 0, u' '},
        {"nine", false, false, 0, 0, u' '},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        rh::com::VersionOverride got = rh::com::ParseVersionOverride(c.text);
        EXPECT_EQ(got.forced, c.forced);
        ASSERT_EQ(got.version.has_value(), c.hasVersion);
        if (got.version) {
            EXPECT_EQ(got.version->major, c.major);
            EXPECT_EQ(got.version->minor, c.minor);
            EXPECT_EQ(got.version->letter, c.letter);
        }
    }
}

}  // namespace
