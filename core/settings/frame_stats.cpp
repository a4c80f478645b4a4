#include "core/settings/frame_stats.h"
#include "core/init_order.h"

FrameStats g_frameStats RH_INIT_ORDER(RH_INIT_FRAME_STATS);

void FrameStats::Add(const String& name, int amount) {
    if (!enabled) return;
    PropertyNode& slot = slots_[current_];
    int old = 0;
    slot.GetInt(name, old);
    slot.SetIntProperty(name, old + amount);
}

int FrameStats::Read(int32_t slot, const String& name) const {
    int value = 0;
    slots_[slot].GetInt(name, value);
    return value;
}

void FrameStats::ClearFrameCounters() { slots_[kFrameSlot].Clear(); }
