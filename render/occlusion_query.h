// One Direct3D occlusion query as a device resource. The scene brackets a node's drawing with
// Begin and End and asks, usually a frame later, how many pixels passed the depth test, so that
// nodes hidden behind others can be skipped. Results are never waited for: GetResult answers
// false until the device has one.
#pragma once

#include "render/app_framework.h"

#include <d3d9.h>

#include <cstdint>

class OcclusionQuery : public DeviceResource {
public:
    enum class State : int32_t {
        Idle = 0,
        Begun = 1,
        Ended = 2,
        ResultRead = 3,
        // Lost without a query: restored to Idle.
        LostEmpty = 4,
        // Lost while holding a query: a new one is made at the restore.
        LostHolding = 5,
    };

    // Registers itself; no query until the first Begin.
    OcclusionQuery();
    OcclusionQuery(const OcclusionQuery&) = delete;
    OcclusionQuery& operator=(const OcclusionQuery&) = delete;
    // Releases the query; the base unregisters.
    ~OcclusionQuery() override;

    // Starts a bracket in any state (a running one restarts), making the query on first use.
    // False when the query cannot be made or issued (no device, no support).
    bool Begin();
    // Ends the bracket: false, issuing nothing, unless a Begin succeeded last.
    bool End();
    // Only after a successful End: true once, with the count of pixels that passed; false while
    // the device has no result yet (ask again later), and false after the result was read until
    // the next bracket. `visiblePixels` is written only on true.
    bool GetResult(uint32_t* visiblePixels);

    // LostHolding: a new query (false when that fails), then Idle. LostEmpty: Idle. Any other
    // state stays.
    bool OnDeviceRestore() override;
    // LostHolding when a query exists, else LostEmpty; the query is released. A result pending
    // at a loss is never read.
    bool OnDeviceLost() override;

    State state() const { return state_; }
    // The last result read.
    uint32_t visiblePixels() const { return visiblePixels_; }

private:
    bool CreateQuery();
    void ReleaseQuery();

    IDirect3DQuery9* query_ = nullptr;
    State state_ = State::Idle;
    uint32_t visiblePixels_ = 0;
};
