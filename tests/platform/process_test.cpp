// The command line as GetCommandLineA answers it, built from the process arguments.

#include "platform/win32/win32_local.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CommandLine, BuiltFromArguments) {
    struct Case {
        std::vector<const char*> argv;
        std::string expected;
    };
    const Case cases[] = {
        {{"/usr/bin/rimeholt"}, "/usr/bin/rimeholt"},
        {{"/usr/bin/rimeholt", "/s"}, "/usr/bin/rimeholt /s"},
        {{"/usr/bin/rimeholt", "/p", "1234"}, "/usr/bin/rimeholt /p 1234"},
        {{"/opt/my saver/rimeholt", "/c:5"}, "\"/opt/my saver/rimeholt\" /c:5"},
        {{"rimeholt", "", "x"}, "rimeholt  x"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rh::win32::BuildCommandLine(static_cast<int>(c.argv.size()), c.argv.data()), c.expected);
    }
}

TEST(CommandLine, GetCommandLineAnswersWhatWasSet) {
    rh::win32::SetCommandLine("\"/a b/saver\" /s");
    EXPECT_STREQ(GetCommandLineA(), "\"/a b/saver\" /s");
    rh::win32::SetCommandLine("");
    ASSERT_NE(GetCommandLineA(), nullptr);
    EXPECT_STREQ(GetCommandLineA(), "");
}

TEST(CommandLine, ArgumentsPartSkipsTheProgramName) {
    struct Case {
        const char* line;
        const char* arguments;
    };
    const Case cases[] = {
        {"saver /s", "/s"},
        {"\"/my dir/saver\" /p 5", "/p 5"},
        {"\"/unterminated quote", ""},
        {"saver", ""},
        {"saver    /c", "/c"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_STREQ(rh::win32::SkipProgramName(c.line), c.arguments) << c.line;
}

TEST(SystemDirectory, AnswersLengthAndNeededSize) {
    char buffer[MAX_PATH];
    UINT n = GetSystemDirectoryA(buffer, MAX_PATH);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(n, std::string(buffer).size());
    char small[2] = {'x', 'x'};
    EXPECT_EQ(GetSystemDirectoryA(small, 2), n + 1);
    EXPECT_EQ(small[0], 'x');  // nothing written when it does not fit
}

}  // namespace
