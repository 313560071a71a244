#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "image/HostAllocator.h"

namespace {

// Handle callbacks over the C heap with one-shot faults. Function pointers
// carry no context, so the state is file-wide and reset by the fixture.
struct FakeHandles {
  std::mutex mutex;
  std::map<PF_Handle, size_t> live;
  int newCalls = 0, lockCalls = 0, disposeCalls = 0, unlockCalls = 0;
  int failNewAt = -1, failLockAt = -1;
};
FakeHandles fake;

PF_Handle FakeNew(A_u_long size) {
  std::lock_guard<std::mutex> guard(fake.mutex);
  if (fake.newCalls++ == fake.failNewAt) return nullptr;
  auto handle = static_cast<PF_Handle>(std::malloc(sizeof(void*)));
  *handle = std::malloc(size);
  fake.live[handle] = size;
  return handle;
}
void* FakeLock(PF_Handle handle) {
  std::lock_guard<std::mutex> guard(fake.mutex);
  return fake.lockCalls++ == fake.failLockAt ? nullptr : *handle;
}
void FakeUnlock(PF_Handle) {
  std::lock_guard<std::mutex> guard(fake.mutex);
  ++fake.unlockCalls;
}
void FakeDispose(PF_Handle handle) {
  std::lock_guard<std::mutex> guard(fake.mutex);
  ++fake.disposeCalls;
  if (fake.live.erase(handle) == 1) {
    std::free(*handle);
    std::free(handle);
  }
}

class HostAllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.live.clear();
    fake.newCalls = fake.lockCalls = fake.disposeCalls = fake.unlockCalls = 0;
    fake.failNewAt = fake.failLockAt = -1;
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

// Each block is two handles; zero bytes, null, foreign and repeated releases
// touch nothing; a second callback table is ignored.
TEST_F(HostAllocatorTest, BlocksAreTwoHandlesAndOnlyOurOwnGoBack) {
  PF_UtilCallbacks failing{};
  allocator.CaptureCallbacks(&failing);
  EXPECT_EQ(allocator.Allocate(0), nullptr);
  void* p = allocator.Allocate(100);
  void* q = allocator.Allocate(7);
  EXPECT_EQ(fake.live.size(), 4u);
  allocator.Release(p);
  const int disposes = fake.disposeCalls;
  int notOurs = 0;
  allocator.Release(p);
  allocator.Release(nullptr);
  allocator.Release(&notOurs);
  EXPECT_EQ(fake.disposeCalls, disposes);
  EXPECT_EQ(allocator.LiveBlocks(), 1u);
  allocator.Release(q);
}

// Every host call of one allocation can fail: the partial handles go back,
// the list is as before, and the failure is bad_alloc.
TEST_F(HostAllocatorTest, FailedStepsDisposePartialHandles) {
  const struct {
    const char* what;
    int failNewAt, failLockAt;
  } cases[] = {{"memory handle", 0, -1},
               {"memory lock", -1, 0},
               {"record handle", 1, -1},
               {"record lock", -1, 1}};
  void* existing = allocator.Allocate(8);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fake.newCalls = fake.lockCalls = 0;
    fake.failNewAt = c.failNewAt;
    fake.failLockAt = c.failLockAt;
    EXPECT_THROW(allocator.Allocate(64), std::bad_alloc);
    EXPECT_EQ(fake.live.size(), 2u);
    EXPECT_EQ(allocator.LiveBlocks(), 1u);
  }
  allocator.Release(existing);
}

TEST_F(HostAllocatorTest, HonoursOverAlignedRequests) {
  for (size_t alignment : {64u, 4096u}) {
    void* p = allocator.Allocate(10, alignment);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignment, 0u) << alignment;
    allocator.Release(p);
  }
}

TEST_F(HostAllocatorTest, ConcurrentAllocationsKeepTheListConsistent) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      std::vector<void*> mine;
      for (int i = 0; i < 500; ++i) {
        mine.push_back(allocator.Allocate(static_cast<size_t>(1 + (i + t) % 50)));
        if (i % 3 == 0) {
          allocator.Release(mine.front());
          mine.erase(mine.begin());
        }
      }
      for (void* p : mine) allocator.Release(p);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

TEST(HostAllocatorBeforeSetup, FailsWithBadAlloc) {
  HostAllocator empty;
  EXPECT_EQ(empty.Allocate(0), nullptr);
  EXPECT_THROW(empty.Allocate(1), std::bad_alloc);
}

TEST(ZeroAlloc, ZeroedBytesOrNullForAnEmptyProduct) {
  EXPECT_EQ(ZeroAlloc(0, 8), nullptr);
  EXPECT_EQ(ZeroAlloc(8, 0), nullptr);
  auto* p = static_cast<unsigned char*>(ZeroAlloc(3, 5));
  EXPECT_EQ(std::count(p, p + 15, 0), 15);
  ::operator delete(p);
  EXPECT_THROW(ZeroAlloc(SIZE_MAX / 2, 3), std::bad_alloc);
}

}  // namespace
