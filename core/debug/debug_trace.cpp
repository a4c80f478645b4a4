#include "core/debug/debug_trace.h"

#include <rimeholt/log.h>

#include <string>

namespace {

// The start of a line whose end has not arrived yet. Never destroyed, so a trace from an exit
// handler still finds it.
std::string& Pending() {
    static std::string* pending = new std::string;
    return *pending;
}

}  // namespace

void DebugTrace(String message, String detail) {
    if (!rh::LogEnabled(rh::LogLevel::Trace)) return;
    std::string& pending = Pending();
    // An empty String may hold no block at all.
    if (message.length() > 0) pending.append(message.data(), static_cast<size_t>(message.length()));
    if (detail.length() > 0) pending.append(detail.data(), static_cast<size_t>(detail.length()));
    size_t start = 0;
    for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n', start)) {
        rh::LogText(rh::LogLevel::Trace, pending.data() + start, end - start);
        start = end + 1;
    }
    pending.erase(0, start);
}
