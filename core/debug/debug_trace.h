// The engine's diagnostic sink. Components hand it lines such as "Effect loading failed\n";
// the second text is empty at every use. The texts go to the program's log at trace level
// (rimeholt/log.h), so a normal run drops them and RIMEHOLT_LOG=trace shows them.
// A line may arrive in fragments: the texts are joined until a "\n" ends a line, and each
// complete line is one line of the log. Called from one thread, like the rest of the engine.
#pragma once

#include "core/text/string.h"

void DebugTrace(String message, String detail = String());
