// The GUI's timer service: entries that call a delegate when their period has passed, kept by a
// manager in firing order and run by TimerManager::Update at the start of every GUI draw.
// Windows use it for their update requests (period 0, fired by the next Update). Times are
// milliseconds of ClockNow, held as signed 64-bit values.
//
// One thread. A delegate may create, start or delete entries (its own included) while Update
// runs: the manager walks its set with the erase-safe walk. It must not call Update itself.
#pragma once

#include "core/containers/ordered_map.h"
#include "gui/delegate.h"

#include <cstdint>

class TimerEntry;
class TimerManager;

// The manager's order: fired entries first, then by due time (earlier first), equal due times
// by address.
struct TimerEntryOrder {
    int operator()(const TimerEntry* a, const TimerEntry* b) const;
};

class TimerEntry {
public:
    // Sentinel of repeat(): fires without end.
    static constexpr int32_t kRepeatForever = -1;

    TimerEntry(const TimerEntry&) = delete;
    TimerEntry& operator=(const TimerEntry&) = delete;
    // Leaves its manager; frees the delegate. Safe from inside the entry's own delegate.
    ~TimerEntry();

    // Restarts the period now: start = ClockNow, due = start + period. A registered entry is
    // re-added with `defer` (see TimerManager::Add).
    void Start(bool defer);
    // A new period counted from the same start: due = start + period.
    void SetPeriod(int64_t period);
    // False while ClockNow is before the due time. Otherwise the entry is marked fired (it
    // waits among the fired entries to be re-armed by Update), repeat counts down when
    // positive, and the delegate is invoked; true. The delegate may delete the entry: Fire
    // touches nothing of it afterwards.
    bool Fire();

    Delegate* delegate() const { return delegate_; }
    TimerManager* owner() const { return owner_; }
    int64_t start() const { return start_; }
    int64_t period() const { return period_; }
    int64_t due() const { return due_; }
    // Firings left: kRepeatForever, or n > 0, or 0 when finished (Update deletes it).
    int32_t repeat() const { return repeat_; }
    bool fired() const { return fired_; }

private:
    friend class TimerManager;
    friend struct TimerEntryOrder;

    TimerEntry() = default;

    Delegate* delegate_ = nullptr;
    TimerManager* owner_ = nullptr;
    int64_t start_ = 0;
    int64_t period_ = 0;
    int64_t due_ = 0;
    int32_t repeat_ = kRepeatForever;
    // fired_ and due_ are the entry's key in its manager's set: they change only while the
    // entry is out of the set (node_ null).
    bool fired_ = false;
    // The entry's node in its manager's set, or null; erasing through it saves a search.
    MapNode<TimerEntry*, NoValue>* node_ = nullptr;
};

class TimerManager {
public:
    TimerManager() : entries_(/*sorted=*/true) {}
    TimerManager(const TimerManager&) = delete;
    TimerManager& operator=(const TimerManager&) = delete;
    // Lets go of every entry: entries with kRepeatForever are left to their creators with no
    // owner; the finite ones, which belong to the manager, are deleted.
    ~TimerManager();

    // A new entry registered here, calling `delegate` (owned by the entry; may be null) every
    // `period` ms, `repeat` times (kRepeatForever, n > 0, or 0: deleted by the next Update
    // without firing), started now with `defer`.
    // Ownership: an entry with kRepeatForever belongs to the caller, who deletes it (that is
    // how it stops). An entry with a finite repeat belongs to the manager from here on: Update
    // deletes it once its repeats have run out, and the caller must not keep the pointer past
    // that (nor delete it itself after the last firing).
    TimerEntry* CreateTimer(Delegate* delegate, int32_t period, bool defer, int32_t repeat);
    // Registers `entry` here (leaving any other manager first). While Update runs, `defer`
    // marks the entry fired, so that it is re-armed at the end of that Update instead of being
    // considered in it.
    void Add(TimerEntry* entry, bool defer);
    // Pass 1 fires the due entries in order, deleting the finished ones it meets, and stops at
    // the first entry not yet due (or already fired). A fired entry's next period counts from
    // its firing. Pass 2 re-arms the fired entries.
    void Update();

    int32_t count() const { return entries_.count(); }
    bool updating() const { return updating_; }
    // The entries in firing order: count() steps along next from first().
    const OrderedSet<TimerEntry*, TimerEntryOrder>& entries() const { return entries_; }

private:
    friend class TimerEntry;

    void List(TimerEntry* entry);
    void Unlist(TimerEntry* entry);

    OrderedSet<TimerEntry*, TimerEntryOrder> entries_;
    bool updating_ = false;
    // The entry pass 1 is firing, until its delegate returns; cleared if the delegate deletes
    // it, so that Update never reads a freed entry.
    TimerEntry* firing_ = nullptr;
};
