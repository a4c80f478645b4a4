#include "core/settings/engine_settings.h"

constinit EngineSettings g_engineSettings;
