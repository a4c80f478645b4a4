#include "core/debug/debug_trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Read on every call, so that a test or a debugger can switch it; the calls are rare.
bool TraceToStderr() {
    const char* value = std::getenv("RIMEHOLT_DEBUG_TRACE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

void Write(const String& text) {
    if (text.length() > 0) std::fwrite(text.data(), 1, static_cast<size_t>(text.length()), stderr);
}

}  // namespace

void DebugTrace(String message, String detail) {
    if (!TraceToStderr()) return;
    Write(message);
    Write(detail);
}
