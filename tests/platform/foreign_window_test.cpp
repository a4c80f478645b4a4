// A window made the child of another program's X window, as the preview is made a child of
// its host's preview area: placed inside it, painted there, and destroyed with it.

#include "platform/win32/gdi_testing.h"

#include <windows.h>
#include <win32/gdi32.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>
#include <vector>

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr int kPicture = 210;  // data/dialog_picture.bmp, 6 x 4

int g_destroyed = 0;

LRESULT CALLBACK PreviewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) ++g_destroyed;
    if (msg == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        HBITMAP picture = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kPicture));
        HDC memory = CreateCompatibleDC(dc);
        SelectObject(memory, picture);
        BitBlt(dc, 0, 0, paint.rcPaint.right, paint.rcPaint.bottom, memory, 0, 0, SRCCOPY);
        DeleteDC(memory);
        DeleteObject(picture);
        EndPaint(hwnd, &paint);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Pump() {
    MSG msg;
    for (int i = 0; i < 10; ++i) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        usleep(10000);
    }
}

class ForeignWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // Another program's windows exist only on a real display server.
        setenv("SDL_VIDEODRIVER", "x11", 1);
    }
    void SetUp() override {
        host_ = XOpenDisplay(nullptr);
        if (host_ == nullptr) GTEST_SKIP() << "no X display";
        WNDCLASSA wc{};
        wc.lpfnWndProc = PreviewProc;
        wc.lpszClassName = "RhForeignPreview";
        RegisterClassA(&wc);
        g_destroyed = 0;
    }
    void TearDown() override {
        UnregisterClassA("RhForeignPreview", nullptr);
        if (host_ != nullptr) XCloseDisplay(host_);
    }
    // The host's preview area: a window of another connection, as another program's would be.
    Window MakeHostWindow(int width, int height) {
        Window w = XCreateSimpleWindow(host_, DefaultRootWindow(host_), 10, 10, width, height, 0, 0,
                                       0x00FF00FF);
        XMapWindow(host_, w);
        XSync(host_, False);
        return w;
    }
    Display* host_ = nullptr;
};

TEST_F(ForeignWindowTest, APreviewLivesInTheHostsWindowAndEndsWithIt) {
    Window hostWindow = MakeHostWindow(152, 112);
    HWND parent = reinterpret_cast<HWND>(static_cast<uintptr_t>(hostWindow));
    RECT client{};
    ASSERT_TRUE(GetClientRect(parent, &client));
    EXPECT_EQ(client.right, 152);
    EXPECT_EQ(client.bottom, 112);

    HWND preview = CreateWindowExA(0, "RhForeignPreview", "preview", WS_CHILD | WS_VISIBLE, 0, 0, client.right,
                                   client.bottom, parent, nullptr, nullptr, nullptr);
    ASSERT_NE(preview, nullptr);
    // The display server has it as the host window's child.
    Window root = 0, parentOut = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(host_, hostWindow, &root, &parentOut, &children, &count);
    EXPECT_EQ(count, 1u);
    if (children != nullptr) XFree(children);

    Pump();
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(rh::win32::ReadWindowSurface(preview, &pixels, &width, &height));
    EXPECT_EQ(width, 152);
    EXPECT_EQ(height, 112);
    // The picture at (0, 0), unscaled: its pixels there, over the host's own background.
    EXPECT_NE(pixels[0] & 0xFFFFFF, 0xFF00FFu);
    XImage* shown = XGetImage(host_, hostWindow, 0, 0, 8, 6, AllPlanes, ZPixmap);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(XGetPixel(shown, 0, 0) & 0xFFFFFF, pixels[0] & 0xFFFFFF);
    EXPECT_EQ(XGetPixel(shown, 5, 3) & 0xFFFFFF, pixels[3 * 152 + 5] & 0xFFFFFF);
    XDestroyImage(shown);

    // The host closes its window: the preview is destroyed with it and nothing ends the process.
    XDestroyWindow(host_, hostWindow);
    XSync(host_, False);
    for (int i = 0; i < 20 && IsWindow(preview); ++i) Pump();
    EXPECT_FALSE(IsWindow(preview));
    EXPECT_EQ(g_destroyed, 1);
}

TEST_F(ForeignWindowTest, ANumberThatNamesNoWindowFails) {
    Window gone = MakeHostWindow(20, 20);
    XDestroyWindow(host_, gone);
    XSync(host_, False);
    HWND parent = reinterpret_cast<HWND>(static_cast<uintptr_t>(gone));
    RECT client{};
    EXPECT_FALSE(GetClientRect(parent, &client));
    EXPECT_EQ(CreateWindowExA(0, "RhForeignPreview", "preview", WS_CHILD | WS_VISIBLE, 0, 0, 20, 20, parent, nullptr,
                              nullptr, nullptr),
              nullptr);
}

}  // namespace
