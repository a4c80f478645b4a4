// A test element that owns a heap word and registers every live instance, so container tests
// can check that each constructed element is destroyed exactly once, that nothing is read or
// assigned before construction or after destruction, and ASan sees any double free.
#pragma once

#include <gtest/gtest.h>

#include <set>

class Tracked {
public:
    Tracked() : Tracked(0) {}
    explicit Tracked(int v) : value_(new int(v)) { Register(); }
    Tracked(const Tracked& other) : value_(new int(other.value())) { Register(); }
    Tracked& operator=(const Tracked& other) {
        CheckLive("assigned to");
        *value_ = other.value();
        return *this;
    }
    ~Tracked() {
        if (Live().erase(this) == 0) ADD_FAILURE() << "destroyed an element that was not alive";
        delete value_;
    }

    int value() const {
        CheckLive("read");
        return *value_;
    }
    bool operator==(const Tracked& other) const { return value() == other.value(); }

    // Every element constructed and not yet destroyed.
    static std::set<const Tracked*>& Live() {
        static std::set<const Tracked*> live;
        return live;
    }

private:
    void Register() {
        if (!Live().insert(this).second) ADD_FAILURE() << "constructed over a live element";
    }
    void CheckLive(const char* what) const {
        if (Live().count(this) == 0) ADD_FAILURE() << "an element not alive was " << what;
    }

    int* value_;
};
