// Per-frame statistics kept as named int properties in a table of property-node slots. The
// scene traversal and the geometry draws add to the counters of the current slot; the scene
// application reads them for its statistics text and clears them every frame. Slot 10 holds
// the one-off effect load time, so the per-frame clearing leaves it alone. One process-wide
// table, g_frameStats.
#pragma once

#include "core/object/property_node.h"
#include "core/text/string.h"

#include <cstdint>

// The names of the counters.
inline constexpr char kStatTriangles[] = "tris";
inline constexpr char kStatNodes[] = "nodes";
inline constexpr char kStatClipped[] = "clipped";
inline constexpr char kStatOccluded[] = "occluded";
// Milliseconds spent preloading the effect materials, in kLoadTimeSlot.
inline constexpr char kStatEffectLoadTime[] = "effect_load_time";

class FrameStats {
public:
    static constexpr int32_t kSlotCount = 100;
    // Where the per-frame counters live: nothing moves the current slot off it.
    static constexpr int32_t kFrameSlot = 0;
    // Where the effect load time lives, out of reach of the per-frame clearing.
    static constexpr int32_t kLoadTimeSlot = 10;

    // Enabled, every slot empty, the current slot kFrameSlot.
    FrameStats() = default;
    FrameStats(const FrameStats&) = delete;
    FrameStats& operator=(const FrameStats&) = delete;
    // Destroys the slots and every property in them.
    ~FrameStats() = default;

    // Counters are written only while set.
    bool enabled = true;

    // 0 <= index < kSlotCount.
    PropertyNode& Slot(int32_t index) { return slots_[index]; }
    const PropertyNode& Slot(int32_t index) const { return slots_[index]; }
    int32_t current() const { return current_; }

    // While enabled: the int property `name` of the current slot := its old value (0 when
    // absent) + amount. Nothing while disabled.
    void Add(const String& name, int amount);
    // The int property `name` of that slot; 0 when absent or not an int.
    int Read(int32_t slot, const String& name) const;
    // Deletes the per-frame counters (every property of kFrameSlot); other slots keep theirs.
    void ClearFrameCounters();

private:
    PropertyNode slots_[kSlotCount];
    int32_t current_ = kFrameSlot;
};

// Constructed before main and destroyed at exit.
extern FrameStats g_frameStats;
