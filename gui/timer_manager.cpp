#include "gui/timer_manager.h"

#include "core/containers/compare.h"
#include "core/time/clock.h"

#include <limits>

namespace {

int64_t Now() { return static_cast<int64_t>(ClockNow()); }

// start + period, saturated: a period set from a 64-bit value may be anything.
int64_t DueTime(int64_t start, int64_t period) {
    int64_t due;
    if (!__builtin_add_overflow(start, period, &due)) return due;
    return period > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

}  // namespace

int TimerEntryOrder::operator()(const TimerEntry* a, const TimerEntry* b) const {
    if (a->fired_ != b->fired_) return a->fired_ ? -1 : 1;
    if (a->due_ != b->due_) return a->due_ < b->due_ ? -1 : 1;
    return ThreeWayCompare<const TimerEntry*>()(a, b);
}

TimerEntry::~TimerEntry() {
    if (owner_ != nullptr) {
        owner_->Unlist(this);
        if (owner_->firing_ == this) owner_->firing_ = nullptr;
    }
    delete delegate_;
}

void TimerEntry::Start(bool defer) {
    if (owner_ != nullptr) owner_->Unlist(this);
    start_ = Now();
    due_ = DueTime(start_, period_);
    if (owner_ != nullptr) owner_->Add(this, defer);
}

void TimerEntry::SetPeriod(int64_t period) {
    period_ = period;
    const bool listed = node_ != nullptr;
    if (listed) owner_->Unlist(this);
    due_ = DueTime(start_, period_);
    if (listed) owner_->List(this);
}

bool TimerEntry::Fire() {
    if (Now() < due_) return false;
    TimerManager* const owner = owner_;
    const bool listed = node_ != nullptr;
    if (listed) owner->Unlist(this);
    fired_ = true;
    if (listed) owner->List(this);
    if (repeat_ > 0) --repeat_;
    // The delegate may delete this entry (and itself with it): nothing of it is read after.
    if (delegate_ != nullptr) delegate_->Invoke();
    return true;
}

TimerManager::~TimerManager() {
    while (entries_.count() > 0) {
        TimerEntry* entry = entries_.first()->key;
        Unlist(entry);
        entry->owner_ = nullptr;
        if (entry->repeat_ >= 0) delete entry;  // finite entries are the manager's
    }
}

TimerEntry* TimerManager::CreateTimer(Delegate* delegate, int32_t period, bool defer, int32_t repeat) {
    auto* entry = new TimerEntry;
    entry->delegate_ = delegate;
    entry->period_ = period;
    entry->repeat_ = repeat;
    entry->owner_ = this;
    entry->Start(defer);
    return entry;
}

void TimerManager::Add(TimerEntry* entry, bool defer) {
    if (entry->owner_ != nullptr && entry->owner_ != this) {
        // An entry is in one set at a time; left in the other, it would dangle there once
        // deleted.
        TimerManager* previous = entry->owner_;
        previous->Unlist(entry);
        if (previous->firing_ == entry) previous->firing_ = nullptr;
    }
    entry->owner_ = this;
    const bool markFired = updating_ && defer && !entry->fired_;
    if (entry->node_ != nullptr && !markFired) return;
    Unlist(entry);  // the fired flag is part of the key: change it outside the set
    if (markFired) entry->fired_ = true;
    List(entry);
}

void TimerManager::Update() {
    updating_ = true;
    // Pass 1: the entries not yet fired, in due order. Fire moves each fired entry to the
    // front group, behind the walk, so the walk meets a fired entry only after going round.
    for (entries_.WalkBegin(); !entries_.WalkEnded(); entries_.WalkAdvance()) {
        TimerEntry* entry = entries_.WalkNode()->key;
        if (entry->fired_) break;
        if (entry->repeat_ == 0) {
            delete entry;
            continue;
        }
        firing_ = entry;
        if (!entry->Fire()) break;  // the rest are due even later
        // The next period counts from this firing, unless the delegate deleted the entry.
        if (firing_ == entry && entry->fired_) entry->start_ = Now();
    }
    firing_ = nullptr;
    // Pass 2: re-arm the fired entries (those deferred during pass 1 among them).
    for (entries_.WalkBegin(); !entries_.WalkEnded(); entries_.WalkAdvance()) {
        TimerEntry* entry = entries_.WalkNode()->key;
        if (!entry->fired_) break;
        Unlist(entry);
        entry->fired_ = false;
        entry->due_ = DueTime(entry->start_, entry->period_);
        List(entry);
    }
    updating_ = false;
}

void TimerManager::List(TimerEntry* entry) { entry->node_ = entries_.Insert(entry, 1); }

void TimerManager::Unlist(TimerEntry* entry) {
    if (entry->node_ == nullptr) return;
    // The cursor means nothing in a sorted set; it only marks the node to erase.
    entries_.SetCursor(entry->node_);
    entries_.EraseAtCursor();
    entry->node_ = nullptr;
}
