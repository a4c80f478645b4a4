#include "core/object/ref_counted.h"

#include "core/object/type_id.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// A small hierarchy with the shapes of the engine's answer tables: virtual RefCounted bases,
// a class that does not answer for RefCounted, multiple inheritance that moves parts away from
// the object's start, a delegating base, and a class that keeps RefCounted's own query.

// Answers only its own id, not RefCounted's.
struct Item : virtual RefCounted {
    bool QueryInterface(int32_t id, void** out) override {
        return AnswerQuery<Item>(this, id, out);
    }
    int itemData = 1;
};

struct Layout : virtual RefCounted {
    bool QueryInterface(int32_t id, void** out) override {
        return AnswerQuery<Layout>(this, id, out);
    }
    int layoutData = 2;
};

// Two bases: the Item part sits at another address than the Layout part.
struct Window : Item, Layout {
    bool QueryInterface(int32_t id, void** out) override {
        return AnswerQuery<Window, Layout, Item>(this, id, out);
    }
    int windowData = 3;
};

// Answers its own id and hands the rest to its Window part.
struct SkinnedWindow : Window {
    bool QueryInterface(int32_t id, void** out) override {
        return AnswerQuery<SkinnedWindow>(this, id, out) || Window::QueryInterface(id, out);
    }
};

// Answers for RefCounted through the virtual base.
struct Track : virtual RefCounted {
    bool QueryInterface(int32_t id, void** out) override {
        return AnswerQuery<Track, RefCounted>(this, id, out);
    }
    double trackData = 4;
};

struct PositionedTrack : Track {
    bool QueryInterface(int32_t id, void** out) override {
        return AnswerQuery<PositionedTrack, Track, RefCounted>(this, id, out);
    }
};

// A second track family that PositionedTrack must not answer for.
struct RotatedTrack : virtual RefCounted {
    bool QueryInterface(int32_t id, void** out) override {
        return AnswerQuery<RotatedTrack, RefCounted>(this, id, out);
    }
};

// Keeps RefCounted's query.
struct Plain : virtual RefCounted {
    int plainData = 5;
};

// One asked-for type: its id and, as the oracle for the adjusted pointer, dynamic_cast.
struct Asked {
    std::string name;
    std::function<int32_t()> id;
    std::function<void*(RefCounted*)> cast;
};

template <typename T>
Asked AskFor(const char* name) {
    return {name, [] { return TypeId<T>::Get(); },
            [](RefCounted* object) -> void* { return dynamic_cast<T*>(object); }};
}

// One object class: how to make one and the names it answers for.
struct Made {
    std::string name;
    std::function<RefCounted*()> make;
    std::set<std::string> answers;
};

template <typename T>
Made Make(const char* name, std::set<std::string> answers) {
    return {name, []() -> RefCounted* { return new T; }, std::move(answers)};
}

TEST(RefCountedTest, QueryInterfaceAnswersEachClassTableWithAdjustedPointers) {
    const std::vector<Asked> asked = {
        AskFor<RefCounted>("RefCounted"),   AskFor<Item>("Item"),
        AskFor<Layout>("Layout"),           AskFor<Window>("Window"),
        AskFor<SkinnedWindow>("SkinnedWindow"), AskFor<Track>("Track"),
        AskFor<PositionedTrack>("PositionedTrack"), AskFor<RotatedTrack>("RotatedTrack"),
        AskFor<Plain>("Plain"),
    };
    const std::vector<Made> classes = {
        Make<RefCounted>("RefCounted", {"RefCounted"}),
        Make<Item>("Item", {"Item"}),
        Make<Window>("Window", {"Window", "Layout", "Item"}),
        Make<SkinnedWindow>("SkinnedWindow", {"SkinnedWindow", "Window", "Layout", "Item"}),
        Make<Track>("Track", {"Track", "RefCounted"}),
        Make<PositionedTrack>("PositionedTrack", {"PositionedTrack", "Track", "RefCounted"}),
        Make<Plain>("Plain", {"RefCounted"}),
    };
    for (const Made& made : classes) {
        std::unique_ptr<RefCounted> object(made.make());
        for (const Asked& type : asked) {
            SCOPED_TRACE(made.name + " asked for " + type.name);
            int sentinel = 0;
            void* const untouched = &sentinel;
            void* out = untouched;
            const bool answered = object->QueryInterface(type.id(), &out);
            const bool expected = made.answers.count(type.name) != 0;
            ASSERT_EQ(answered, expected);
            if (answered) {
                void* oracle = type.cast(object.get());
                ASSERT_NE(oracle, nullptr) << "the table lists a type the class does not have";
                EXPECT_EQ(out, oracle);
            } else {
                EXPECT_EQ(out, untouched) << "a refused query leaves the out pointer alone";
            }
        }
    }
}

TEST(RefCountedTest, MultipleInheritancePartsReallyMove) {
    // The matrix above only proves something if the adjusted pointers differ from the object.
    Window window;
    EXPECT_NE(static_cast<void*>(static_cast<Layout*>(&window)),
              static_cast<void*>(static_cast<Item*>(&window)));
    EXPECT_NE(static_cast<void*>(static_cast<RefCounted*>(&window)), static_cast<void*>(&window));
    Layout* layout = QueryAs<Layout>(&window);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->layoutData, 2);
    EXPECT_EQ(QueryAs<Item>(&window)->itemData, 1);
    EXPECT_EQ(QueryAs<RefCounted>(&window), nullptr) << "Window's table omits RefCounted";
    EXPECT_EQ(QueryAs<Window>(nullptr), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Counting and the listeners

// Records what it is told.
struct Listener : RefCounted {
    void OnDestroyed(RefCounted* object) override { destroyed.push_back(object); }
    void OnReleased(RefCounted* object) override { released.push_back(object); }
    std::vector<RefCounted*> destroyed;
    std::vector<RefCounted*> released;
};

TEST(RefCountedTest, ReleaseCountsDownAndNeverBelowZero) {
    // {AddRefs, Releases, count afterwards}
    const struct {
        int adds;
        int releases;
        int32_t count;
    } cases[] = {{0, 0, 0}, {2, 1, 1}, {2, 2, 0}, {1, 3, 0}, {0, 1, 0}};
    for (const auto& c : cases) {
        Plain object;
        for (int i = 0; i < c.adds; ++i) object.AddRef();
        for (int i = 0; i < c.releases; ++i) object.Release();
        EXPECT_EQ(object.RefCount(), c.count) << c.adds << " adds, " << c.releases << " releases";
    }
}

TEST(RefCountedTest, OwnerDeletesAtZeroAndListenerHearsOnce) {
    Listener listener;
    auto* object = new PositionedTrack;  // the RefCounted part is not at the object's start
    object->SetDestroyListener(&listener);
    object->AddRef();
    object->AddRef();
    object->Release();
    EXPECT_EQ(object->RefCount(), 1);
    EXPECT_TRUE(listener.destroyed.empty()) << "Release never deletes";
    object->Release();
    EXPECT_TRUE(listener.destroyed.empty()) << "not even at 0: the owner does";
    RefCounted* identity = object;
    delete object;
    ASSERT_EQ(listener.destroyed.size(), 1u);
    EXPECT_EQ(listener.destroyed[0], identity);
    EXPECT_TRUE(listener.released.empty()) << "no release watcher was set";
}

TEST(RefCountedTest, ReleaseWatcherToldAtZero) {
    Listener watcher;
    Plain object;
    object.SetReleaseWatcher(&watcher);
    object.AddRef();
    object.AddRef();
    object.Release();
    EXPECT_TRUE(watcher.released.empty());
    object.Release();
    ASSERT_EQ(watcher.released.size(), 1u);
    EXPECT_EQ(watcher.released[0], static_cast<RefCounted*>(&object));
}

TEST(RefCountedTest, UnregisteredListenerHearsNothing) {
    Listener listener;
    {
        Plain object;
        object.SetDestroyListener(&listener);
        object.SetDestroyListener(nullptr);
    }
    EXPECT_TRUE(listener.destroyed.empty());
}

TEST(RefCountedTest, CopyStartsAsANewObject) {
    Listener listener;
    Plain original;
    original.AddRef();
    original.SetDestroyListener(&listener);
    {
        Plain copy(original);
        EXPECT_EQ(copy.RefCount(), 0);
        copy = original;
        EXPECT_EQ(copy.RefCount(), 0);
    }
    EXPECT_TRUE(listener.destroyed.empty()) << "the copy has no listener of its own";
    original.SetDestroyListener(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Type ids and the destroy routines

struct FirstFresh {};
struct SecondFresh {};

TEST(TypeIdTest, IdsHandedOutInFirstUseOrderAndStable) {
    const int32_t next = TypeRegistry::NextTypeId();
    EXPECT_GE(next, 1) << "id 0 is never handed out";
    EXPECT_EQ(TypeId<SecondFresh>::Get(), next) << "the first asked gets the next number";
    EXPECT_EQ(TypeId<FirstFresh>::Get(), next + 1);
    EXPECT_EQ(TypeId<SecondFresh>::Get(), next);
    EXPECT_EQ(TypeId<FirstFresh>::Get(), next + 1);
    EXPECT_EQ(TypeRegistry::NextTypeId(), next + 2);
}

// Counts destructions, and records listener notifications through its RefCounted part.
struct Counted : virtual RefCounted {
    explicit Counted(int* destroyed) : destroyed(destroyed) {}
    ~Counted() override { ++*destroyed; }
    int* destroyed;
};

struct CountedLeaf : Counted {
    CountedLeaf(int* destroyed, int* leafDestroyed) : Counted(destroyed), leaf(leafDestroyed) {}
    ~CountedLeaf() override { ++*leaf; }
    int* leaf;
};

TEST(TypeIdTest, DestroyValueRunsTheDestructorInPlaceOnce) {
    int destroyed = 0;
    int leafDestroyed = 0;
    Listener listener;
    // The storage outlives the value: the routine destroys, it never frees (ASan would see a
    // free of stack memory).
    alignas(CountedLeaf) unsigned char storage[sizeof(CountedLeaf)];
    auto* value = new (storage) CountedLeaf(&destroyed, &leafDestroyed);
    value->SetDestroyListener(&listener);

    // Through the base type's id: the virtual destructor reaches the whole object.
    TypeRegistry::DestroyValue(TypeId<Counted>::Get(), static_cast<Counted*>(value));
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(leafDestroyed, 1);
    EXPECT_EQ(listener.destroyed.size(), 1u);
}

TEST(TypeIdTest, PlainTypesGetTheRoutineThatDoesNothing) {
    int value = 7;
    TypeRegistry::DestroyValue(TypeId<int>::Get(), &value);
    EXPECT_EQ(value, 7);
}

TEST(TypeIdDeathTest, TableBoundStopsTheProcess) {
    EXPECT_DEATH(
        {
            for (int i = 0; i < TypeRegistry::kMaxTypeIds; ++i) {
                TypeRegistry::Register(&DestroyPlainValue);
            }
        },
        "more than 4999 type ids");
}

}  // namespace
