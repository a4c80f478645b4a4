// Painting a bitmap resource into a window's surface, and MessageBoxA.

#include "platform/win32/dialogs_testing.h"
#include "platform/win32/gdi_testing.h"

#include <windows.h>
#include <win32/gdi32.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kPicture = 210;  // data/dialog_picture.bmp, 6 x 4, 24 bits

// The picture read straight from its file: 0xFFRRGGBB, top row first.
std::vector<uint32_t> PictureFromFile(int* width, int* height) {
    std::ifstream in(RH_TEST_DATA_DIR "/dialog_picture.bmp", std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24; };
    *width = static_cast<int>(u32(18));
    *height = static_cast<int>(u32(22));
    size_t offset = u32(10);
    size_t stride = (static_cast<size_t>(*width) * 3 + 3) & ~size_t(3);
    std::vector<uint32_t> pixels;
    for (int y = 0; y < *height; ++y) {
        const uint8_t* row = &b[offset + stride * static_cast<size_t>(*height - 1 - y)];
        for (int x = 0; x < *width; ++x) {
            pixels.push_back(0xFF000000u | uint32_t(row[x * 3 + 2]) << 16 | uint32_t(row[x * 3 + 1]) << 8 | row[x * 3]);
        }
    }
    return pixels;
}

LRESULT CALLBACK PlainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class PaintTest : public testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA wc{};
        wc.lpfnWndProc = PlainProc;
        wc.lpszClassName = "RhPaintTest";
        RegisterClassA(&wc);
    }
    void TearDown() override {
        for (HWND w : windows_) DestroyWindow(w);
        UnregisterClassA("RhPaintTest", nullptr);
    }
    HWND Make(int width, int height) {
        HWND w = CreateWindowExA(0, "RhPaintTest", "paint", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                 nullptr, nullptr, nullptr, nullptr);
        windows_.push_back(w);
        return w;
    }
    // The paint cycle of the preview: the picture at (0, 0) with the client size, SRCCOPY.
    static BOOL PaintPicture(HWND w, int destX, int destY) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(w, &paint);
        EXPECT_NE(dc, nullptr);
        HBITMAP picture = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kPicture));
        EXPECT_NE(picture, nullptr);
        HDC memory = CreateCompatibleDC(dc);
        EXPECT_EQ(SelectObject(memory, picture), nullptr);
        BOOL ok = BitBlt(dc, destX, destY, paint.rcPaint.right, paint.rcPaint.bottom, memory, 0, 0, SRCCOPY);
        EXPECT_FALSE(DeleteObject(picture));  // still selected: freed with its context
        EXPECT_TRUE(DeleteDC(memory));
        EXPECT_TRUE(EndPaint(w, &paint));
        return ok;
    }
    std::vector<HWND> windows_;
};

TEST_F(PaintTest, TheBitmapLandsUnscaledAtTheOriginClippedToTheClientArea) {
    int pw = 0, ph = 0;
    std::vector<uint32_t> picture = PictureFromFile(&pw, &ph);
    ASSERT_EQ(pw, 6);
    struct Case {
        int width, height, destX, destY;
    } cases[] = {{10, 8, 0, 0}, {4, 3, 0, 0}, {10, 8, -2, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.destX << "," << c.destY);
        HWND w = Make(c.width, c.height);
        ASSERT_NE(w, nullptr);
        // Paint the background a known colour first: what the picture does not cover keeps it.
        std::vector<uint32_t> before;
        int sw = 0, sh = 0;
        ASSERT_TRUE(rh::win32::ReadWindowSurface(w, &before, &sw, &sh));
        ASSERT_EQ(sw, c.width);
        ASSERT_EQ(sh, c.height);
        ASSERT_TRUE(PaintPicture(w, c.destX, c.destY));
        std::vector<uint32_t> after;
        ASSERT_TRUE(rh::win32::ReadWindowSurface(w, &after, &sw, &sh));
        for (int y = 0; y < sh; ++y) {
            for (int x = 0; x < sw; ++x) {
                int px = x - c.destX, py = y - c.destY;
                uint32_t expected = px >= 0 && py >= 0 && px < pw && py < ph
                                        ? picture[static_cast<size_t>(py) * pw + px]
                                        : before[static_cast<size_t>(y) * sw + x];
                EXPECT_EQ(after[static_cast<size_t>(y) * sw + x] | 0xFF000000u, expected | 0xFF000000u)
                    << x << "," << y;
            }
        }
    }
}

TEST_F(PaintTest, BeginPaintValidatesAndBadArgumentsFail) {
    HWND w = Make(8, 8);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, w, WM_PAINT, WM_PAINT, PM_NOREMOVE));
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(w, &paint);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(paint.rcPaint.right, 8);
    EXPECT_FALSE(PeekMessageA(&msg, w, WM_PAINT, WM_PAINT, PM_NOREMOVE));

    EXPECT_EQ(LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(999)), nullptr);
    HBITMAP picture = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kPicture));
    HDC memory = CreateCompatibleDC(dc);
    EXPECT_EQ(SelectObject(dc, picture), nullptr);  // a window's context holds no bitmap
    EXPECT_FALSE(BitBlt(dc, 0, 0, 4, 4, memory, 0, 0, SRCCOPY));  // nothing selected yet
    SelectObject(memory, picture);
    EXPECT_FALSE(BitBlt(dc, 0, 0, 4, 4, memory, 0, 0, 0x00EE0086 /*SRCPAINT*/));
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_FALSE(DeleteDC(memory));
    EXPECT_TRUE(DeleteObject(picture));
    EXPECT_FALSE(DeleteObject(picture));
    EXPECT_TRUE(EndPaint(w, &paint));
    EXPECT_FALSE(EndPaint(w, &paint));
    EXPECT_EQ(BeginPaint(nullptr, &paint), nullptr);
}

class MessageBoxTest : public testing::Test {
protected:
    void TearDown() override { rh::win32::SetDialogShownHook(nullptr); }
};

TEST_F(MessageBoxTest, ShowsTheTextAndCaptionAndEveryWayOutAnswersOk) {
    const std::string longText =
        "Cannot initialize D3D, please reinstall DX9. This line is long enough to wrap over several "
        "lines of the box, and every one of them must be seen whole.";
    for (auto key : {rh::win32::DialogKey::Enter, rh::win32::DialogKey::Escape}) {
        int shown = 0;
        rh::win32::SetDialogShownHook([&](HWND box, int templateId) {
            ++shown;
            EXPECT_EQ(templateId, rh::win32::kMessageBoxTemplateId);
            char title[64] = {};
            GetWindowTextA(box, title, sizeof title);
            EXPECT_STREQ(title, "Trouble");
            rh::win32::ProcessPendingEvents();
            int cw = 0, ch = 0;
            ASSERT_TRUE(rh::win32::GetNativeClientSize(box, &cw, &ch));
            HWND text = GetDlgItem(box, 0xFFFF);
            ASSERT_NE(text, nullptr);
            char shownText[512] = {};
            GetWindowTextA(text, shownText, sizeof shownText);
            EXPECT_EQ(shownText, longText);
            for (HWND control : {text, GetDlgItem(box, IDOK)}) {
                RECT r;
                ASSERT_TRUE(rh::win32::GetNativeControlRect(control, &r));
                EXPECT_GE(r.left, 0);
                EXPECT_GE(r.top, 0);
                EXPECT_LE(r.right, cw);
                EXPECT_LE(r.bottom, ch);
                int tw = 0, th = 0;
                ASSERT_TRUE(rh::win32::MeasureControlText(control, r.right - r.left, &tw, &th));
                EXPECT_LE(th, r.bottom - r.top);
            }
            rh::win32::SimulateDialogKey(box, key);
        });
        EXPECT_EQ(MessageBoxA(nullptr, longText.c_str(), "Trouble", MB_OK), IDOK);
        EXPECT_EQ(shown, 1);
    }
    rh::win32::SetDialogShownHook(nullptr);
    EXPECT_EQ(MessageBoxA(nullptr, "question", "Ask", 0x4 /*MB_YESNO*/), 0);
    EXPECT_EQ(MessageBoxA(reinterpret_cast<HWND>(uintptr_t{0x1234}), "text", "Owner", MB_OK), 0);
}

}  // namespace
