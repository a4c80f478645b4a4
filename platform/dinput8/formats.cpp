// The two standard data formats, as DirectInput defines them: the keyboard as 256 key bytes,
// the mouse as a DIMOUSESTATE.

#include "platform/dinput8/dinput8_local.h"

#include <array>

namespace rh::dinput8 {
namespace {

// Object types, as DirectInput encodes them in dwType.
constexpr DWORD kAxis = 0x00000003;
constexpr DWORD kButton = 0x0000000C;
constexpr DWORD kAnyInstance = 0x00FFFF00;
constexpr DWORD kOptional = 0x80000000;
constexpr DWORD Instance(DWORD n) { return (n & 0xFFFF) << 8; }

// {A36D02E0-C9F3-11CF-BFC7-444553540000} and the next two: the X, Y and Z axes.
constexpr GUID kXAxis = {0xA36D02E0, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID kYAxis = {0xA36D02E1, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID kZAxis = {0xA36D02E2, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {55728220-D33C-11CF-BFC7-444553540000}: a key.
constexpr GUID kKey = {0x55728220, 0xD33C, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

DIOBJECTDATAFORMAT g_mouseObjects[] = {
    {&kXAxis, DIMOFS_X, kAxis | kAnyInstance, 0},
    {&kYAxis, DIMOFS_Y, kAxis | kAnyInstance, 0},
    {&kZAxis, DIMOFS_Z, kAxis | kAnyInstance | kOptional, 0},
    {nullptr, DIMOFS_BUTTON0, kButton | kAnyInstance, 0},
    {nullptr, DIMOFS_BUTTON1, kButton | kAnyInstance, 0},
    {nullptr, DIMOFS_BUTTON2, kButton | kAnyInstance | kOptional, 0},
    {nullptr, DIMOFS_BUTTON3, kButton | kAnyInstance | kOptional, 0},
};

constexpr std::array<DIOBJECTDATAFORMAT, 256> KeyboardObjects() {
    std::array<DIOBJECTDATAFORMAT, 256> objects{};
    for (DWORD i = 0; i < 256; ++i) objects[i] = {&kKey, i, kButton | kOptional | Instance(i), 0};
    return objects;
}
// Filled before any code runs, so that a format read during static initialisation is complete.
constinit std::array<DIOBJECTDATAFORMAT, 256> g_keyboardObjects = KeyboardObjects();

bool SameGuid(const GUID* a, const GUID* b) {
    if (a == nullptr || b == nullptr) return a == b;
    return *a == *b;
}

// A format the program built is the standard one when its objects say the same, wherever they
// are stored; only the flags (relative or absolute axes) may differ.
bool SameObjects(const DIDATAFORMAT& format, const DIDATAFORMAT& standard) {
    if (format.dwSize != sizeof(DIDATAFORMAT) || format.dwObjSize != sizeof(DIOBJECTDATAFORMAT) ||
        format.dwDataSize != standard.dwDataSize || format.dwNumObjs != standard.dwNumObjs ||
        format.rgodf == nullptr) {
        return false;
    }
    if (format.dwFlags != DIDF_ABSAXIS && format.dwFlags != DIDF_RELAXIS) return false;
    for (DWORD i = 0; i < standard.dwNumObjs; ++i) {
        const DIOBJECTDATAFORMAT& a = format.rgodf[i];
        const DIOBJECTDATAFORMAT& b = standard.rgodf[i];
        if (!SameGuid(a.pguid, b.pguid) || a.dwOfs != b.dwOfs || a.dwType != b.dwType || a.dwFlags != b.dwFlags) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsKeyboardFormat(const DIDATAFORMAT& format) { return SameObjects(format, c_dfDIKeyboard); }
bool IsMouseFormat(const DIDATAFORMAT& format) { return SameObjects(format, c_dfDIMouse); }

}  // namespace rh::dinput8

const DIDATAFORMAT c_dfDIKeyboard = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 256,
                                     256, rh::dinput8::g_keyboardObjects.data()};
const DIDATAFORMAT c_dfDIMouse = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS,
                                  sizeof(DIMOUSESTATE), 7, rh::dinput8::g_mouseObjects};
static_assert(std::size(rh::dinput8::g_mouseObjects) == 7, "the mouse format has seven objects");
