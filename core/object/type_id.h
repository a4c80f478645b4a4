// Small integer type identifiers, the engine's replacement for run-time type information.
// TypeId<T>::Get hands out the next number of one process-wide counter the first time T is
// asked for, and records in the TypeRegistry the routine that destroys a value of T in place;
// property values are destroyed through that table without knowing their static type.
//
// Ids depend on the order in which types are first asked for, so they are only meaningful
// within one run: never write them to files or compare them across runs. Id 0 is never handed
// out; -1 stands for "no type" wherever an id is stored. Single thread: the counter, the table
// and the per-type caches are plain globals without locks.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

// Destroys the value at `value` in place: runs its destructor, never frees its memory.
using DestroyRoutine = void (*)(void* value);

// The destroy routine of values with nothing to destroy (integers, floats, bools, pointers).
void DestroyPlainValue(void* value);

// The destroy routine of T: its destructor run in place. For classes with a virtual destructor
// this destroys the whole object that `value`'s T part belongs to, whatever its dynamic type.
template <typename T>
void DestroyValueOfType(void* value) {
    std::destroy_at(static_cast<T*>(value));
}

class TypeRegistry {
public:
    // The bound of the routine table; the engine asks for a few dozen ids.
    static constexpr int32_t kMaxTypeIds = 5000;
    // Stored where a type id means "no value".
    static constexpr int32_t kNoType = -1;

    // Hands out the next id and records `routine` for it. Aborts the process when the table is
    // full: a value of a type without a recorded routine could never be destroyed.
    static int32_t Register(DestroyRoutine routine);

    // Calls the routine recorded for `id` with `value`. id must have been handed out.
    static void DestroyValue(int32_t id, void* value);

    // The id the next Register will hand out (1 in a fresh process).
    static int32_t NextTypeId();
};

// The id of T; the same value on every call within one run. After the first call a lookup
// costs one test of the cached id.
template <typename T>
struct TypeId {
    static int32_t Get() {
        if (id_ == 0) {  // 0 is never handed out, so it doubles as the first-use guard
            if constexpr (std::is_trivially_destructible_v<T>) {
                id_ = TypeRegistry::Register(&DestroyPlainValue);
            } else {
                id_ = TypeRegistry::Register(&DestroyValueOfType<T>);
            }
        }
        return id_;
    }

private:
    static inline int32_t id_ = 0;
};
