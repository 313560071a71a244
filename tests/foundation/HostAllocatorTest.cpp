#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "image/HostAllocator.h"

namespace {

// Handle callbacks over the C heap, with call counts and one-shot faults.
// Function pointers carry no context, so the state is file-wide and reset
// by each test's fixture.
struct FakeHandles {
  std::mutex mutex;
  std::map<PF_Handle, size_t> live;  // handle -> size
  int newCalls = 0, lockCalls = 0, disposeCalls = 0, unlockCalls = 0;
  int failNewAt = -1, failLockAt = -1;
  std::vector<PF_Handle> disposed;
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
  if (fake.lockCalls++ == fake.failLockAt) return nullptr;
  return *handle;
}
void FakeUnlock(PF_Handle) {
  std::lock_guard<std::mutex> guard(fake.mutex);
  ++fake.unlockCalls;
}
void FakeDispose(PF_Handle handle) {
  std::lock_guard<std::mutex> guard(fake.mutex);
  ++fake.disposeCalls;
  fake.disposed.push_back(handle);
  if (fake.live.erase(handle) == 1) {
    std::free(*handle);
    std::free(handle);
  }
}

PF_UtilCallbacks FakeUtils() {
  PF_UtilCallbacks utils{};
  utils.host_new_handle = FakeNew;
  utils.host_lock_handle = FakeLock;
  utils.host_unlock_handle = FakeUnlock;
  utils.host_dispose_handle = FakeDispose;
  return utils;
}

class HostAllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.live.clear();
    fake.disposed.clear();
    fake.newCalls = fake.lockCalls = fake.disposeCalls = fake.unlockCalls = 0;
    fake.failNewAt = fake.failLockAt = -1;
    utils = FakeUtils();
    allocator.CaptureCallbacks(&utils);
  }
  void TearDown() override { EXPECT_EQ(fake.unlockCalls, 0) << "blocks are never unlocked"; }

  PF_UtilCallbacks utils{};
  HostAllocator allocator;
};

TEST_F(HostAllocatorTest, EachBlockIsTwoHandlesAndBothGoBack) {
  void* p = allocator.Allocate(100);
  ASSERT_NE(p, nullptr);
  std::memset(p, 0xAB, 100);
  EXPECT_EQ(fake.live.size(), 2u);
  EXPECT_EQ(allocator.LiveBlocks(), 1u);
  void* q = allocator.Allocate(7);
  EXPECT_EQ(allocator.LiveBlocks(), 2u);
  allocator.Release(p);
  allocator.Release(q);
  EXPECT_EQ(allocator.LiveBlocks(), 0u);
  EXPECT_TRUE(fake.live.empty());
}

TEST_F(HostAllocatorTest, ZeroBytesNullAndForeignPointersTouchNothing) {
  EXPECT_EQ(allocator.Allocate(0), nullptr);
  allocator.Release(nullptr);
  int notOurs = 0;
  allocator.Release(&notOurs);
  EXPECT_EQ(fake.newCalls, 0);
  EXPECT_EQ(fake.disposeCalls, 0);
  EXPECT_EQ(allocator.LiveBlocks(), 0u);
}

TEST_F(HostAllocatorTest, SecondReleaseOfTheSamePointerIsIgnored) {
  void* keep = allocator.Allocate(16);
  void* p = allocator.Allocate(32);
  allocator.Release(p);
  const int disposes = fake.disposeCalls;
  allocator.Release(p);
  EXPECT_EQ(fake.disposeCalls, disposes);
  EXPECT_EQ(allocator.LiveBlocks(), 1u);
  allocator.Release(keep);
  EXPECT_TRUE(fake.live.empty());
}

// Every way the four host calls of one allocation can fail: the partial
// handles go back, the list is as before, and the failure is bad_alloc.
TEST_F(HostAllocatorTest, FailedStepsDisposePartialHandlesAndLeaveTheListAlone) {
  struct Case {
    const char* what;
    int failNewAt, failLockAt;
  };
  const Case cases[] = {
      {"memory handle", 0, -1},
      {"memory lock", -1, 0},
      {"record handle", 1, -1},
      {"record lock", -1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    void* existing = allocator.Allocate(8);
    const size_t handlesBefore = fake.live.size();
    fake.newCalls = fake.lockCalls = 0;
    fake.failNewAt = c.failNewAt;
    fake.failLockAt = c.failLockAt;
    try {
      allocator.Allocate(64);
      ADD_FAILURE() << "no bad_alloc";
    } catch (const std::bad_alloc&) {
    }
    fake.failNewAt = fake.failLockAt = -1;
    EXPECT_EQ(fake.live.size(), handlesBefore);
    EXPECT_EQ(allocator.LiveBlocks(), 1u);
    allocator.Release(existing);
    EXPECT_TRUE(fake.live.empty());
  }
}

TEST_F(HostAllocatorTest, HonoursOverAlignedRequests) {
  std::vector<void*> blocks;
  for (size_t alignment : {64u, 256u, 4096u}) {
    void* p = allocator.Allocate(10, alignment);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignment, 0u) << alignment;
    blocks.push_back(p);
  }
  for (void* p : blocks) allocator.Release(p);
  EXPECT_TRUE(fake.live.empty());
}

TEST_F(HostAllocatorTest, KeepsTheFirstCallbackTable) {
  PF_UtilCallbacks other{};  // a second setup whose table would fail everything
  allocator.CaptureCallbacks(&other);
  EXPECT_TRUE(allocator.CallbacksCaptured());
  void* p = allocator.Allocate(4);
  EXPECT_NE(p, nullptr);
  allocator.Release(p);
}

TEST(HostAllocatorBeforeSetup, FailsWithBadAlloc) {
  HostAllocator empty;
  EXPECT_FALSE(empty.CallbacksCaptured());
  EXPECT_EQ(empty.Allocate(0), nullptr);
  EXPECT_THROW(empty.Allocate(1), std::bad_alloc);
}

TEST_F(HostAllocatorTest, ConcurrentAllocationsKeepTheListConsistent) {
  constexpr int kThreads = 4, kRounds = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      std::vector<void*> mine;
      for (int i = 0; i < kRounds; ++i) {
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
  EXPECT_EQ(allocator.LiveBlocks(), 0u);
  EXPECT_TRUE(fake.live.empty());
}

TEST(ZeroAlloc, ZeroedBytesOrNullForAnEmptyProduct) {
  EXPECT_EQ(ZeroAlloc(0, 8), nullptr);
  EXPECT_EQ(ZeroAlloc(8, 0), nullptr);
  auto* p = static_cast<unsigned char*>(ZeroAlloc(3, 5));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(p[i], 0) << i;
  ::operator delete(p);
  EXPECT_THROW(ZeroAlloc(SIZE_MAX / 2, 3), std::bad_alloc);
}

}  // namespace
