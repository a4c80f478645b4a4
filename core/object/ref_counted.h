// The interface base of every shared engine object: a reference count kept by the owners that
// share the object, a destroy listener, and one type query that stands in for run-time type
// information (the engine never uses dynamic_cast).
//
// Engine classes derive from RefCounted virtually, so an object has exactly one RefCounted
// part however many of its bases derive from it.
#pragma once

#include "core/object/type_id.h"

#include <cstdint>

class RefCounted {
public:
    // Count 0, no release watcher, no destroy listener.
    RefCounted() = default;
    // A copy is a new object: it starts with a count of 0 and nobody watching it.
    RefCounted(const RefCounted&) {}
    // The count and the listeners belong to the object's identity, not to its contents.
    RefCounted& operator=(const RefCounted&) { return *this; }

    // Told when `object`, whose release watcher this is, is released down to a count of 0.
    // Empty here.
    virtual void OnReleased(RefCounted* object);
    // Told when `object`, whose destroy listener this is, is being destroyed. Only its
    // RefCounted part is still alive: use the pointer as an identity (to drop references to
    // the object), never to call into it.
    virtual void OnDestroyed(RefCounted* object);
    // True when the object answers for type `id`: `out` receives the address of the object's
    // part of that type (the object adjusted to that base). False leaves `out` untouched. This
    // implementation answers only TypeId<RefCounted>, with the object itself; a class with its
    // own answer table overrides it, usually with AnswerQuery.
    virtual bool QueryInterface(int32_t id, void** out);

    // Tells the destroy listener, if any, exactly once.
    virtual ~RefCounted();

    // Counting is manual: the owner that shares the object calls AddRef when it hands it out
    // and Release when it takes it back, and deletes the object itself once RefCount is 0.
    void AddRef() { ++refCount_; }
    // Counts down, never below 0, and never deletes: at 0 only the release watcher is told.
    void Release();
    int32_t RefCount() const { return refCount_; }

    // The object told by OnDestroyed when this one is destroyed; null for nobody. The listener
    // must outlive this object or unregister (set null) first.
    void SetDestroyListener(RefCounted* listener) { destroyListener_ = listener; }
    // The object told by OnReleased when a Release brings the count to 0; null for nobody.
    // No engine object sets one: releases only count down.
    void SetReleaseWatcher(RefCounted* watcher) { releaseWatcher_ = watcher; }

private:
    int32_t refCount_ = 0;
    RefCounted* releaseWatcher_ = nullptr;
    RefCounted* destroyListener_ = nullptr;
};

// A class's answer table. Compares `id` with the ids of Self and then of each of Answers, in
// that order, and on the first match writes the address of self's part of that type to `out`
// (the pointer adjusted through multiple and virtual inheritance; RefCounted among Answers
// gives the address of the one RefCounted part). Ids are asked for only as far as the
// comparison gets. Typical use:
//     bool Mesh::QueryInterface(int32_t id, void** out) {
//         return AnswerQuery<Mesh, Renderable>(this, id, out);
//     }
// A class with a delegating base passes the ids it does not answer to that base's query on
// the base's part, called non-virtually:
//     return AnswerQuery<SkinWindow>(this, id, out) || GuiWindow::QueryInterface(id, out);
template <typename Self, typename... Answers>
bool AnswerQuery(Self* self, int32_t id, void** out) {
    void* found = nullptr;
    const bool matched =
        (id == TypeId<Self>::Get() && (found = self, true)) ||
        ((id == TypeId<Answers>::Get() && (found = static_cast<Answers*>(self), true)) || ...);
    if (matched) *out = found;
    return matched;
}

// The object's part of type T, or null when the object does not answer for T. A typed
// wrapper of RefCounted::QueryInterface.
template <typename T>
T* QueryAs(RefCounted* object) {
    void* part = nullptr;
    if (object == nullptr || !object->QueryInterface(TypeId<T>::Get(), &part)) return nullptr;
    return static_cast<T*>(part);
}
