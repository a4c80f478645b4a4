#include "saver/log.h"

void Log(const char*) {}
