// A counted shared reference whose count lives in its own heap word, so any object can be
// shared, whether or not it keeps a count of its own.
#pragma once

#include "core/containers/compare.h"

#include <cstdint>
#include <cstdlib>
#include <type_traits>

// Destroy policies: how the last release disposes of the object.

// Engine objects and anything made with `new`: deleted through T* (virtual destructors do
// the rest for polymorphic objects).
template <typename T>
struct DeleteObject {
    void operator()(T* object) const { delete object; }
};

// Plain payload blocks allocated with std::malloc/calloc: freed without running anything.
template <typename T>
struct FreeBlock {
    static_assert(std::is_void_v<T> || std::is_trivially_destructible_v<T>,
                  "a block freed with std::free must not need a destructor");
    void operator()(T* object) const { std::free(object); }
};

// A SharedRef's two words as plain data: what containers that must not count hold in place of
// a reference (the geometry cache's lists name the geometries they index this way, so that the
// cache keeps nothing alive). Copying, storing and dropping the words touches no count. Two
// word pairs are equal when they name the same object; as keys they order by its address.
template <typename T>
struct SharedRefWords {
    T* object = nullptr;
    int32_t* refs = nullptr;

    friend bool operator==(const SharedRefWords& a, const SharedRefWords& b) { return a.object == b.object; }
};

template <typename T>
struct ThreeWayCompare<SharedRefWords<T>> {
    int operator()(const SharedRefWords<T>& a, const SharedRefWords<T>& b) const {
        return ThreeWayCompare<T*>()(a.object, b.object);
    }
};

// Every SharedRef of one object shares one count; the last Release destroys the object with
// Destroy and frees the count. A null object carries no count. Counts are plain integers:
// single thread only. No virtual table.
template <typename T, typename Destroy = DeleteObject<T>>
class SharedRef {
public:
    SharedRef() = default;
    // Takes ownership of `object` with a count of 1; null gives an empty reference.
    explicit SharedRef(T* object) : object_(object), refs_(object ? new int32_t(1) : nullptr) {}
    // Shares other's object; the count goes up by one.
    SharedRef(const SharedRef& other) : object_(other.object_), refs_(other.refs_) {
        if (refs_ != nullptr) ++*refs_;
    }
    // Takes other's object and count without counting; other is left empty.
    SharedRef(SharedRef&& other) noexcept : object_(other.object_), refs_(other.refs_) {
        other.object_ = nullptr;
        other.refs_ = nullptr;
    }
    SharedRef& operator=(const SharedRef& other) {
        Assign(other);
        return *this;
    }
    SharedRef& operator=(SharedRef&& other) noexcept {
        if (this != &other) {
            Release();
            object_ = other.object_;
            refs_ = other.refs_;
            other.object_ = nullptr;
            other.refs_ = nullptr;
        }
        return *this;
    }
    ~SharedRef() { Release(); }

    // Releases this reference, then shares other's object. Assigning a reference to itself
    // leaves it unchanged. The new count is taken before the old one is dropped, so `other`
    // may live inside the object this reference releases.
    void Assign(const SharedRef& other) {
        if (this == &other) return;
        T* object = other.object_;
        int32_t* refs = other.refs_;
        if (refs != nullptr) ++*refs;
        Release();
        object_ = object;
        refs_ = refs;
    }

    // Drops this reference: the count goes down by one, and at 0 the object is destroyed and
    // the count freed. Afterwards the reference is empty.
    void Release() {
        T* object = object_;
        int32_t* refs = refs_;
        // Emptied first: the object's destructor may reach this reference again.
        object_ = nullptr;
        refs_ = nullptr;
        if (refs != nullptr && --*refs == 0) DestroyLast(object, refs);
    }

    // The two words without counting: they stay meaningful only while some counted reference
    // keeps the object alive.
    SharedRefWords<T> Words() const { return SharedRefWords<T>{object_, refs_}; }
    // A counted reference rebuilt from words that Words() gave while the object is still alive:
    // it shares the object and its count, and the count goes up by one. Empty words give an
    // empty reference.
    static SharedRef FromWords(const SharedRefWords<T>& words) {
        SharedRef ref;
        ref.object_ = words.object;
        ref.refs_ = words.refs;
        if (ref.refs_ != nullptr) ++*ref.refs_;
        return ref;
    }

    T* Get() const { return object_; }
    T* object() const { return object_; }
    // The shared count, or null for an empty reference.
    const int32_t* refs() const { return refs_; }

private:
    // Out of line: the last release is the rare path, and when GCC sees the count freed here
    // it warns (wrongly) about reads of the same count through the surviving references.
    [[gnu::noinline]] static void DestroyLast(T* object, int32_t* refs) {
        if (object != nullptr) Destroy()(object);
        delete refs;
    }

    T* object_ = nullptr;
    int32_t* refs_ = nullptr;
};

// Two references are equal when they hold the same object (how lists search for them).
template <typename T, typename D>
bool operator==(const SharedRef<T, D>& a, const SharedRef<T, D>& b) {
    return a.Get() == b.Get();
}

// As map keys, references order by the address of the object they hold (unsigned).
template <typename T, typename D>
struct ThreeWayCompare<SharedRef<T, D>> {
    int operator()(const SharedRef<T, D>& a, const SharedRef<T, D>& b) const {
        return ThreeWayCompare<T*>()(a.Get(), b.Get());
    }
};
