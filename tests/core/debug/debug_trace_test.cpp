#include "core/debug/debug_trace.h"

#include "platform/log/log_testing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rh::LogLevel;
using rh::testing::LogCapture;
using rh::testing::LoggedLine;
using Texts = std::vector<std::string>;

TEST(DebugTrace, DroppedUnlessTheLogShowsTraces) {
    {
        LogCapture capture(LogLevel::Warning);
        DebugTrace("Effect loading failed\n");
        DebugTrace("Hierarchy ", "half a line");
        EXPECT_TRUE(capture.lines().empty());
    }
    // Nothing dropped was kept back for a later line.
    LogCapture capture(LogLevel::Trace);
    DebugTrace("Hierarchy loaded\n");
    EXPECT_EQ(capture.texts(), Texts{"Hierarchy loaded"});
}

TEST(DebugTrace, EachLineIsOneTraceLine) {
    LogCapture capture(LogLevel::Trace);
    DebugTrace("Errors Msgs: \n", "line 3\n");
    DebugTrace("", "");
    DebugTrace("one\ntwo\n");
    EXPECT_EQ(capture.lines(), (std::vector<LoggedLine>{{LogLevel::Trace, "Errors Msgs: "},
                                                        {LogLevel::Trace, "line 3"},
                                                        {LogLevel::Trace, "one"},
                                                        {LogLevel::Trace, "two"}}));
}

// The settings description arrives item by item; a line is written once its end arrives.
TEST(DebugTrace, FragmentsAreJoinedUntilTheLineEnds) {
    LogCapture capture(LogLevel::Trace);
    DebugTrace("Windowed ");
    DebugTrace("800x600");
    EXPECT_TRUE(capture.lines().empty());
    DebugTrace("X8R8G8B8, D24S8", "Present Interval: ");
    DebugTrace("D3DPRESENT_INTERVAL_ONE\nVertex");
    DebugTrace(" Proccessing: HARDWARE_VP\n");
    EXPECT_EQ(capture.texts(), (Texts{"Windowed 800x600X8R8G8B8, D24S8Present Interval: D3DPRESENT_INTERVAL_ONE",
                                      "Vertex Proccessing: HARDWARE_VP"}));
}

}  // namespace
