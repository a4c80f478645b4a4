#include "core/containers/shared_ref.h"

#include "core/containers/linked_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <utility>

namespace {

// Counts its destructions in a counter the test owns.
struct Payload {
    explicit Payload(int* destroyed) : destroyed(destroyed) {}
    virtual ~Payload() { ++*destroyed; }
    int* destroyed;
};

struct DerivedPayload : Payload {
    DerivedPayload(int* destroyed, int* derivedDestroyed)
        : Payload(destroyed), derivedDestroyed(derivedDestroyed) {}
    ~DerivedPayload() override { ++*derivedDestroyed; }
    int* derivedDestroyed;
};

using Ref = SharedRef<Payload>;

int Count(const Ref& ref) { return ref.refs() == nullptr ? 0 : *ref.refs(); }

TEST(SharedRefTest, LastOfThreeReleasesDestroysOnce) {
    int destroyed = 0;
    Ref a(new Payload(&destroyed));
    Ref b(a);
    Ref c(b);
    EXPECT_EQ(Count(a), 3);
    EXPECT_EQ(a.refs(), c.refs()) << "one shared count";

    int expectedAfter[] = {0, 0, 1};
    Ref* refs[] = {&b, &a, &c};
    for (int i = 0; i < 3; ++i) {
        refs[i]->Release();
        EXPECT_EQ(refs[i]->Get(), nullptr);
        EXPECT_EQ(refs[i]->refs(), nullptr);
        EXPECT_EQ(destroyed, expectedAfter[i]) << "after release " << i + 1;
    }
    EXPECT_EQ(Count(c), 0);
    c.Release();
    EXPECT_EQ(destroyed, 1) << "releasing an empty reference does nothing";
}

TEST(SharedRefTest, AssignMovesBetweenObjects) {
    int firstDestroyed = 0, secondDestroyed = 0;
    Ref a(new Payload(&firstDestroyed));
    Ref b(new Payload(&secondDestroyed));
    Ref keep(b);

    a.Assign(a);
    EXPECT_EQ(Count(a), 1) << "self-assignment leaves the reference unchanged";
    EXPECT_EQ(firstDestroyed, 0);

    a.Assign(b);
    EXPECT_EQ(firstDestroyed, 1) << "a held the only reference to the first object";
    EXPECT_EQ(a.Get(), b.Get());
    EXPECT_EQ(Count(b), 3);

    a = b;  // already sharing: the count must not dip to zero on the way
    EXPECT_EQ(Count(b), 3);
    EXPECT_EQ(secondDestroyed, 0);

    a = Ref();
    b.Release();
    EXPECT_EQ(Count(keep), 1);
    EXPECT_EQ(secondDestroyed, 0);
}

TEST(SharedRefTest, AssignFromAReferenceInsideTheReleasedObject) {
    // a holds the only reference to a chain link whose member refers to the next link;
    // assigning that member to a releases (and destroys) the link that holds it.
    struct Link {
        SharedRef<Link> next;
    };
    SharedRef<Link> a(new Link);
    Link* second = new Link;
    a.Get()->next = SharedRef<Link>(second);
    a.Assign(a.Get()->next);
    EXPECT_EQ(a.Get(), second);
    ASSERT_NE(a.refs(), nullptr);
    EXPECT_EQ(*a.refs(), 1);
}

TEST(SharedRefTest, NullObjectHasNoCount) {
    Ref empty(nullptr);
    EXPECT_EQ(empty.refs(), nullptr);
    Ref copy(empty);
    EXPECT_EQ(copy.refs(), nullptr);
    int destroyed = 0;
    Ref full(new Payload(&destroyed));
    full.Assign(copy);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(full.Get(), nullptr);
    EXPECT_EQ(full.refs(), nullptr);
}

TEST(SharedRefTest, MoveTakesTheReferenceWithoutCounting) {
    int destroyed = 0;
    Ref a(new Payload(&destroyed));
    Ref b(std::move(a));
    EXPECT_EQ(a.Get(), nullptr);
    EXPECT_EQ(Count(b), 1);
    Ref c;
    c = std::move(b);
    EXPECT_EQ(Count(c), 1);
    c = Ref();
    EXPECT_EQ(destroyed, 1);
}

TEST(SharedRefTest, DestroyPolicies) {
    // The default deletes through the pointer type, so a virtual destructor reaches the
    // derived part.
    int destroyed = 0, derivedDestroyed = 0;
    { Ref ref(new DerivedPayload(&destroyed, &derivedDestroyed)); }
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(derivedDestroyed, 1);

    // A malloc'd payload block goes back with free (ASan reports a mismatch otherwise).
    struct Block {
        int words[4];
    };
    SharedRef<Block, FreeBlock<Block>> block(static_cast<Block*>(std::calloc(1, sizeof(Block))));
    SharedRef<Block, FreeBlock<Block>> copy(block);
    block.Release();
    copy.Release();
}

TEST(SharedRefTest, ListElementsCountTheirCopies) {
    int destroyed = 0;
    Ref ref(new Payload(&destroyed));
    {
        LinkedList<Ref> list;
        list.Append(ref);
        list.Append(ref);
        LinkedList<Ref> copy(list);
        EXPECT_EQ(Count(ref), 5);
        EXPECT_EQ(list.Current().Get(), ref.Get());
        EXPECT_EQ(Count(ref), 5) << "the temporary copy is released again";
        EXPECT_TRUE(copy.Contains(ref)) << "references compare by object";
        EXPECT_EQ(copy.RemoveAll(ref), 2);
        EXPECT_EQ(list.Take().Get(), ref.Get());
        EXPECT_EQ(Count(ref), 2);
    }
    EXPECT_EQ(Count(ref), 1);
    EXPECT_EQ(destroyed, 0);
}

TEST(SharedRefTest, KeysOrderByObjectAddress) {
    int destroyed = 0;
    Payload* objects[2] = {new Payload(&destroyed), new Payload(&destroyed)};
    if (std::less<Payload*>()(objects[1], objects[0])) std::swap(objects[0], objects[1]);
    Ref low(objects[0]), high(objects[1]);
    ThreeWayCompare<Ref> compare;
    EXPECT_LT(compare(low, high), 0);
    EXPECT_GT(compare(high, low), 0);
    EXPECT_EQ(compare(low, Ref(low)), 0);
}

// A list of the words keeps nothing alive and counts nothing; a reference rebuilt from the
// words shares the object's one count, and the object still dies on the last counted release.
TEST(SharedRefTest, WordsAreCopiedAndRemovedWithoutCounting) {
    int destroyed = 0;
    Ref ref(new Payload(&destroyed));
    Ref other(new Payload(&destroyed));
    const SharedRefWords<Payload> words = ref.Words();
    EXPECT_EQ(words.object, ref.Get());
    EXPECT_EQ(words.refs, ref.refs());
    {
        LinkedList<SharedRefWords<Payload>> list;
        list.Append(words);
        list.Append(other.Words());
        list.Append(words);
        LinkedList<SharedRefWords<Payload>> copy(list);
        EXPECT_EQ(Count(ref), 1) << "words in lists are plain data";
        EXPECT_TRUE(copy.Contains(SharedRefWords<Payload>{ref.Get(), nullptr})) << "equal by object alone";
        EXPECT_EQ(copy.RemoveAll(words), 2);
        EXPECT_EQ(list.Take().object, ref.Get());
        EXPECT_EQ(Count(ref), 1);
    }
    EXPECT_EQ(destroyed, 0);

    Ref rebuilt = Ref::FromWords(words);
    EXPECT_EQ(rebuilt.Get(), ref.Get());
    EXPECT_EQ(rebuilt.refs(), ref.refs()) << "the object's own count, not a new one";
    EXPECT_EQ(Count(ref), 2);
    ref.Release();
    EXPECT_EQ(destroyed, 0);
    rebuilt.Release();
    EXPECT_EQ(destroyed, 1) << "the rebuilt reference was the last counted one";

    EXPECT_EQ(Ref::FromWords(SharedRefWords<Payload>{}).Get(), nullptr);
    EXPECT_EQ(Ref().Words().refs, nullptr);

    ThreeWayCompare<SharedRefWords<Payload>> compare;
    const SharedRefWords<Payload> otherWords = other.Words();
    EXPECT_EQ(compare(otherWords, SharedRefWords<Payload>{other.Get(), nullptr}), 0);
    EXPECT_EQ(compare(words, otherWords), -compare(otherWords, words));
    EXPECT_NE(compare(words, otherWords), 0);
}

}  // namespace
