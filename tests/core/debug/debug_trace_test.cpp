#include "core/debug/debug_trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class DebugTraceTest : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("RIMEHOLT_DEBUG_TRACE"); }

    static std::string Traced(const String& message, const String& detail) {
        ::testing::internal::CaptureStderr();
        DebugTrace(message, detail);
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(DebugTraceTest, DropsEverythingByDefault) {
    unsetenv("RIMEHOLT_DEBUG_TRACE");
    EXPECT_EQ(Traced("Effect loading failed\n", ""), "");
    setenv("RIMEHOLT_DEBUG_TRACE", "0", 1);
    EXPECT_EQ(Traced("Hierarchy loaded\n", "x"), "");
}

TEST_F(DebugTraceTest, WritesBothTextsToStderrWhenAsked) {
    setenv("RIMEHOLT_DEBUG_TRACE", "1", 1);
    EXPECT_EQ(Traced("Errors Msgs: \n", "line 3\n"), "Errors Msgs: \nline 3\n");
    EXPECT_EQ(Traced("", ""), "");
}

}  // namespace
