// The saver as a host starts it: the real program on the virtual X server the tests run under,
// given real X input with xdotool. With /s, keys, buttons and mouse moves end it or not as a
// screensaver must, and SIGTERM ends it normally; the window is given the input focus first, as
// a window manager would give it to a new full-screen window. With /c the settings dialog shows
// and its keys end it; with /p it paints into a window the test made and ends when the test
// destroys that window. Skipped without an X display or without xdotool.

#include "tests/support/scratch_dir.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

bool Have(const char* command) { return std::system((std::string("command -v ") + command + " >/dev/null").c_str()) == 0; }

class SaverProcess {
public:
    explicit SaverProcess(const std::string& folder, std::vector<std::string> arguments = {"/s"},
                          const std::string& tempFolder = "")
        : log_(LogPath(folder)) {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(folder.c_str()) != 0) _exit(99);
            if (!tempFolder.empty()) setenv("TMPDIR", tempFolder.c_str(), 1);
            setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
            unsetenv("SDL_VIDEODRIVER");
            setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            // The trace lines go to a file the test reads to see how far the saver has come.
            setenv("RIMEHOLT_LOG", "trace", 1);
            const int log = open(LogPath(folder).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (log >= 0) dup2(log, 2);
            std::vector<char*> argv{const_cast<char*>(RIMEHOLT_PROGRAM)};
            for (std::string& argument : arguments) argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(RIMEHOLT_PROGRAM, argv.data());
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
    // Waits until the saver's frame loop runs (input counts from then on); false when it
    // ended or the limit passed first.
    bool WaitForFrameLoop(std::chrono::milliseconds limit) { return WaitForTrace("The frame loop runs", limit); }
    // Waits until the saver has written the trace line; false when it ended or the limit
    // passed first.
    bool WaitForTrace(const std::string& line, std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            std::ifstream in(log_);
            std::stringstream text;
            text << in.rdbuf();
            if (text.str().find(line) != std::string::npos) return true;
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                ended_ = true;
                return false;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    static std::string LogPath(const std::string& folder) { return folder + "/saver.log"; }
    pid_t pid() const { return pid_; }

private:
    std::string log_;
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

// The first visible window of the process (any title), or 0 when none appears in time.
unsigned long WaitForWindow(pid_t pid) {
    const std::string command = "xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null";
    for (int i = 0; i < 200; ++i) {
        if (FILE* out = popen(command.c_str(), "r")) {
            unsigned long window = 0;
            const bool found = std::fscanf(out, "%lu", &window) == 1;
            pclose(out);
            if (found && window != 0) return window;
        }
        std::this_thread::sleep_for(100ms);
    }
    return 0;
}

// The names of the files in a folder.
std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    return names;
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
        // The village loads before the frame loop starts; on a busy machine that takes a while.
        EXPECT_TRUE(saver.WaitForFrameLoop(120s));
        // Well past the saver's first second.
        std::this_thread::sleep_for(1500ms);
        int status = -1;
        // A second try, focus given again: on a busy machine the first input can arrive before
        // the saver reads its devices. An input that does not end the run fails both times.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (attempt > 0) FocusSaverWindow(saver.pid());
            Xdotool(input);
            if (saver.WaitForEnd(5s, &status)) {
                EXPECT_EQ(status, 0) << input;
                return true;
            }
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
    // An input that must not end the run comes first: the first start of the program (cold
    // files, a busy machine) is the slowest, and a lost input there would read as "not ended".
    const Case cases[] = {
        {"key F2", false},   {"key a", true},     {"key F3", false}, {"key F6", false},
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

// The settings dialog: Escape ends it as Cancel, writing nothing; Enter is OK, which saves the
// settings. Either way the program ends with 0.
// The window goes full screen before the loading picture is drawn once and left up for the
// whole load: the GL driver must have taken the window's new size by then, or the picture
// shows cut to the size the window was made with (800 x 600), the rest of the screen black.
TEST_F(SaverProcessTest, TheLoadingPictureFillsTheScreen) {
    SaverProcess saver(scratch_.path());
    const unsigned long window = WaitForWindow(saver.pid());
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(saver.WaitForTrace("The loading picture is shown", 120s));
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XWindowAttributes attributes{};
    ASSERT_NE(XGetWindowAttributes(display, window, &attributes), 0);
    const int screenWidth = DisplayWidth(display, DefaultScreen(display));
    const int screenHeight = DisplayHeight(display, DefaultScreen(display));
    EXPECT_EQ(attributes.width, screenWidth);
    EXPECT_EQ(attributes.height, screenHeight);
    // The picture's lower right quarter (village, title mark) is nowhere near black.
    const int w = attributes.width / 2;
    const int h = attributes.height / 2;
    XImage* image = XGetImage(display, window, w, h, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    int64_t sum = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            sum += static_cast<int64_t>((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
        }
    }
    XDestroyImage(image);
    XCloseDisplay(display);
    const double mean = static_cast<double>(sum) / (3.0 * w * h);
    EXPECT_GT(mean, 20.0) << "the lower right quarter of the loading picture is (nearly) black";
    saver.Terminate();
    int status = -1;
    EXPECT_TRUE(saver.WaitForEnd(20s, &status));
}

TEST_F(SaverProcessTest, SettingsDialogEndsWithItsButtons) {
    const std::string registry = scratch_.path() + "/config/rimeholt/registry";
    struct Case {
        const char* key;
        bool saves;
    };
    for (const Case& c : {Case{"Escape", false}, Case{"Return", true}}) {
        scratch_.Write("config/rimeholt/registry", "REGEDIT4\n");
        SaverProcess saver(scratch_.path(), {"/c"});
        const unsigned long dialog = WaitForWindow(saver.pid());
        ASSERT_NE(dialog, 0u) << "the settings dialog shows";
        std::this_thread::sleep_for(1s);
        int status = -1;
        EXPECT_FALSE(saver.WaitForEnd(0ms, &status)) << "the dialog waits for the user";
        Xdotool("windowfocus --sync " + std::to_string(dialog));
        Xdotool("key --window " + std::to_string(dialog) + " " + c.key);
        ASSERT_TRUE(saver.WaitForEnd(10s, &status)) << c.key;
        EXPECT_EQ(status, 0) << c.key;
        std::string text;
        if (FILE* in = std::fopen(registry.c_str(), "r")) {
            char buffer[4096];
            text.assign(buffer, std::fread(buffer, 1, sizeof buffer, in));
            std::fclose(in);
        }
        EXPECT_EQ(text.find("Volume") != std::string::npos, c.saves) << c.key << ": " << text;
        // The scene application's own values go with them.
        EXPECT_EQ(text.find("SnowQuality") != std::string::npos, c.saves) << c.key << ": " << text;
    }
}

// The preview in a window the test made: the picture is painted into it (the host's white
// background gives way), and destroying the window ends the program with 0.
TEST_F(SaverProcessTest, PreviewPaintsIntoItsHostAndEndsWithIt) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const int screen = DefaultScreen(display);
    const Window host = XCreateSimpleWindow(display, RootWindow(display, screen), 10, 10, 152, 112, 0, 0,
                                            WhitePixel(display, screen));
    XMapWindow(display, host);
    XSync(display, False);

    SaverProcess saver(scratch_.path(), {"/p", std::to_string(host)});
    bool painted = false;
    for (int i = 0; i < 100 && !painted; ++i) {
        std::this_thread::sleep_for(100ms);
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, host, &root, &parent, &children, &count) && children != nullptr) XFree(children);
        if (count == 0) continue;
        // The host's own image includes its mapped child's pixels.
        if (XImage* image = XGetImage(display, host, 0, 0, 152, 112, AllPlanes, ZPixmap)) {
            int nonWhite = 0;
            for (int y = 0; y < 112; y += 4) {
                for (int x = 0; x < 152; x += 4) {
                    if ((XGetPixel(image, x, y) & 0xFFFFFF) != 0xFFFFFF) ++nonWhite;
                }
            }
            XDestroyImage(image);
            painted = nonWhite > 38 * 28 / 2;
        }
    }
    EXPECT_TRUE(painted) << "the picture covers the host's window";
    int status = -1;
    EXPECT_FALSE(saver.WaitForEnd(0ms, &status)) << "the preview runs until its host goes";

    XDestroyWindow(display, host);
    XSync(display, False);
    ASSERT_TRUE(saver.WaitForEnd(10s, &status)) << "the host's window is gone";
    EXPECT_EQ(status, 0);
    XCloseDisplay(display);
}

// Without a host window there is nothing to preview in: the start-up fails at once.
TEST_F(SaverProcessTest, PreviewWithoutItsHostFails) {
    for (const char* number : {"", "1234"}) {
        std::vector<std::string> arguments{"/p"};
        if (*number != '\0') arguments.push_back(number);
        SaverProcess saver(scratch_.path(), arguments);
        int status = -1;
        ASSERT_TRUE(saver.WaitForEnd(10s, &status)) << number;
        EXPECT_EQ(status, 1) << number;
    }
}

// The audio library's temporary file: there, owner-only, while the saver runs (also with the
// music off: the library is loaded all the same), and gone however the run ends.
TEST_F(SaverProcessTest, TheAudioLibrarysTemporaryFile) {
    const std::string temp = scratch_.path() + "/tmp";
    ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
    struct Case {
        const char* registry;
        const char* end;  // an xdotool input, or empty for SIGTERM
    };
    const std::string key = "[HKEY_CURRENT_USER\\Software\\LARCHMERE Studio\\Glintwold 3D ScreenSaver]\n";
    for (const Case& c : {Case{"", "key a"}, Case{"", ""}, Case{"\"Music\"=dword:00000000\n", "key a"}}) {
        SCOPED_TRACE(std::string(c.registry) + (*c.end ? c.end : "SIGTERM"));
        scratch_.Write("config/rimeholt/registry", "REGEDIT4\n\n" + key + c.registry);
        SaverProcess saver(scratch_.path(), {"/s"}, temp);
        ASSERT_TRUE(FocusSaverWindow(saver.pid()));
        std::vector<std::string> files;
        for (int i = 0; i < 300 && files.empty(); ++i) {
            std::this_thread::sleep_for(100ms);
            files = FilesIn(temp);
        }
        ASSERT_EQ(files.size(), 1u) << "one library file while the saver runs";
        struct stat info {};
        ASSERT_EQ(stat((temp + "/" + files[0]).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u) << files[0];
        EXPECT_EQ(files[0].rfind("bas", 0), 0u) << files[0];
        int status = -1;
        bool ended = false;
        if (*c.end != '\0') {
            std::this_thread::sleep_for(2s);
            // A second try, focus given again, as for the keys above.
            for (int attempt = 0; attempt < 2 && !ended; ++attempt) {
                FocusSaverWindow(saver.pid());
                Xdotool(c.end);
                ended = saver.WaitForEnd(10s, &status);
            }
        } else {
            saver.Terminate();
            ended = saver.WaitForEnd(20s, &status);
        }
        ASSERT_TRUE(ended);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(FilesIn(temp).empty()) << "the file is gone after the run";
    }
}

// The settings dialog and the preview play no music: they write no library file. A temporary
// folder where nothing can be made leaves the saver silent, not broken.
TEST_F(SaverProcessTest, NoLibraryFileOutsideTheFullScreenRun) {
    const std::string temp = scratch_.path() + "/tmp";
    ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
    {
        SaverProcess saver(scratch_.path(), {"/c"}, temp);
        const unsigned long dialog = WaitForWindow(saver.pid());
        ASSERT_NE(dialog, 0u);
        std::this_thread::sleep_for(1s);
        EXPECT_TRUE(FilesIn(temp).empty()) << "/c";
        Xdotool("windowfocus --sync " + std::to_string(dialog));
        Xdotool("key --window " + std::to_string(dialog) + " Escape");
        int status = -1;
        ASSERT_TRUE(saver.WaitForEnd(10s, &status));
        EXPECT_EQ(status, 0);
    }
    {
        Display* display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        const int screen = DefaultScreen(display);
        const Window host = XCreateSimpleWindow(display, RootWindow(display, screen), 10, 10, 152, 112, 0, 0,
                                                WhitePixel(display, screen));
        XMapWindow(display, host);
        XSync(display, False);
        SaverProcess saver(scratch_.path(), {"/p", std::to_string(host)}, temp);
        std::this_thread::sleep_for(3s);
        EXPECT_TRUE(FilesIn(temp).empty()) << "/p";
        XDestroyWindow(display, host);
        XSync(display, False);
        int status = -1;
        ASSERT_TRUE(saver.WaitForEnd(10s, &status));
        EXPECT_EQ(status, 0);
        XCloseDisplay(display);
    }
    EXPECT_TRUE(FilesIn(temp).empty());
    // A file where the folder should be: nothing can be created in it, even by root.
    const std::string notAFolder = scratch_.Write("not-a-folder", "x");
    SaverProcess saver(scratch_.path(), {"/s"}, notAFolder);
    ASSERT_TRUE(FocusSaverWindow(saver.pid()));
    std::this_thread::sleep_for(5s);
    int status = -1;
    EXPECT_FALSE(saver.WaitForEnd(0ms, &status)) << "the saver runs silent";
    saver.Terminate();
    ASSERT_TRUE(saver.WaitForEnd(20s, &status));
    EXPECT_EQ(status, 0);
}

}  // namespace
