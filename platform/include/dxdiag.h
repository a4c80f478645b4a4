// The DirectX diagnostic provider: a read-only tree of named containers holding named
// properties about the system. Implemented in platform/com over the OpenGL backend's
// capability probe.
#pragma once

#include "objbase.h"
#include "oleauto.h"

#define DXDIAG_DX9_SDK_VERSION 111
// A name buffer given to an Enum*Names call is too small for the name and its terminator.
#define DXDIAG_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)

typedef struct _DXDIAG_INIT_PARAMS {
    DWORD dwSize;                 // 16, the structure's size on the original 32-bit platform
    DWORD dwDxDiagHeaderVersion;  // DXDIAG_DX9_SDK_VERSION
    BOOL bAllowWHQLChecks;        // ignored: nothing here is signed
    LPVOID pReserved;             // must be NULL
} DXDIAG_INIT_PARAMS;

// {A65B8071-3BFE-4213-9A5B-491DA4461CA7}
inline constexpr CLSID CLSID_DxDiagProvider = {
    0xA65B8071, 0x3BFE, 0x4213, {0x9A, 0x5B, 0x49, 0x1D, 0xA4, 0x46, 0x1C, 0xA7}};
// {9C6B4CB0-23F8-49CC-A3ED-45A55000A6D2}
inline constexpr IID IID_IDxDiagProvider = {
    0x9C6B4CB0, 0x23F8, 0x49CC, {0xA3, 0xED, 0x45, 0xA5, 0x50, 0x00, 0xA6, 0xD2}};
// {7D0F462F-4064-4862-BC7F-933E5058C10F}
inline constexpr IID IID_IDxDiagContainer = {
    0x7D0F462F, 0x4064, 0x4862, {0xBC, 0x7F, 0x93, 0x3E, 0x50, 0x58, 0xC1, 0x0F}};

// One node of the tree. Child names may be paths of names joined by '.'
// (u"DxDiag_DisplayDevices.0"). Names compare exactly, case included.
struct IDxDiagContainer : public IUnknown {
    // E_INVALIDARG for a null count.
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfChildContainers(DWORD* count) = 0;
    // Copies the name of child index (with its terminator) into name, which holds capacity
    // characters. E_INVALIDARG for a null name or an index out of range;
    // DXDIAG_E_INSUFFICIENT_BUFFER when the name does not fit.
    virtual HRESULT STDMETHODCALLTYPE EnumChildContainerNames(DWORD index, LPWSTR name, DWORD capacity) = 0;
    // A new reference to the named child in *child. E_INVALIDARG for a null child, a null
    // name or an unknown name (*child is then NULL).
    virtual HRESULT STDMETHODCALLTYPE GetChildContainer(LPCWSTR name, IDxDiagContainer** child) = 0;
    // E_INVALIDARG for a null count.
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfProps(DWORD* count) = 0;
    // As EnumChildContainerNames, for the properties.
    virtual HRESULT STDMETHODCALLTYPE EnumPropNames(DWORD index, LPWSTR name, DWORD capacity) = 0;
    // Writes the named property into value, which must be initialised (VariantInit): what it
    // held is cleared first, as VariantCopy does. A VT_BSTR answer belongs to the caller
    // (VariantClear frees it). E_INVALIDARG for a null name or value, or an unknown name, and
    // value is then left as it was.
    virtual HRESULT STDMETHODCALLTYPE GetProp(LPCWSTR name, VARIANT* value) = 0;

protected:
    ~IDxDiagContainer() = default;
};

// Collects the information at Initialize and answers it as a tree. The root holds one child,
// "DxDiag_SystemInfo", with the properties
//   dwDirectXVersionMajor, dwDirectXVersionMinor  VT_UI4
//   szDirectXVersionLetter                        VT_BSTR, one character; u" " when none
//   szOSEnglish                                   VT_BSTR, the kernel's name and release
// The version stands for what the OpenGL backend can do: 9.0c when it offers what the
// Direct3D 9 layer needs (an OpenGL 2.1 compatibility context with GLSL 1.20), 8.1 when only an
// older context can be had, none (Initialize fails) when there is no context at all.
// The environment variable RIMEHOLT_DXDIAG_VERSION, read at each Initialize, replaces the
// probe: "9.0c", "8.1b", "9.0" (no letter) and the like, or "none" for no version.
struct IDxDiagProvider : public IUnknown {
    // E_POINTER for null params. E_INVALIDARG for a size other than 16 or
    // sizeof(DXDIAG_INIT_PARAMS), a header version other than DXDIAG_DX9_SDK_VERSION, or a
    // non-null pReserved. E_FAIL when no DirectX version can be determined (the provider stays
    // uninitialised, so a later call may try again). E_UNEXPECTED once already initialised.
    virtual HRESULT STDMETHODCALLTYPE Initialize(DXDIAG_INIT_PARAMS* params) = 0;
    // A new reference to the root container in *root. E_POINTER for a null root;
    // CO_E_NOTINITIALIZED (and *root NULL) before a successful Initialize.
    virtual HRESULT STDMETHODCALLTYPE GetRootContainer(IDxDiagContainer** root) = 0;

protected:
    ~IDxDiagProvider() = default;
};
