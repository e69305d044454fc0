// After the first running frame the show allocates nothing: every C++ heap
// allocation (operator new, which standard containers and strings use too) is
// counted over running frames of the real show, in the intro and in the break.
// The driver's own C allocations are not seen here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "app/frame_driver.h"
#include "app/sync_tracks.h"
#include "audio/pcm_format.h"
#include "support/frame_harness.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<int64_t> allocations{0};

void* counted_alloc(size_t size, size_t alignment) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    if (size == 0) size = 1;
    void* p = alignment > alignof(std::max_align_t) ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                                                    : std::malloc(size);
    return p;
}
}  // namespace

void* operator new(size_t size) {
    if (void* p = counted_alloc(size, 0)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, std::align_val_t a) {
    if (void* p = counted_alloc(size, size_t(a))) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size, std::align_val_t a) { return operator new(size, a); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return counted_alloc(size, 0); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return counted_alloc(size, 0); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

constexpr uint64_t frame_ns = 16666667;
constexpr uint32_t audio_per_frame = kPcmSampleRate / 60;

class FrameAllocations : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(harness_open(160, 90));
        frame(0);  // black, then the load step
        frame(0);  // the first running frame
    }
    void TearDown() override { harness_close(); }

    void frame(uint32_t audio_frames) {
        now_ += frame_ns;
        harness_frame(now_, audio_frames);
    }
    // Heap allocations over `count` frames at 60 frames a second, after a few
    // frames that let the driver settle on what these frames draw; parts_seen
    // gets bit k when part k was active in one of them.
    int64_t allocations_over(int count) {
        for (int i = 0; i < 10; ++i) frame(audio_per_frame);
        parts_seen = 0;
        allocations = 0;
        counting = true;
        for (int i = 0; i < count; ++i) {
            frame(audio_per_frame);
            parts_seen |= 1u << frame_driver.active_part;
        }
        counting = false;
        return allocations;
    }
    uint64_t now_ = 0;
    unsigned parts_seen = 0;
};

TEST_F(FrameAllocations, NoneInTheIntroOrInTheBreak) {
    ASSERT_TRUE(content_ready());
    EXPECT_EQ(allocations_over(60), 0) << "intro, up to row " << current_row;
    EXPECT_EQ(parts_seen, 1u) << "the empty part alone";

    // Play on to row 200, inside the break, where the shape effect flickers in.
    frame(uint32_t(200.0 / ROWS_PER_SECOND * kPcmSampleRate));
    ASSERT_GE(current_row, 200.0f);
    EXPECT_EQ(allocations_over(60), 0) << "break, up to row " << current_row;
    EXPECT_EQ(parts_seen, 3u) << "the empty part and the shape effect";
    EXPECT_LT(current_row, 256.0f);
}

}  // namespace
