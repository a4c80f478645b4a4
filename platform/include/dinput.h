// DirectInput 8: the system keyboard and mouse, buffered and immediate, as far as the engine
// reads them, over SDL2 input (platform/dinput8). Methods answer DI_OK or the documented codes;
// invalid arguments give DIERR_INVALIDPARAM and never crash.
//
// Records arrive as SDL reads its input (the message loop does that); each is time-stamped on
// timeGetTime's clock. A device in foreground cooperation is unacquired when its window loses
// the focus, and its next read answers DIERR_INPUTLOST.
#pragma once

#include "objbase.h"
#include "windows.h"

#define DIRECTINPUT_VERSION 0x0800

#define DI_OK S_OK
#define DI_NOEFFECT S_FALSE
#define DI_PROPNOEFFECT S_FALSE
#define DI_BUFFEROVERFLOW S_FALSE
#define DIERR_GENERIC E_FAIL
#define DIERR_INVALIDPARAM E_INVALIDARG
#define DIERR_NOINTERFACE E_NOINTERFACE
#define DIERR_OUTOFMEMORY E_OUTOFMEMORY
#define DIERR_UNSUPPORTED ((HRESULT)0x80004001L)
#define DIERR_NOAGGREGATION ((HRESULT)0x80040110L)
#define DIERR_DEVICENOTREG ((HRESULT)0x80040154L)
#define DIERR_NOTBUFFERED ((HRESULT)0x80040207L)
#define DIERR_OTHERAPPHASPRIO ((HRESULT)0x80070005L)
#define DIERR_HANDLEEXISTS ((HRESULT)0x80070005L)
#define DIERR_NOTACQUIRED ((HRESULT)0x8007000CL)
#define DIERR_NOTINITIALIZED ((HRESULT)0x80070015L)
#define DIERR_INPUTLOST ((HRESULT)0x8007001EL)
#define DIERR_ACQUIRED ((HRESULT)0x800700AAL)
#define DIERR_OLDDIRECTINPUTVERSION ((HRESULT)0x8007047EL)
#define DIERR_BETADIRECTINPUTVERSION ((HRESULT)0x80070481L)

// {BF798030-483A-4DA2-AA99-5D64ED369700}
inline constexpr IID IID_IDirectInput8A = {
    0xBF798030, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
// {54D41080-DC15-4833-A41B-748F73A38179}
inline constexpr IID IID_IDirectInputDevice8A = {
    0x54D41080, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};
// {6F1D2B61-D5A0-11CF-BFC7-444553540000}
inline constexpr GUID GUID_SysKeyboard = {
    0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {6F1D2B60-D5A0-11CF-BFC7-444553540000}
inline constexpr GUID GUID_SysMouse = {
    0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// Cooperative levels: one of EXCLUSIVE and NONEXCLUSIVE with one of FOREGROUND and BACKGROUND.
// Exclusive access takes nothing from other programs here.
#define DISCL_EXCLUSIVE 0x00000001
#define DISCL_NONEXCLUSIVE 0x00000002
#define DISCL_FOREGROUND 0x00000004
#define DISCL_BACKGROUND 0x00000008

// One buffered record. The engine passes sizeof(DIDEVICEOBJECTDATA): 24 bytes on 64-bit (the
// pointer-sized uAppData), where 32-bit Windows has 20.
typedef struct DIDEVICEOBJECTDATA {
    DWORD dwOfs;        // which object: a DIK_* code or a DIMOFS_* offset
    DWORD dwData;       // buttons and keys: bit 7 set while down; axes: see SetDataFormat
    DWORD dwTimeStamp;  // milliseconds on timeGetTime's clock
    DWORD dwSequence;   // rises across all devices; records of one movement share it
    UINT_PTR uAppData;  // 0: action maps are not offered
} DIDEVICEOBJECTDATA, *LPDIDEVICEOBJECTDATA;
static_assert(sizeof(DIDEVICEOBJECTDATA) == 16 + sizeof(UINT_PTR), "DIDEVICEOBJECTDATA layout");

// The immediate state of a mouse in the c_dfDIMouse format.
typedef struct DIMOUSESTATE {
    LONG lX;
    LONG lY;
    LONG lZ;
    BYTE rgbButtons[4];
} DIMOUSESTATE, *LPDIMOUSESTATE;
static_assert(sizeof(DIMOUSESTATE) == 16, "DIMOUSESTATE is 16 bytes");

// Mouse objects: their offsets in DIMOUSESTATE, as dwOfs of the mouse's records. BUTTON0 is the
// left button, BUTTON1 the right, BUTTON2 the middle, BUTTON3 the first side button; Z is the
// wheel (WHEEL_DELTA per notch, positive away from the user).
#define DIMOFS_X 0
#define DIMOFS_Y 4
#define DIMOFS_Z 8
#define DIMOFS_BUTTON0 12
#define DIMOFS_BUTTON1 13
#define DIMOFS_BUTTON2 14
#define DIMOFS_BUTTON3 15

// One object of a data format; only the standard formats below are offered.
typedef struct _DIOBJECTDATAFORMAT {
    const GUID* pguid;
    DWORD dwOfs;
    DWORD dwType;
    DWORD dwFlags;
} DIOBJECTDATAFORMAT, *LPDIOBJECTDATAFORMAT;
typedef const DIOBJECTDATAFORMAT* LPCDIOBJECTDATAFORMAT;

typedef struct _DIDATAFORMAT {
    DWORD dwSize;     // sizeof(DIDATAFORMAT)
    DWORD dwObjSize;  // sizeof(DIOBJECTDATAFORMAT)
    DWORD dwFlags;    // DIDF_ABSAXIS or DIDF_RELAXIS
    DWORD dwDataSize;
    DWORD dwNumObjs;
    LPDIOBJECTDATAFORMAT rgodf;
} DIDATAFORMAT, *LPDIDATAFORMAT;
typedef const DIDATAFORMAT* LPCDIDATAFORMAT;

#define DIDF_ABSAXIS 0x00000001
#define DIDF_RELAXIS 0x00000002

// The keyboard as 256 key bytes indexed by DIK code (bit 7 set while down).
extern const DIDATAFORMAT c_dfDIKeyboard;
// The mouse as a DIMOUSESTATE, with relative axes. Programs may copy it and replace dwFlags with
// DIDF_ABSAXIS: axis records and states then carry the summed movement since the device was
// made instead of the movement since the last one.
extern const DIDATAFORMAT c_dfDIMouse;

// Property headers.
typedef struct DIPROPHEADER {
    DWORD dwSize;        // of the whole property structure
    DWORD dwHeaderSize;  // sizeof(DIPROPHEADER)
    DWORD dwObj;         // 0 with DIPH_DEVICE
    DWORD dwHow;
} DIPROPHEADER, *LPDIPROPHEADER;
typedef const DIPROPHEADER* LPCDIPROPHEADER;

typedef struct DIPROPDWORD {
    DIPROPHEADER diph;
    DWORD dwData;
} DIPROPDWORD, *LPDIPROPDWORD;

#define DIPH_DEVICE 0
#define DIPH_BYOFFSET 1
#define DIPH_BYID 2

// On Windows the predefined properties are the small integers 1, 2, ... passed where a GUID
// reference is expected. A reference may only name a real object here, so each property is a
// GUID object whose Data1 holds that integer and whose other fields are 0.
inline constexpr GUID DIPROP_BUFFERSIZE = {1, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Keyboard scan codes: set 1, + 0x80 for the keys with an E0 prefix, except NumLock and Pause,
// which DirectInput names the other way round. The engine takes codes as numbers; these are
// the ones named.
#define DIK_ESCAPE 0x01
#define DIK_RETURN 0x1C
#define DIK_LCONTROL 0x1D
#define DIK_A 0x1E
#define DIK_SLASH 0x35
#define DIK_F3 0x3D
#define DIK_NUMLOCK 0x45
#define DIK_NUMPADENTER 0x9C
#define DIK_RCONTROL 0x9D
#define DIK_PAUSE 0xC5
#define DIK_UP 0xC8

// A keyboard or mouse.
struct IDirectInputDevice8A : public IUnknown {
    // Not while acquired (DIERR_ACQUIRED). c_dfDIKeyboard on a keyboard; c_dfDIMouse, or a copy
    // of it with other flags, on a mouse; DIERR_INVALIDPARAM otherwise. The format is copied.
    virtual HRESULT STDMETHODCALLTYPE SetDataFormat(LPCDIDATAFORMAT format) = 0;
    // hwnd: a window made by CreateWindowExA. Foreground cooperation ties acquisition to the
    // window's keyboard focus; background cooperation ignores it. Devices start with
    // nonexclusive background cooperation and no window.
    virtual HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND hwnd, DWORD flags) = 0;
    // DIPROP_BUFFERSIZE with a DIPROPDWORD for DIPH_DEVICE: how many records the buffer takes
    // (it holds one record fewer than that, as DirectInput's does; 0: no buffer). Not while
    // acquired. Other properties: DIERR_UNSUPPORTED.
    virtual HRESULT STDMETHODCALLTYPE SetProperty(REFGUID property, LPCDIPROPHEADER header) = 0;
    // An event from CreateEventA, signalled on every record and on loss of acquisition; null
    // removes it. Not while acquired; DIERR_HANDLEEXISTS while another event is set.
    virtual HRESULT STDMETHODCALLTYPE SetEventNotification(HANDLE event) = 0;
    // Starts reading: DI_OK, or DI_NOEFFECT when acquired already. DIERR_INVALIDPARAM without a
    // data format; DIERR_OTHERAPPHASPRIO for foreground cooperation while the window lacks the
    // focus. The buffer starts empty; the state starts as the keys and buttons are now.
    virtual HRESULT STDMETHODCALLTYPE Acquire() = 0;
    // DI_OK, or DI_NOEFFECT when not acquired.
    virtual HRESULT STDMETHODCALLTYPE Unacquire() = 0;
    // The device's immediate state in its data format; size must be the format's data size.
    // DIERR_INPUTLOST once after a loss of acquisition, then DIERR_NOTACQUIRED until acquired.
    virtual HRESULT STDMETHODCALLTYPE GetDeviceState(DWORD size, LPVOID data) = 0;
    // Takes up to *inOut records, oldest first, and answers how many in *inOut (records null:
    // they are dropped; DIGDD_PEEK: they stay). objectSize must be sizeof(DIDEVICEOBJECTDATA).
    // DI_BUFFEROVERFLOW (a success code) when records were lost because the buffer was full;
    // the newest are the ones lost. DIERR_NOTBUFFERED without a buffer size; DIERR_INPUTLOST
    // and DIERR_NOTACQUIRED as for GetDeviceState.
    virtual HRESULT STDMETHODCALLTYPE GetDeviceData(DWORD objectSize, LPDIDEVICEOBJECTDATA records,
                                                    LPDWORD inOut, DWORD flags) = 0;
};

#define DIGDD_PEEK 0x00000001

// The DirectInput object: it makes the devices.
struct IDirectInput8A : public IUnknown {
    // GUID_SysKeyboard or GUID_SysMouse; DIERR_DEVICENOTREG for any other. outer must be null.
    virtual HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID guid, IDirectInputDevice8A** device, LPUNKNOWN outer) = 0;
};

// The names without the character-set suffix: text is always narrow here.
typedef IDirectInput8A IDirectInput8;
typedef IDirectInputDevice8A IDirectInputDevice8;

// The entry point of "dinput8.dll": instance must be non-null, version DIRECTINPUT_VERSION
// (DIERR_OLDDIRECTINPUTVERSION above it, DIERR_BETADIRECTINPUTVERSION below), iid
// IID_IDirectInput8A (DIERR_NOINTERFACE otherwise) and outer null. Programs reach it through
// LoadLibraryA("dinput8.dll") and GetProcAddress, which the layer answers itself.
HRESULT WINAPI DirectInput8Create(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* out, LPUNKNOWN outer);
