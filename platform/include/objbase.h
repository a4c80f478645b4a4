// COM basics: GUIDs, IUnknown, apartment initialisation and object creation.
// Implemented in platform/com; the only creatable class is the DirectX diagnostic provider.
#pragma once

#include "win32/types.h"

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    bool operator==(const _GUID&) const = default;
} GUID;
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

#define IsEqualGUID(a, b) ((a) == (b))
#define IsEqualIID(a, b) ((a) == (b))
#define IsEqualCLSID(a, b) ((a) == (b))

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The root of every COM interface. A new reference starts at count 1; the object deletes
// itself when Release brings the count to 0. AddRef and Release answer the new count.
struct IUnknown {
    // E_POINTER when object is null; E_NOINTERFACE (and *object = NULL) for an interface the
    // object does not implement; otherwise S_OK with a new reference in *object.
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    // Objects are destroyed only through Release.
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

#define CLSCTX_INPROC_SERVER 0x1

#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)

// Initialises COM on the calling thread: S_OK the first time, S_FALSE when the thread has
// already initialised it. Every successful call (S_OK or S_FALSE) needs one CoUninitialize.
// reserved must be NULL (E_INVALIDARG otherwise).
HRESULT WINAPI CoInitialize(LPVOID reserved);
// Balances one successful CoInitialize of the calling thread; extra calls do nothing.
void WINAPI CoUninitialize(void);

// Creates an object of class clsid and answers the interface iid of it in *object (a new
// reference, NULL on failure). E_POINTER for a null object; CO_E_NOTINITIALIZED before
// CoInitialize on this thread; CLASS_E_NOAGGREGATION for a non-null outer; REGDB_E_CLASSNOTREG
// for a class we do not provide or a context without CLSCTX_INPROC_SERVER; E_NOINTERFACE when
// the class lacks iid.
HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object);
