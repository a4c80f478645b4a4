// Program entry: the screensaver mode from the command line and the DirectX version check.
#pragma once

#include <windows.h>

// The mode Windows asks for with the screensaver switches.
enum class SaverMode : int {
    FullScreen = 0,  // /s and any unknown switch
    Preview = 1,     // /p with the preview window's handle
    Test = 2,        // /t: runs like full screen
    Settings = 3,    // /c, or no switch at all
    Password = 4,    // /a: nothing is shown
};

// Packed DirectX version: ((major * 256 + minor) << 8) + letter index (a = 1, ..., 0 for none).
// The saver runs from 9.0 on.
constexpr DWORD kRequiredDirectXVersion = 0x90000;

// The address opened by dialog 107's download button.
extern const char* const g_directXDownloadAddress;

// Seeds rand from the engine clock, as the start-up does before the application is made:
// on a test clock source the whole run, snow included, draws the same numbers every time.
void SeedRandomFromClock();

// Reads the mode from GetCommandLineA and stores the number after the switch (0 when there
// is none) in *number.
SaverMode ParseCommandLine(LONG* number);

// S_OK with the packed version and its text ("9.0c"; capacity bytes, always terminated);
// E_FAIL when no version could be found. Either output may be null. A present packed output
// is first set to 0 and a present text (capacity above 0) to the empty text.
HRESULT GetDirectXVersion(DWORD* version, char* text, int capacity);

// The two ways of detection; each output may be null. The diagnostics fail when the provider
// does not answer all three values; the file table fails when no known file passed a check.
HRESULT GetDirectXVersionFromDiagnostics(DWORD* major, DWORD* minor, char* letter);
HRESULT GetDirectXVersionFromFiles(DWORD* major, DWORD* minor, char* letter);

// The file's fixed version, dwFileVersionMS above dwFileVersionLS. E_INVALIDARG for a null
// path or output, E_OUTOFMEMORY when the version block cannot be allocated, E_FAIL when the
// file has no readable version information.
HRESULT GetFileVersion(const char* path, ULONGLONG* version);

// The procedure of dialog 107 (DirectX missing).
INT_PTR CALLBACK NoDirectXDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
