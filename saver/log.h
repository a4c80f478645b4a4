// The application's log. Components describe what happens (start-up, mode, device loss) in
// lines ending in "\n"; the log has no sink, so the lines are dropped.
#pragma once

void Log(const char* message);
