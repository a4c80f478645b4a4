// A growable array that holds exactly the requested number of elements plus a fixed reserve
// (growBy), so a stream of small growth steps costs one reallocation per growBy elements.
#pragma once

#include <cassert>
#include <cstdint>
#include <utility>

// T must be default-constructible and copy-assignable. Every element of the block is
// constructed (value-initialised, so plain elements start at zero) when the block is
// allocated and destroyed when it is freed; slots beyond count() always hold valid values.
// Invariant: count() <= capacity() <= count() + growBy(), except after Adopt (capacity() ==
// count()); items() is null exactly when capacity() is 0. Not thread-safe. No virtual table.
template <typename T>
class DynArray {
public:
    // No elements, no reserve, no block.
    DynArray() = default;
    // As Init(count, growBy).
    DynArray(int32_t count, int32_t growBy) { Init(count, growBy); }
    // Same count, capacity and growBy as `other`; the first count elements are copied.
    DynArray(const DynArray& other) { CopyFrom(other); }
    DynArray& operator=(const DynArray& other) {
        Assign(other);
        return *this;
    }
    ~DynArray() { FreeBlock(); }

    // count >= 0, growBy >= 0. Frees any current block, then holds `count` default elements
    // in a fresh block of count + growBy (no block when that is 0).
    void Init(int32_t count, int32_t growBy) {
        assert(count >= 0 && growBy >= 0);
        FreeBlock();
        count_ = count;
        capacity_ = count + growBy;
        growBy_ = growBy;
        if (capacity_ > 0) items_ = new T[capacity_]();
    }

    // n >= 0. Keeps the block when n lies in the window [capacity - growBy, capacity]: then
    // only count changes, and slots between the old and the new count keep the values they
    // held (earlier elements after a shrink, defaults in a fresh block). Otherwise the block
    // is replaced by one of n + growBy elements holding the first min(count, n) elements,
    // the rest default; when n + growBy is 0 the array ends with no block.
    void Resize(int32_t n) {
        assert(n >= 0);
        if (capacity_ >= n && capacity_ - n <= growBy_) {
            count_ = n;
            return;
        }
        const int32_t capacity = n + growBy_;
        T* items = nullptr;
        if (capacity > 0) {
            items = new T[capacity]();
            const int32_t kept = count_ < n ? count_ : n;
            for (int32_t i = 0; i < kept; ++i) items[i] = std::move(items_[i]);
        }
        delete[] items_;
        items_ = items;
        count_ = n;
        capacity_ = capacity;
    }

    // i >= 0 (a negative index is a caller fault). Grows the array to i + 1 elements first
    // when i >= count(). The reference lasts until the next Resize, At, Init, Adopt or Assign.
    T& At(int32_t i) {
        assert(i >= 0);
        if (i >= count_) Resize(i + 1);
        return items_[i];
    }

    // Frees the current block and takes over `block` of n elements (count = capacity = n,
    // growBy unchanged). The block must come from `new T[n]` (it is freed with delete[]) and
    // is owned by the array afterwards; with n == 0 it is freed at once and the array is left
    // with no block.
    void Adopt(T* block, int32_t n) {
        assert(n >= 0 && (n == 0 || block != nullptr));
        if (block != items_) delete[] items_;
        if (n == 0) {
            delete[] block;
            block = nullptr;
        }
        items_ = block;
        count_ = capacity_ = n;
    }

    // Makes this array a copy of `other`: same count, capacity and growBy, a fresh block with
    // the first count elements copied. Assigning an array to itself does nothing.
    void Assign(const DynArray& other) {
        if (this == &other) return;
        FreeBlock();
        CopyFrom(other);
    }

    int32_t count() const { return count_; }
    int32_t capacity() const { return capacity_; }
    int32_t growBy() const { return growBy_; }
    // The block of capacity() elements, or null.
    T* items() { return items_; }
    const T* items() const { return items_; }

private:
    // Expects no block.
    void CopyFrom(const DynArray& other) {
        count_ = other.count_;
        capacity_ = other.capacity_;
        growBy_ = other.growBy_;
        if (capacity_ > 0) {
            items_ = new T[capacity_]();
            for (int32_t i = 0; i < count_; ++i) items_[i] = other.items_[i];
        }
    }

    void FreeBlock() {
        delete[] items_;
        items_ = nullptr;
        count_ = capacity_ = 0;
    }

    int32_t count_ = 0;
    int32_t capacity_ = 0;
    int32_t growBy_ = 0;
    T* items_ = nullptr;
};
