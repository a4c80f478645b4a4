// Hooks for tests of the DirectInput layer and of code reading input through it. Not for the
// program.
#pragma once

#include <windows.h>

namespace rh::dinput8 {

// The two devices DirectInput offers.
enum class DeviceKind { Keyboard, Mouse };

namespace testing {

// Delivers one record to every acquired device of that kind as if the hardware had reported it
// at `timeStamp` (timeGetTime's clock): it takes the next sequence number and signals the
// devices' events. offset and data are taken as they are (any value, so tests can send what no
// keyboard or mouse sends), and the devices' immediate state does not change.
void InjectRecord(DeviceKind kind, DWORD offset, DWORD data, DWORD timeStamp);

}  // namespace testing
}  // namespace rh::dinput8
