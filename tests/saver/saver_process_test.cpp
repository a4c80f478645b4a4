// The saver as a host starts it: the real program with /s on the virtual X server the tests
// run under, given real X input with xdotool. Keys, buttons and mouse moves end it or not as a
// screensaver must, and SIGTERM ends it normally. The window is given the input focus first, as
// a window manager would give it to a new full-screen window. Skipped without an X display or
// without xdotool.

#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

bool Have(const char* command) { return std::system((std::string("command -v ") + command + " >/dev/null").c_str()) == 0; }

class SaverProcess {
public:
    SaverProcess(const std::string& folder) {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(folder.c_str()) != 0) _exit(99);
            setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
            unsetenv("SDL_VIDEODRIVER");
            setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            setenv("RIMEHOLT_LOG", "error", 1);
            execl(RIMEHOLT_PROGRAM, RIMEHOLT_PROGRAM, "/s", static_cast<char*>(nullptr));
            _exit(98);
        }
    }
    ~SaverProcess() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Waits up to the limit; true when it ended, with its exit status.
    bool WaitForEnd(std::chrono::milliseconds limit, int* status) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            int raw = 0;
            if (waitpid(pid_, &raw, WNOHANG) == pid_) {
                ended_ = true;
                *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    void Terminate() { kill(pid_, SIGTERM); }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool ended_ = false;
};

// Waits for the window of the process and focuses it; false when it never appears. Other
// tests' windows may share the X server, so the window is found by its process.
bool FocusSaverWindow(pid_t pid) {
    const std::string command = "xdotool search --onlyvisible --pid " + std::to_string(pid) +
                                " --name 'Glintwold 3D Screensaver' windowfocus --sync >/dev/null 2>&1";
    for (int i = 0; i < 200; ++i) {
        if (std::system(command.c_str()) == 0) {
            return true;
        }
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

void Xdotool(const std::string& arguments) {
    EXPECT_EQ(std::system(("xdotool " + arguments).c_str()), 0) << arguments;
}

class SaverProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr || !Have("xdotool")) GTEST_SKIP() << "needs an X display and xdotool";
        scratch_.Write("config/rimeholt/registry", "REGEDIT4\n");
    }
    void WriteExitOnMouseMove(int value) {
        scratch_.Write("config/rimeholt/registry",
                       "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\LARCHMERE Studio\\Glintwold 3D ScreenSaver]\n"
                       "\"ExitOnMM\"=dword:0000000" +
                           std::to_string(value) + "\n");
    }
    // Runs the saver, gives it `input` two seconds after its window appeared and answers whether
    // that ended it (with status 0); a run that goes on is ended with SIGTERM, which must give 0.
    bool EndedBy(const std::string& input, const std::string& earlyInput = "") {
        SaverProcess saver(scratch_.path());
        EXPECT_TRUE(FocusSaverWindow(saver.pid()));
        if (!earlyInput.empty()) Xdotool(earlyInput);
        std::this_thread::sleep_for(2s);
        Xdotool(input);
        int status = -1;
        if (saver.WaitForEnd(3s, &status)) {
            EXPECT_EQ(status, 0) << input;
            return true;
        }
        saver.Terminate();
        EXPECT_TRUE(saver.WaitForEnd(10s, &status)) << "SIGTERM ends the run";
        EXPECT_EQ(status, 0) << "after SIGTERM";
        return false;
    }

    rh::testing::ScratchDir scratch_{"rh_saver_process"};
};

TEST_F(SaverProcessTest, KeysAndButtons) {
    struct Case {
        const char* input;
        bool ends;
    };
    const Case cases[] = {
        {"key a", true},     {"key F2", false},   {"key F3", false}, {"key F6", false},
        {"click 1", true},   {"click 3", true},   {"click 2", false},
    };
    for (const Case& c : cases) EXPECT_EQ(EndedBy(c.input), c.ends) << c.input;
}

// With "ExitOnMM" on, a move in the first second after start-up is ignored and a later one
// ends the run; with it off no move does.
TEST_F(SaverProcessTest, MouseMoves) {
    WriteExitOnMouseMove(1);
    EXPECT_TRUE(EndedBy("mousemove_relative 40 30", "mousemove_relative 30 20"));
    WriteExitOnMouseMove(0);
    EXPECT_FALSE(EndedBy("mousemove_relative 40 30"));
}

}  // namespace
