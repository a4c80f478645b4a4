// Block sub-allocation in device buffers, on a test-double device whose buffers keep their bytes
// (new buffers hold 0xCD, not zeros). The allocator is checked against a plain interval model
// under random operations, with every invariant checked after each step: the blocks tile the
// buffer, free neighbours are merged, the free bytes and the used span agree with the model,
// every used block holds its user's bytes and every hole inside the span holds zeros.
#include "render/hardware_buffer.h"

#include "tests/render/support/fake_framework.h"
#include "tests/render/support/fake_resources.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using rh::test::FakeFramework;
using rh::test::FakeIndexBuffer;
using rh::test::FakeVertexBuffer;
using rh::test::ResourceDevice;

// Fills its block with its own byte whenever it is told the block moved, and logs the call.
class PatternUser : public BufferBlockUser {
public:
    PatternUser(uint8_t pattern, std::vector<int>* log) : pattern_(pattern), log_(log) {}

    bool OnBlockMoved(BufferBlock* block) override {
        if (log_ != nullptr) log_->push_back(pattern_);
        return Write(block);
    }
    bool Write(BufferBlock* block) {
        void* data = nullptr;
        if (!block->Lock(0, &data)) return false;
        std::memset(data, pattern_, static_cast<size_t>(block->size()));
        return block->Unlock();
    }
    uint8_t pattern() const { return pattern_; }

private:
    uint8_t pattern_;
    std::vector<int>* log_;
};

struct Interval {
    int32_t offset;
    int32_t size;
    bool free;
    int user;  // the allocation's id; 0 when free
};

// "offset+size:user" per block, free blocks as "offset+size:free".
std::string Describe(const HardwareBuffer& buffer) {
    std::string out;
    for (const BufferBlock* b = buffer.FirstBlock(); b != nullptr; b = b->next()) {
        out += std::to_string(b->offset()) + "+" + std::to_string(b->size()) + ":" +
               (b->IsFree() ? std::string("free") : std::to_string(b->value())) + " ";
    }
    return out;
}

// The allocator's rules on a vector of intervals, written as plainly as possible.
class IntervalModel {
public:
    explicit IntervalModel(int32_t size) : size_(size) {
        if (size > 0) blocks_.push_back({0, size, true, 0});
    }

    // Best fit: the smallest free interval that holds size, the lowest offset of equal ones.
    int32_t Allocate(int32_t size, int user) {
        int best = -1;
        for (int i = 0; i < static_cast<int>(blocks_.size()); ++i) {
            const Interval& b = blocks_[i];
            if (b.free && b.size >= size && (best < 0 || b.size < blocks_[best].size)) best = i;
        }
        if (best < 0) return -1;
        Interval& b = blocks_[best];
        if (b.size > size) blocks_.insert(blocks_.begin() + best + 1, {b.offset + size, b.size - size, true, 0});
        blocks_[best].size = size;
        blocks_[best].free = false;
        blocks_[best].user = user;
        return blocks_[best].offset;
    }

    void Free(int user) {
        for (Interval& b : blocks_) {
            if (!b.free && b.user == user) {
                b.free = true;
                b.user = 0;
            }
        }
        std::vector<Interval> merged;
        for (const Interval& b : blocks_) {
            if (!merged.empty() && merged.back().free && b.free) {
                merged.back().size += b.size;
            } else {
                merged.push_back(b);
            }
        }
        blocks_ = merged;
    }

    // Used intervals packed from 0 in their order, the rest one free interval.
    void Compact() {
        std::vector<Interval> packed;
        int32_t offset = 0;
        for (const Interval& b : blocks_) {
            if (b.free) continue;
            packed.push_back({offset, b.size, false, b.user});
            offset += b.size;
        }
        if (offset < size_) packed.push_back({offset, size_ - offset, true, 0});
        blocks_ = packed;
    }

    void Grow(int32_t by) {
        size_ += by;
        Compact();
    }

    int32_t FreeBytes() const {
        int32_t n = 0;
        for (const Interval& b : blocks_) n += b.free ? b.size : 0;
        return n;
    }
    // From the lowest used offset to the highest used end; (0, 0) when nothing is used.
    void Span(int32_t* start, int32_t* length) const {
        int32_t low = INT_MAX, high = 0;
        for (const Interval& b : blocks_) {
            if (b.free) continue;
            low = std::min(low, b.offset);
            high = std::max(high, b.offset + b.size);
        }
        *start = high == 0 ? 0 : low;
        *length = high == 0 ? 0 : high - low;
    }
    const std::vector<Interval>& blocks() const { return blocks_; }
    int32_t size() const { return size_; }

private:
    int32_t size_;
    std::vector<Interval> blocks_;
};

class HardwareBufferTest : public ::testing::Test {
protected:
    // The device buffer's bytes, or empty when it has none.
    std::vector<uint8_t> Bytes(const HardwareBuffer& buffer) {
        auto* vb = static_cast<FakeVertexBuffer*>(buffer.GetVertexBuffer());
        return vb != nullptr ? vb->bytes : std::vector<uint8_t>();
    }

    // Every invariant of the buffer against the model.
    void CheckAgainst(const HardwareBuffer& buffer, const IntervalModel& model,
                      const std::map<int, std::unique_ptr<PatternUser>>& users) {
        SCOPED_TRACE(Describe(buffer));
        ASSERT_EQ(buffer.size(), model.size());
        const std::vector<uint8_t> bytes = Bytes(buffer);
        ASSERT_EQ(static_cast<int32_t>(bytes.size()), model.size()) << "device buffer of the whole size";
        int32_t spanStart = 0, spanLength = 0, modelStart = 0, modelLength = 0;
        buffer.GetUsedSpan(&spanStart, &spanLength);
        model.Span(&modelStart, &modelLength);
        EXPECT_EQ(spanStart, modelStart);
        EXPECT_EQ(spanLength, modelLength);
        EXPECT_EQ(buffer.freeBytes(), model.FreeBytes());

        const BufferBlock* previous = nullptr;
        const BufferBlock* b = buffer.FirstBlock();
        for (const Interval& expected : model.blocks()) {
            ASSERT_NE(b, nullptr) << "fewer blocks than the model";
            EXPECT_EQ(b->previous(), previous);
            EXPECT_EQ(b->owner(), &buffer);
            EXPECT_EQ(b->offset(), expected.offset);
            EXPECT_EQ(b->size(), expected.size);
            EXPECT_EQ(b->IsFree(), expected.free);
            if (!expected.free) {
                EXPECT_EQ(b->value(), expected.user);
                EXPECT_EQ(b->user(), users.at(expected.user).get());
            }
            const bool insideSpan = b->offset() >= spanStart && b->offset() + b->size() <= spanStart + spanLength;
            for (int32_t i = b->offset(); i < b->offset() + b->size(); ++i) {
                if (!b->IsFree()) {
                    ASSERT_EQ(bytes[i], users.at(expected.user)->pattern()) << "user bytes at " << i;
                } else if (insideSpan) {
                    ASSERT_EQ(bytes[i], 0) << "a hole inside the span must draw nothing, at " << i;
                }
            }
            previous = b;
            b = b->next();
        }
        EXPECT_EQ(b, nullptr) << "more blocks than the model";
    }

    ResourceDevice device;
    FakeFramework framework{&device};
};

// Random allocations, frees and device resets on a plain buffer (the model also predicts
// every offset) and on a growable one, against the model.
TEST_F(HardwareBufferTest, RandomOperationsFollowTheIntervalModel) {
    for (bool growable : {false, true}) {
        for (uint32_t seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(std::string(growable ? "growable" : "plain") + " seed " + std::to_string(seed));
            std::mt19937 random(seed);
            std::unique_ptr<HardwareBuffer> buffer;
            constexpr int32_t kStart = 3000;
            constexpr int32_t kStep = 1000;
            if (growable) {
                auto grow = std::make_unique<GrowableBuffer>();
                BufferDesc desc;
                desc.size = kStart;
                desc.growthStep = kStep;
                desc.flags = kBufferSizeGiven | kBufferGrowthGiven;
                ASSERT_TRUE(grow->Create(&desc));
                buffer = std::move(grow);
            } else {
                buffer = std::make_unique<HardwareBuffer>();
                ASSERT_TRUE(buffer->CreateVertexBuffer(kStart, 0, VertexFormat(), 0, D3DPOOL_DEFAULT));
            }
            IntervalModel model(kStart);
            std::map<int, std::unique_ptr<PatternUser>> users;
            std::map<int, BufferBlock*> blocks;
            int nextId = 1;

            for (int step = 0; step < 300; ++step) {
                const int op = static_cast<int>(random() % 100);
                if (op < 55 || blocks.empty()) {
                    // Mostly small, now and then larger than the growth step.
                    const int32_t size = op % 9 == 0 ? 1 + static_cast<int32_t>(random() % 1500)
                                                     : 1 + static_cast<int32_t>(random() % 200);
                    const int id = nextId++;
                    auto user = std::make_unique<PatternUser>(static_cast<uint8_t>(1 + id % 250), nullptr);
                    int32_t expected = model.Allocate(size, id);
                    if (expected < 0 && growable) {
                        model.Grow(std::max(size, kStep));
                        expected = model.Allocate(size, id);
                    }
                    BufferBlock* block = buffer->AllocateBlock(size, id, user.get());
                    if (expected < 0) {
                        ASSERT_EQ(block, nullptr) << "nothing fits " << size;
                        continue;
                    }
                    ASSERT_NE(block, nullptr) << "allocating " << size;
                    ASSERT_EQ(block->offset(), expected) << "best fit for " << size;
                    ASSERT_TRUE(user->Write(block));
                    users[id] = std::move(user);
                    blocks[id] = block;
                } else if (op < 95) {
                    auto it = blocks.begin();
                    std::advance(it, random() % blocks.size());
                    const int id = it->first;
                    it->second->Free();
                    model.Free(id);
                    blocks.erase(it);
                    users.erase(id);
                } else {
                    ASSERT_TRUE(framework.Reset());
                    model.Compact();
                }
                ASSERT_NO_FATAL_FAILURE(CheckAgainst(*buffer, model, users)) << "after step " << step;
            }
        }
    }
    EXPECT_EQ(FakeVertexBuffer::live, 0) << "every device buffer released";
}

TEST_F(HardwareBufferTest, SplitMergeAndBestFit) {
    HardwareBuffer buffer;
    ASSERT_TRUE(buffer.CreateVertexBuffer(4096, 0, VertexFormat(), 0, D3DPOOL_DEFAULT));
    EXPECT_EQ(Describe(buffer), "0+4096:free ");

    BufferBlock* a = buffer.AllocateBlock(100, 1, nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Describe(buffer), "0+100:1 100+3996:free ");
    a->Free();
    EXPECT_EQ(Describe(buffer), "0+4096:free ") << "freed block merges back into one";
    EXPECT_EQ(buffer.freeBytes(), 4096);

    // Free holes of 500, 120 and 120 between used blocks: 100 bytes go to the earlier 120.
    BufferBlock* parts[7];
    const int32_t sizes[7] = {10, 500, 10, 120, 10, 120, 10};
    for (int i = 0; i < 7; ++i) parts[i] = buffer.AllocateBlock(sizes[i], i, nullptr);
    parts[1]->Free();
    parts[3]->Free();
    parts[5]->Free();
    BufferBlock* fit = buffer.AllocateBlock(100, 9, nullptr);
    ASSERT_NE(fit, nullptr);
    EXPECT_EQ(fit->offset(), 520) << "the smaller hole, and of two equal ones the earlier";
    EXPECT_EQ(buffer.AllocateBlock(5000, 0, nullptr), nullptr) << "nothing fits";
}

TEST_F(HardwareBufferTest, FreeingInsideTheSpanZeroFillsAndTheLastShrinksIt) {
    HardwareBuffer buffer;
    ASSERT_TRUE(buffer.CreateVertexBuffer(1000, 0, VertexFormat(), 0, D3DPOOL_DEFAULT));
    std::vector<int> log;
    PatternUser a(0xA1, &log), b(0xB2, &log), c(0xC3, &log);
    BufferBlock* blocks[3] = {buffer.AllocateBlock(100, 0, &a), buffer.AllocateBlock(100, 0, &b),
                              buffer.AllocateBlock(100, 0, &c)};
    a.Write(blocks[0]);
    b.Write(blocks[1]);
    c.Write(blocks[2]);
    auto* vb = static_cast<FakeVertexBuffer*>(buffer.GetVertexBuffer());
    int32_t start = -1, length = -1;

    blocks[1]->Free();
    buffer.GetUsedSpan(&start, &length);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(length, 300) << "an inner block leaves the span";
    EXPECT_EQ(vb->bytes[100], 0);
    EXPECT_EQ(vb->bytes[199], 0) << "and is zero-filled";
    EXPECT_EQ(vb->bytes[99], 0xA1);
    EXPECT_EQ(vb->bytes[200], 0xC3);

    blocks[2]->Free();
    buffer.GetUsedSpan(&start, &length);
    EXPECT_EQ(length, 100) << "the last block shrinks the span to the previous used block";
    EXPECT_EQ(vb->bytes[200], 0xC3) << "outside the span nothing is filled";

    // A block placed below the span: the rest between it and the span is now a hole.
    BufferBlock* high = buffer.AllocateBlock(900, 0, &c);  // [100, 1000)
    ASSERT_NE(high, nullptr);
    c.Write(high);
    blocks[0]->Free();  // span [100, 1000); [0, 100) keeps 0xA1
    BufferBlock* low = buffer.AllocateBlock(30, 0, &b);
    ASSERT_NE(low, nullptr);
    EXPECT_EQ(low->offset(), 0);
    buffer.GetUsedSpan(&start, &length);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(length, 1000);
    EXPECT_EQ(vb->bytes[30], 0);
    EXPECT_EQ(vb->bytes[99], 0) << "the stale bytes below the old start no longer lie in a drawn hole";
}

TEST_F(HardwareBufferTest, GrowthAddsTheRequestOrTheStepAndRefillsEveryUser) {
    struct Row {
        int32_t request;
        int32_t grownSize;
    };
    const Row rows[] = {{10000, 4096 + 10000}, {100, 4096 + 4096}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.request);
        GrowableBuffer buffer;
        BufferDesc desc;
        desc.size = 4096;
        desc.flags = kBufferSizeGiven;
        ASSERT_TRUE(buffer.Create(&desc));
        EXPECT_EQ(desc.growthStep, 4096) << "the default step is written back";
        std::vector<int> log;
        PatternUser full(7, &log);
        ASSERT_NE(buffer.AllocateBlock(4096, 0, &full), nullptr);
        BufferBlock* block = buffer.AllocateBlock(r.request, 0, nullptr);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(buffer.size(), r.grownSize);
        EXPECT_EQ(block->offset(), 4096);
        EXPECT_EQ(log, std::vector<int>{7}) << "the new device buffer was refilled";
        EXPECT_EQ(static_cast<FakeVertexBuffer*>(buffer.GetVertexBuffer())->bytes[0], 7);
    }
}

TEST_F(HardwareBufferTest, AfterAResetEveryUsedBlockIsRefilledInBlockOrder) {
    HardwareBuffer buffer;
    ASSERT_TRUE(buffer.CreateVertexBuffer(1000, 0, VertexFormat(), 0, D3DPOOL_DEFAULT));
    std::vector<int> log;
    PatternUser users[4] = {{1, &log}, {2, &log}, {3, &log}, {4, &log}};
    BufferBlock* blocks[4];
    for (int i = 0; i < 4; ++i) {
        blocks[i] = buffer.AllocateBlock(50, 0, &users[i]);
        users[i].Write(blocks[i]);
    }
    blocks[1]->Free();
    ASSERT_TRUE(framework.Reset());
    EXPECT_EQ(log, (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(Describe(buffer), "0+50:0 50+50:0 100+50:0 150+850:free ") << "compacted";
    const std::vector<uint8_t> bytes = Bytes(buffer);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[50], 3);
    EXPECT_EQ(bytes[149], 4);
}

// When the device refuses both the grown buffer and the old size again, the blocks stay
// without device memory: nothing is handed out, nothing can be locked or drawn, and the next
// restore brings the device buffer and every user's bytes back.
TEST_F(HardwareBufferTest, BothCreationsAfterGrowthFailing) {
    GrowableBuffer buffer;
    BufferDesc desc;
    desc.size = 256;
    desc.flags = kBufferSizeGiven;
    ASSERT_TRUE(buffer.Create(&desc));
    std::vector<int> log;
    PatternUser first(5, &log);
    BufferBlock* block = buffer.AllocateBlock(256, 0, &first);
    first.Write(block);

    struct Row {
        const char* name;
        UINT refusedFrom;  // lengths at or above this are refused
        bool keepsDeviceBuffer;
    };
    const Row rows[] = {{"only the grown size refused", 257, true}, {"every size refused", 1, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        log.clear();
        device.refuseBuffer = [&](UINT length) { return length >= r.refusedFrom; };
        EXPECT_EQ(buffer.AllocateBlock(100, 0, nullptr), nullptr);
        EXPECT_EQ(buffer.size(), 256) << "the growth is taken back";
        EXPECT_EQ(Describe(buffer), "0+256:0 ");
        EXPECT_EQ(buffer.GetVertexBuffer() != nullptr, r.keepsDeviceBuffer);
        void* data = nullptr;
        EXPECT_EQ(block->Lock(0, &data), r.keepsDeviceBuffer);
        if (r.keepsDeviceBuffer) {
            block->Unlock();
            EXPECT_EQ(log, std::vector<int>{5}) << "the buffer made again at the old size was refilled";
        }
    }
    device.refuseBuffer = nullptr;
    log.clear();
    ASSERT_TRUE(framework.Reset());
    ASSERT_NE(buffer.GetVertexBuffer(), nullptr);
    EXPECT_EQ(log, std::vector<int>{5});
    EXPECT_EQ(Bytes(buffer)[255], 5);
}

TEST_F(HardwareBufferTest, SizesThatAreEmptyNegativeOrOverflowAreRefused) {
    HardwareBuffer buffer;
    EXPECT_FALSE(buffer.CreateVertexBuffer(-1, 0, VertexFormat(), 0, D3DPOOL_DEFAULT));
    EXPECT_EQ(buffer.kind(), BufferKind::None);
    EXPECT_FALSE(buffer.CreateVertexBuffer(16, 0, VertexFormat(), -4, D3DPOOL_DEFAULT));
    ASSERT_TRUE(buffer.CreateVertexBuffer(64, 0, VertexFormat(), 0, D3DPOOL_DEFAULT));
    EXPECT_EQ(buffer.AllocateBlock(0, 0, nullptr), nullptr);
    EXPECT_EQ(buffer.AllocateBlock(-8, 0, nullptr), nullptr);
    EXPECT_FALSE(buffer.FillRange(60, 8, 0)) << "past the end";
    EXPECT_FALSE(buffer.FillRange(-1, 4, 0));
    EXPECT_FALSE(buffer.FillRange(INT_MAX, INT_MAX, 0));
    EXPECT_EQ(buffer.freeBytes(), 64);

    ASSERT_TRUE(buffer.CreateVertexBuffer(0, 0, VertexFormat(), 0, D3DPOOL_DEFAULT));
    EXPECT_EQ(buffer.FirstBlock(), nullptr) << "an empty buffer has no block of 0 bytes";
    EXPECT_EQ(buffer.AllocateBlock(1, 0, nullptr), nullptr);

    // A growable buffer whose next size would not fit an int: the device is not even asked.
    device.refuseBuffer = [](UINT length) { return length > 1000000; };
    GrowableBuffer huge;
    BufferDesc desc;
    desc.size = INT_MAX - 10;
    desc.flags = kBufferSizeGiven;
    EXPECT_FALSE(huge.Create(&desc)) << "the device refuses 2 GB";
    ASSERT_NE(huge.AllocateBlock(INT_MAX - 10, 0, nullptr), nullptr) << "the blocks exist without device memory";
    const int creations = device.bufferCreations;
    EXPECT_EQ(huge.AllocateBlock(100, 0, nullptr), nullptr);
    EXPECT_EQ(device.bufferCreations, creations);
    EXPECT_EQ(huge.size(), INT_MAX - 10);

    GrowableBuffer noStep;
    desc = BufferDesc{};
    desc.growthStep = 0;
    desc.flags = kBufferGrowthGiven;
    EXPECT_FALSE(noStep.Create(&desc)) << "a buffer that cannot grow";
}

TEST_F(HardwareBufferTest, DescriptionsMatchOnTheFieldsTheFirstOneFlags) {
    BufferDesc a, b;
    EXPECT_TRUE(BufferDesc::Matches(a, b));
    b.pool = D3DPOOL_SYSTEMMEM;
    b.usage = D3DUSAGE_DYNAMIC;
    b.size = 99;
    b.stride = 12;
    EXPECT_TRUE(BufferDesc::Matches(a, b)) << "nothing flagged, nothing but kind and format compared";
    a.flags = kBufferPoolGiven;
    EXPECT_FALSE(BufferDesc::Matches(a, b));
    EXPECT_TRUE(BufferDesc::Matches(b, a)) << "the first description's flags decide";
    a.pool = D3DPOOL_SYSTEMMEM;
    a.flags |= kBufferUsageGiven;
    EXPECT_FALSE(BufferDesc::Matches(a, b));
    a.usage = D3DUSAGE_DYNAMIC;
    EXPECT_TRUE(BufferDesc::Matches(a, b));
    b.format.SetFromFVF(D3DFVF_XYZ);
    EXPECT_FALSE(BufferDesc::Matches(a, b)) << "vertex formats";

    BufferDesc i16, i32;
    i16.kind = i32.kind = BufferKind::Index;
    i32.indexFormat = D3DFMT_INDEX32;
    EXPECT_TRUE(BufferDesc::Matches(i16, i32));
    i16.flags = kBufferIndexFormatMatches;
    EXPECT_FALSE(BufferDesc::Matches(i16, i32));
    EXPECT_FALSE(BufferDesc::Matches(i16, a)) << "kinds";
}

TEST_F(HardwareBufferTest, IndexBuffersLockFlagsAndBounds) {
    HardwareBuffer indices;
    ASSERT_TRUE(indices.CreateIndexBuffer(64, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED));
    EXPECT_EQ(indices.GetVertexBuffer(), nullptr);
    auto* ib = static_cast<FakeIndexBuffer*>(indices.GetIndexBuffer());
    ASSERT_NE(ib, nullptr);
    EXPECT_EQ(ib->format, D3DFMT_INDEX32);
    EXPECT_EQ(ib->pool, D3DPOOL_MANAGED);
    EXPECT_FALSE(indices.ComputeBounds()) << "index buffers have no box";

    struct Row {
        DWORD usage;
        DWORD fillFlags;
        bool bounds;
    };
    const Row rows[] = {
        {0, 0, true},
        {D3DUSAGE_DYNAMIC, D3DLOCK_NOOVERWRITE, true},
        {D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0, false},
    };
    VertexFormat xyz;
    xyz.SetFromFVF(D3DFVF_XYZ);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.usage);
        HardwareBuffer buffer;
        ASSERT_TRUE(buffer.CreateVertexBuffer(120, r.usage, xyz, 12, D3DPOOL_DEFAULT));
        auto* vb = static_cast<FakeVertexBuffer*>(buffer.GetVertexBuffer());
        EXPECT_EQ(vb->fvf, static_cast<DWORD>(D3DFVF_XYZ));
        BufferBlock* a = buffer.AllocateBlock(24, 0, nullptr);
        BufferBlock* b = buffer.AllocateBlock(24, 0, nullptr);
        buffer.AllocateBlock(24, 0, nullptr);
        const float points[6] = {-1, 2, 3, 5, -6, 7};
        std::memcpy(vb->bytes.data() + b->offset(), points, sizeof(points));
        std::memset(vb->bytes.data(), 0, 24);
        std::memset(vb->bytes.data() + 48, 0, 24);
        a->Free();  // not inside the span: no fill
        EXPECT_TRUE(buffer.FillRange(0, 4, 0));
        EXPECT_EQ(vb->lastLockFlags, r.fillFlags);
        EXPECT_EQ(b->ComputeBounds(), r.bounds);
        if (r.bounds) {
            EXPECT_EQ(vb->lastLockFlags, static_cast<DWORD>(D3DLOCK_READONLY));
            EXPECT_FLOAT_EQ(b->GetBox().size.x, 6.0f);
            EXPECT_FLOAT_EQ(b->GetBox().centre.y, -2.0f);
            ASSERT_TRUE(buffer.ComputeBounds());
            EXPECT_FLOAT_EQ(buffer.GetBox().size.z, 7.0f) << "the span [24, 72) holds a zero vertex";
        }
        EXPECT_EQ(b->IsValid(), r.bounds);
    }
}

// A buffer registered before any creation has nothing to restore; answering false would fail
// the framework's whole restore.
TEST_F(HardwareBufferTest, AnEmptyRegisteredBufferDoesNotFailARestore) {
    GrowableBuffer waiting;
    g_device = nullptr;
    BufferDesc desc;
    EXPECT_FALSE(waiting.Create(&desc)) << "no device";
    g_device = &device;
    EXPECT_EQ(waiting.kind(), BufferKind::None);
    EXPECT_TRUE(framework.Reset());
    EXPECT_EQ(waiting.AllocateBlock(16, 0, nullptr), nullptr) << "an empty buffer does not grow";
    EXPECT_TRUE(waiting.Create(&desc)) << "a device now";
    EXPECT_EQ(waiting.size(), 0);
    BufferBlock* block = waiting.AllocateBlock(16, 0, nullptr);
    ASSERT_NE(block, nullptr) << "grown from nothing";
    EXPECT_EQ(waiting.size(), 4096);
}

TEST_F(HardwareBufferTest, TypeQueries) {
    GrowableBuffer buffer;
    RefCounted* object = &buffer;
    EXPECT_EQ(QueryAs<GrowableBuffer>(object), &buffer);
    EXPECT_EQ(QueryAs<HardwareBuffer>(object), static_cast<HardwareBuffer*>(&buffer));
    HardwareBuffer plain;
    EXPECT_EQ(QueryAs<GrowableBuffer>(&plain), nullptr);
    EXPECT_EQ(QueryAs<HardwareBuffer>(&plain), &plain);
}

}  // namespace
