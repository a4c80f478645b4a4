// Reference counting and QueryInterface written once for every COM object of the layer.
#pragma once

#include <objbase.h>

#include <atomic>

namespace rh::com {

// QueryInterface written once: answers IUnknown and each of Iids with self (one pointer serves
// them all under single inheritance) and a new reference, anything else E_NOINTERFACE.
template <typename Interface, const IID&... Iids>
HRESULT AnswerQueryInterface(Interface* self, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || ((iid == Iids) || ...)) {
        self->AddRef();
        *object = self;
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// Base of a COM object implementing Interface. Iids lists the interfaces the object answers
// besides IUnknown; each must be Interface or one of its bases (single inheritance, so one
// pointer serves them all). An object starts with one reference, owned by its creator, and
// deletes itself when Release brings the count to 0. Derived classes are created with new.
template <typename Interface, const IID&... Iids>
class ComObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return AnswerQueryInterface<Interface, Iids...>(this, iid, object);
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

private:
    std::atomic<ULONG> refs_{1};
};

// Owns one reference; for objects the layer keeps inside other objects.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    // Takes over the reference the caller holds.
    explicit ComRef(T* owned) : p_(owned) {}
    ComRef(const ComRef& other) : p_(other.p_) {
        if (p_ != nullptr) p_->AddRef();
    }
    ComRef(ComRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComRef& operator=(ComRef other) noexcept {
        T* old = p_;
        p_ = other.p_;
        other.p_ = old;
        return *this;
    }
    ~ComRef() {
        if (p_ != nullptr) p_->Release();
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // A new reference for a caller's out-parameter.
    T* share() const {
        if (p_ != nullptr) p_->AddRef();
        return p_;
    }

private:
    T* p_ = nullptr;
};

}  // namespace rh::com
