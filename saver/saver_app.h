// The screensaver application object: one per run, created by GetSaverApp on first use and
// deleted by WinMain at the end.
#pragma once

#include "saver/entry.h"

#include <windows.h>

class SaverApp {
public:
    virtual ~SaverApp() = default;

    // Reads the settings, makes the window for the mode and, for the settings mode, runs the
    // settings dialog. False when start-up failed.
    virtual bool Create(HINSTANCE instance, SaverMode mode, LONG number);
    // The main loop; returns the exit code (1).
    virtual int Run();
};

// The one application object, created on the first call.
SaverApp* GetSaverApp();
// Deletes the application object through its virtual destructor; the next GetSaverApp
// creates a new one.
void DeleteSaverApp();
