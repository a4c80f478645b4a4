// The program as users start it: the real executable in a process of its own, with the display
// variables a user's session has or lacks. Without a display it must fail at once with one line
// of its own on stderr, not run on an invisible driver; with one (or with the offscreen driver
// asked for, as the tests do), it runs and keeps the terminal clean.

#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
    bool ended = false;  // false: still running after the watchdog's limit, then killed
    int exitCode = -1;   // -1 when it did not exit normally
    std::string errors;  // everything written to stderr
};

// A fresh, empty runtime directory: with none, the Wayland client library that SDL tries
// complains on stderr by itself; that line is the library's, and these tests count ours.
std::string EmptyRuntimeDirectory() {
    char path[] = "/tmp/rh-startup-XXXXXX";
    return mkdtemp(path) != nullptr ? path : "/tmp";
}

// Runs the program with the given arguments in this process's environment less `unset`, plus
// `set` ("NAME=value").
// With stopAfterMs above 0 the program gets SIGTERM that long after it started, as a host ends
// a screensaver.
Outcome RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& unset,
            const std::vector<std::string>& set, int stopAfterMs = 0) {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool dropped = false;
        for (const std::string& u : unset) dropped = dropped || name == u;
        for (const std::string& s : set) dropped = dropped || name == s.substr(0, s.find('='));
        if (!dropped) environment.push_back(entry);
    }
    environment.insert(environment.end(), set.begin(), set.end());
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{RIMEHOLT_PROGRAM};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    Outcome outcome;
    int errPipe[2];
    if (pipe(errPipe) != 0) return outcome;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[1]);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(errPipe[1]);
    if (spawned != 0) {
        close(errPipe[0]);
        return outcome;
    }
    // A watchdog only: a program that runs on unseen would otherwise hang the test.
    outcome.ended = true;
    const auto started = std::chrono::steady_clock::now();
    bool stopped = false;
    for (;;) {
        pollfd p{errPipe[0], POLLIN, 0};
        int waitMs = 60000;
        if (stopAfterMs > 0 && !stopped) {
            const auto ran = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started).count();
            waitMs = static_cast<int>(std::max<long long>(0, stopAfterMs - ran));
        }
        const int ready = poll(&p, 1, waitMs);
        if (ready == 0 && stopAfterMs > 0 && !stopped) {
            stopped = true;
            kill(pid, SIGTERM);
            continue;
        }
        if (ready <= 0) {
            outcome.ended = false;
            kill(pid, SIGKILL);
            break;
        }
        char buffer[512];
        ssize_t n = read(errPipe[0], buffer, sizeof buffer);
        if (n <= 0) break;
        outcome.errors.append(buffer, static_cast<size_t>(n));
    }
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (outcome.ended && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    return outcome;
}

size_t Lines(const std::string& text) {
    size_t count = 0;
    for (char c : text) count += c == '\n';
    return count + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

const std::vector<std::string> kDisplayVariables{"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"};

TEST(Startup, WithoutADisplayItFailsWithOneLine) {
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        std::vector<std::string> set;
        const char* says;
    };
    const Case cases[] = {
        {"no display, full screen", {"/s"}, {}, "no display"},
        {"no display, settings", {"/c"}, {}, "no display"},
        // No X server has this number; the ones of the test runs count down from 99.
        {"a display that is not there", {"/s"}, {"DISPLAY=:4093"}, "cannot open the display (DISPLAY=:4093"},
    };
    const std::string runtime = EmptyRuntimeDirectory();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> set = c.set;
        set.push_back("XDG_RUNTIME_DIR=" + runtime);
        Outcome outcome = RunProgram(c.arguments, kDisplayVariables, set);
        ASSERT_TRUE(outcome.ended) << "still running without a display";
        // "1 when it could not run".
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_EQ(Lines(outcome.errors), 1u) << outcome.errors;
        EXPECT_NE(outcome.errors.find("rimeholt: "), std::string::npos) << outcome.errors;
        EXPECT_NE(outcome.errors.find(c.says), std::string::npos) << outcome.errors;
    }
    rmdir(runtime.c_str());
}

TEST(Startup, RunsQuietlyOnADisplayOrTheOffscreenDriverAskedFor) {
    struct Case {
        const char* what;
        std::vector<std::string> unset;
        std::vector<std::string> set;
    };
    const Case cases[] = {
        // The tests' own way of running without a display.
        {"offscreen asked for, no display", {"DISPLAY", "WAYLAND_DISPLAY"}, {"SDL_VIDEODRIVER=offscreen"}},
        // The test run's X server, as a desktop session has one.
        {"the X server", {"SDL_VIDEODRIVER", "WAYLAND_DISPLAY"}, {}},
    };
    rh::testing::ScratchDir scratch("rh_startup_config");
    const std::string config = scratch.path();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.unset.front() != "DISPLAY" && std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "no X server for this run (the tests run under xvfb-run)";
        }
        // The saver runs until its host ends it; the registry file goes to a folder of the test's.
        std::vector<std::string> set = c.set;
        set.push_back("XDG_CONFIG_HOME=" + config);
        Outcome outcome = RunProgram({"/s"}, c.unset, set, 3000);
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.errors, "");
    }
}

}  // namespace
