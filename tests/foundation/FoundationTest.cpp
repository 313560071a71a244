#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>
#include <vector>

#include "image/AEException.h"
#include "image/Containers.h"
#include "image/HostAllocator.h"

namespace {

template <typename Fn>
void ExpectOutOfRange(Fn fn, const char* text = "Index out of Range") {
  try {
    fn();
    ADD_FAILURE() << "no exception; expected out_of_range \"" << text << "\"";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), text);
  }
}

TEST(Array1D, AccessIsCheckedAtBothEndsAndWithoutStorage) {
  Array1D<int> a;
  ExpectOutOfRange([&] { a[0]; });
  a.Resize(3, 5);
  EXPECT_EQ(a[0] + a[1] + a[2], 15);
  const Array1D<int>& c = a;
  for (int32_t i : {-1, 3}) ExpectOutOfRange([&] { c[i]; });
  for (int32_t count : {0, -3}) {
    a.Resize(count, 9);
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Size(), count);
    ExpectOutOfRange([&] { a[0]; });
  }
}

// Handle callbacks over the C heap (a host call failing at each step of an
// allocation is swept in test_reliability). Function pointers carry no
// context, so the state is file-wide and reset by the fixture.
struct FakeHandles {
  std::map<PF_Handle, size_t> live;
  int disposeCalls = 0, unlockCalls = 0;
} fake;

PF_Handle FakeNew(PF_HandleSize size) {
  auto handle = static_cast<PF_Handle>(std::malloc(sizeof(void*)));
  *handle = std::malloc(size);
  fake.live[handle] = size;
  return handle;
}
void* FakeLock(PF_Handle handle) { return *handle; }
void FakeUnlock(PF_Handle) { ++fake.unlockCalls; }
void FakeDispose(PF_Handle handle) {
  ++fake.disposeCalls;
  if (fake.live.erase(handle) == 1) {
    std::free(*handle);
    std::free(handle);
  }
}

class HostAllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = FakeHandles{};
    utils.host_new_handle = FakeNew;
    utils.host_lock_handle = FakeLock;
    utils.host_unlock_handle = FakeUnlock;
    utils.host_dispose_handle = FakeDispose;
    allocator.CaptureCallbacks(&utils);
  }
  void TearDown() override {
    EXPECT_EQ(fake.unlockCalls, 0) << "blocks are never unlocked";
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
    EXPECT_TRUE(fake.live.empty());
  }

  PF_UtilCallbacks utils{};
  HostAllocator allocator;
};

// Each block is two handles, and the index of blocks one more while any
// lives; zero bytes, null, foreign and repeated releases touch nothing; a
// second callback table is ignored.
TEST_F(HostAllocatorTest, BlocksAreTwoHandlesAlignedAndOnlyOurOwnGoBack) {
  PF_UtilCallbacks failing{};
  allocator.CaptureCallbacks(&failing);
  EXPECT_EQ(allocator.Allocate(0), nullptr);
  void* p = allocator.Allocate(100);
  void* q = allocator.Allocate(7);
  EXPECT_EQ(fake.live.size(), 5u);
  allocator.Release(p);
  const int disposes = fake.disposeCalls;
  int notOurs = 0;
  allocator.Release(p);
  allocator.Release(nullptr);
  allocator.Release(&notOurs);
  EXPECT_EQ(fake.disposeCalls, disposes);
  EXPECT_EQ(allocator.LiveBlocks(), 1u);
  allocator.Release(q);
  for (size_t alignment : {64u, 4096u}) {
    void* aligned = allocator.Allocate(10, alignment);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % alignment, 0u) << alignment;
    allocator.Release(aligned);
  }
}

// Thousands of blocks going back in a scrambled order, each release finding
// its own block (and a repeated one none) while the index grows and shrinks.
TEST_F(HostAllocatorTest, ManyBlocksGoBackInAnyOrder) {
  std::vector<void*> blocks;
  for (int n = 0; n < 3000; ++n) blocks.push_back(allocator.Allocate(16 + n % 7));
  uint32_t state = 12345;
  for (size_t n = blocks.size(); n > 1; --n) {
    state = state * 1664525u + 1013904223u;
    std::swap(blocks[n - 1], blocks[state % n]);
  }
  for (size_t n = 0; n < blocks.size(); ++n) {
    const int disposes = fake.disposeCalls;
    allocator.Release(blocks[n]);
    ASSERT_GE(fake.disposeCalls, disposes + 2) << "block " << n << " not found";
    allocator.Release(blocks[n]);
    ASSERT_EQ(allocator.LiveBlocks(), blocks.size() - n - 1);
  }
}

TEST(HostAllocator, BadAllocBeforeSetupAndZeroAllocZeroesOrGivesNull) {
  HostAllocator empty;
  EXPECT_EQ(empty.Allocate(0), nullptr);
  EXPECT_THROW(empty.Allocate(1), std::bad_alloc);

  EXPECT_EQ(ZeroAlloc(0, 8), nullptr);
  EXPECT_EQ(ZeroAlloc(8, 0), nullptr);
  auto* p = static_cast<unsigned char*>(ZeroAlloc(3, 5));
  EXPECT_EQ(std::count(p, p + 15, 0), 15);
  ::operator delete(p);
  EXPECT_THROW(ZeroAlloc(SIZE_MAX / 2, 3), std::bad_alloc);
}

}  // namespace
