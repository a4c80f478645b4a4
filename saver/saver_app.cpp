#include "saver/saver_app.h"

namespace {
SaverApp* g_app = nullptr;
}

// The application's start-up and main loop are not built yet: Create succeeds without doing
// anything and Run ends at once with the normal result.
bool SaverApp::Create(HINSTANCE, SaverMode, LONG) { return true; }

int SaverApp::Run() { return 1; }

SaverApp* GetSaverApp() {
    if (g_app == nullptr) g_app = new SaverApp();
    return g_app;
}

void DeleteSaverApp() {
    delete g_app;
    g_app = nullptr;
}
