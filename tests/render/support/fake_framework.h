// An AppFramework with a device made by a test double: for engine code that registers device
// resources and draws through g_device without a window or OpenGL. The constructor opens the
// device (the fake device becomes g_device), the destructor releases it.
#pragma once

#include "render/app_framework.h"
#include "tests/render/support/fake_device.h"

#include <gtest/gtest.h>

namespace rh::test {

class FakeFramework {
public:
    explicit FakeFramework(FakeDevice* device) : direct3d_(device) {
        current_ = &direct3d_;
        SetDirect3DFactory(&MakeDirect3D);
        EXPECT_TRUE(app_.Create(nullptr, nullptr));
        EXPECT_TRUE(app_.RecreateDevice(true));
        EXPECT_EQ(g_device, device);
    }
    ~FakeFramework() {
        app_.Close();
        SetDirect3DFactory(nullptr);
        current_ = nullptr;
    }
    FakeFramework(const FakeFramework&) = delete;
    FakeFramework& operator=(const FakeFramework&) = delete;

    // A device reset as the framework does it: every resource lost, the device reset, every
    // resource restored. The framework's answer.
    bool Reset() { return app_.ResetNow(); }
    AppFramework& app() { return app_; }

private:
    class App : public AppFramework {
    public:
        bool ResetNow() { return Reset(); }
        void Close() { ReleaseDevice(); }
    };

    static IDirect3D9* MakeDirect3D(UINT) {
        if (current_ == nullptr) return nullptr;
        current_->AddRef();
        return current_;
    }

    static inline FrameworkDirect3D* current_ = nullptr;
    FrameworkDirect3D direct3d_;
    App app_;
};

}  // namespace rh::test
