#include <cstring>

#include "HostTestSupport.h"

using namespace softhost;
using namespace softhost_test;

namespace {

TEST(Handles, CountLiveHandlesFailTheNthCallAndNoticeDoubleDisposes) {
  Host host;
  PF_UtilCallbacks* u = Utils(host);
  SetHandleFaults(HandleFaults{1, 2});
  const long before = GetHandleStats().live;
  PF_Handle first = u->host_new_handle(16);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(u->host_new_handle(16), nullptr);
  PF_Handle zero = u->host_new_handle(0);  // a zero-size handle is still a handle
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(GetHandleStats().live, before + 2);

  void* memory = u->host_lock_handle(first);
  ASSERT_EQ(memory, *first);
  std::memset(memory, 0x11, 16);
  EXPECT_EQ(u->host_lock_handle(first), memory);
  EXPECT_EQ(u->host_lock_handle(first), nullptr);
  u->host_unlock_handle(first);

  u->host_dispose_handle(first);
  u->host_dispose_handle(zero);
  EXPECT_EQ(GetHandleStats().live, before);
  const long bad = GetHandleStats().badDisposes;
  u->host_dispose_handle(first);
  EXPECT_EQ(GetHandleStats().badDisposes, bad + 1);
  SetHandleFaults(HandleFaults{});
}

TEST(NewWorld, PaddedClearedWritableCountedAndFailsOnlyTheNthCall) {
  Host host;
  host.Faults().failNewWorldAt = 1;
  host.Faults().failCode = PF_Err_OUT_OF_MEMORY;
  PF_EffectWorld worlds[3]{};
  for (int i = 0; i < 3; ++i) {
    const PF_NewWorldFlags flags = i == 2 ? PF_NewWorldFlag_DEEP_PIXELS : PF_NewWorldFlag_NONE;
    EXPECT_EQ(Utils(host)->new_world(Ref(host), 5, 3, flags, &worlds[i]),
              i == 1 ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE);
  }
  EXPECT_EQ(host.LiveWorlds(), 2);
  for (PF_EffectWorld* world : {&worlds[0], &worlds[2]}) {
    const bool deep = world == &worlds[2];
    const A_long pixelSize = deep ? 8 : 4;
    EXPECT_EQ(world->width, 5);
    EXPECT_EQ(world->height, 3);
    EXPECT_GT(world->rowbytes, 5 * pixelSize);
    EXPECT_EQ(world->world_flags, PF_WorldFlag_WRITEABLE | (deep ? PF_WorldFlag_DEEP : 0));
    const auto* bytes = static_cast<const unsigned char*>(world->data);
    for (int y = 0; y < 3; ++y) {
      for (int i = 0; i < 5 * pixelSize; ++i) ASSERT_EQ(bytes[y * world->rowbytes + i], 0);
    }
    EXPECT_EQ(Utils(host)->dispose_world(Ref(host), world), PF_Err_NONE);
  }
  EXPECT_EQ(host.LiveWorlds(), 0);
  EXPECT_NE(Utils(host)->dispose_world(Ref(host), &worlds[0]), PF_Err_NONE);
}

}  // namespace

// Frame-sized blocks are kept for reuse: what the effect wrote into a
// released world or handle must not show through in the next one.
TEST(NewWorld, ReusedMemoryStillArrivesClearedOrPatterned) {
  Host host;
  for (int round = 0; round < 2; ++round) {
    PF_EffectWorld world{};
    ASSERT_EQ(Utils(host)->new_world(Ref(host), 1024, 512, PF_NewWorldFlag_DEEP_PIXELS, &world),
              PF_Err_NONE);
    auto* bytes = static_cast<unsigned char*>(world.data);
    for (int y = 0; y < world.height; ++y) {
      for (int i = 0; i < world.width * 8; ++i) ASSERT_EQ(bytes[y * world.rowbytes + i], 0);
    }
    std::memset(bytes, 0x77, static_cast<size_t>(world.rowbytes) * world.height);
    EXPECT_EQ(Utils(host)->dispose_world(Ref(host), &world), PF_Err_NONE);

    constexpr size_t kSize = 3 << 20;
    PF_Handle handle = Utils(host)->host_new_handle(kSize);
    ASSERT_NE(handle, nullptr);
    auto* memory = static_cast<unsigned char*>(*handle);
    EXPECT_NE(memory[0], 0);
    EXPECT_NE(memory[kSize - 1], 0);
    std::memset(memory, 0, kSize);
    Utils(host)->host_dispose_handle(handle);
  }
}
