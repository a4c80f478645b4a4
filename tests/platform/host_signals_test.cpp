// A host ends the program with a signal: SIGTERM and SIGINT (which SDL turns into SDL_QUIT)
// and SIGHUP reach every top-level window of ours as WM_CLOSE, so the program leaves its normal
// way. Each signal is raised in this process and the queue pumped.

#include "window_test_support.h"

#include <csignal>
#include <cstring>
#include <vector>

namespace rh::test {
namespace {

using ::testing::UnorderedElementsAre;

class HostSignalTest : public WindowTest {};

bool Caught(int signal) {
    struct sigaction now {};
    return sigaction(signal, nullptr, &now) == 0 && now.sa_handler != SIG_DFL && now.sa_handler != SIG_IGN;
}

TEST_F(HostSignalTest, EachSignalClosesEveryTopLevelWindowOnce) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        HWND first = Make();
        HWND second = Make(200, 20);
        HWND child = Make(0, 0, 20, 20, WS_CHILD | WS_VISIBLE, first);
        Settle();
        // Raising one without a handler would end the test program.
        ASSERT_TRUE(Caught(signal));
        ASSERT_EQ(raise(signal), 0);
        Drain();
        std::vector<HWND> closed;
        for (const Seen& seen : TheRecorder().seen) {
            if (seen.msg == WM_CLOSE) closed.push_back(seen.hwnd);
        }
        EXPECT_THAT(closed, UnorderedElementsAre(first, second)) << "top-level windows only, once each";
        // DefWindowProc destroys a window asked to close: the program's usual way out.
        EXPECT_FALSE(IsWindow(first));
        EXPECT_FALSE(IsWindow(second));
        EXPECT_FALSE(IsWindow(child));
        TheRecorder().seen.clear();
        Drain();
        EXPECT_TRUE(TheRecorder().Only({WM_CLOSE}).empty()) << "one signal, one close";
    }
}

}  // namespace
}  // namespace rh::test
