// Renders through the module's entry point on several threads at once, as a
// host rendering several frames in parallel does, each host also running the
// pixel functions on its own worker threads. The effect's process-wide state
// (the allocator, its block list and lock) is shared by all of them; every
// image must still come out as it does when the renders run one after
// another. Built with ThreadSanitizer (QB_TSAN) this is the race check.
#include <latch>
#include <memory>
#include <thread>

#include "reliability/Scenes.h"

namespace reliability {
namespace {

TEST(Concurrency, ParallelRendersMatchSerialOnes) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 3;
  const PF_EffectMainFunc entry = EntryFor(EngineKind::Fast);
  std::vector<Scene> scenes = {Scene{0, 0, false, false}, Scene{0, 4, true, true},
                               Scene{0, 7, false, true}, Scene{0, 6, true, false},
                               Scene{2, 1, false, true}};
  softhost::HostConfig config;
  config.threads = 2;

  // Global and parameter setup happen once per host before any render, as
  // in a real host; only renders overlap.
  std::vector<rendertest::Image> expected;
  std::vector<std::vector<std::unique_ptr<Stage>>> stages(kThreads);
  for (Scene& scene : scenes) {
    scene.amount = 9;
    scene.width = 40;
    scene.height = 28;
    Stage serial(scene, entry, config);
    ASSERT_TRUE(serial.Ready());
    ASSERT_EQ(serial.Render(), PF_Err_NONE) << Describe(scene) << ": " << serial.Message();
    expected.push_back(serial.Output());
    for (auto& own : stages) {
      own.push_back(std::make_unique<Stage>(scene, entry, config));
      ASSERT_TRUE(own.back()->Ready());
    }
  }
  const long liveHandles = softhost::GetHandleStats().live;

  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < scenes.size(); ++i) {
          const size_t s = (i + t * 2) % scenes.size();
          SCOPED_TRACE(::testing::Message() << "thread " << t << ": " << Describe(scenes[s]));
          Stage& stage = *stages[t][s];
          ASSERT_EQ(stage.Render(), PF_Err_NONE) << stage.Message();
          const std::string d =
              rendertest::FirstDifference(expected[s], stage.Output(), expected[s]);
          ASSERT_TRUE(d.empty()) << d;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(softhost::GetHandleStats().live, liveHandles);
  for (auto& own : stages) {
    for (auto& stage : own) {
      EXPECT_EQ(stage->Host().LiveWorlds(), 0);
      EXPECT_EQ(stage->Host().CheckedOutLayers(), 0);
    }
  }
}

}  // namespace
}  // namespace reliability
