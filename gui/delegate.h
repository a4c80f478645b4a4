// Bound calls: an object and one of its member operations, called later through Invoke. The
// GUI schedules work with them (a timer entry owns the delegate it calls).
#pragma once

#include <cstdint>
#include <type_traits>

class Delegate {
public:
    Delegate() = default;
    Delegate(const Delegate&) = delete;
    Delegate& operator=(const Delegate&) = delete;
    virtual ~Delegate() = default;

    // Calls the bound operation; nothing when the object or the operation is null. The result
    // of the operation, if any, is dropped.
    virtual void Invoke() = 0;

    // A new delegate calling `operation` on `object`. The operation may belong to any base of
    // T: the member pointer carries the adjustment from the object to the operation's
    // receiver. The caller owns the result.
    template <typename T, typename Base, typename Result>
        requires std::is_base_of_v<Base, T>
    static Delegate* Create(T* object, Result (Base::*operation)());
};

// The bound call with two int arguments stored beside the object and the operation.
class DelegateWithInts : public Delegate {
public:
    template <typename T, typename Base, typename Result>
        requires std::is_base_of_v<Base, T>
    static DelegateWithInts* Create(T* object, Result (Base::*operation)(int32_t, int32_t), int32_t first,
                                    int32_t second);

    int32_t first() const { return first_; }
    int32_t second() const { return second_; }

protected:
    DelegateWithInts(int32_t first, int32_t second) : first_(first), second_(second) {}

    int32_t first_;
    int32_t second_;
};

namespace detail {

template <typename Base, typename Result>
class MemberDelegate final : public Delegate {
public:
    MemberDelegate(Base* object, Result (Base::*operation)()) : object_(object), operation_(operation) {}
    void Invoke() override {
        if (object_ != nullptr && operation_ != nullptr) (object_->*operation_)();
    }

private:
    Base* object_;
    Result (Base::*operation_)();
};

template <typename Base, typename Result>
class MemberDelegateWithInts final : public DelegateWithInts {
public:
    MemberDelegateWithInts(Base* object, Result (Base::*operation)(int32_t, int32_t), int32_t first, int32_t second)
        : DelegateWithInts(first, second), object_(object), operation_(operation) {}
    void Invoke() override {
        if (object_ != nullptr && operation_ != nullptr) (object_->*operation_)(first_, second_);
    }

private:
    Base* object_;
    Result (Base::*operation_)(int32_t, int32_t);
};

}  // namespace detail

template <typename T, typename Base, typename Result>
    requires std::is_base_of_v<Base, T>
Delegate* Delegate::Create(T* object, Result (Base::*operation)()) {
    // The object is converted to the operation's class here, while its static type is known.
    return new detail::MemberDelegate<Base, Result>(object, operation);
}

template <typename T, typename Base, typename Result>
    requires std::is_base_of_v<Base, T>
DelegateWithInts* DelegateWithInts::Create(T* object, Result (Base::*operation)(int32_t, int32_t), int32_t first,
                                           int32_t second) {
    return new detail::MemberDelegateWithInts<Base, Result>(object, operation, first, second);
}
