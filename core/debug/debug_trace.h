// The engine's diagnostic sink. Components hand it lines such as "Effect loading failed\n";
// the second text is empty at every use. The lines are dropped: the program keeps no trace.
// For debugging, RIMEHOLT_DEBUG_TRACE=1 in the environment writes both texts to stderr.
#pragma once

#include "core/text/string.h"

void DebugTrace(String message, String detail = String());
