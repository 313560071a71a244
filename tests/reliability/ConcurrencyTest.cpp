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

std::vector<Scene> MixedScenes() {
  std::vector<Scene> scenes = {Scene{0, 0, false, false}, Scene{0, 4, true, true},
                               Scene{0, 7, false, true}, Scene{0, 6, true, false},
                               Scene{2, 1, false, true}};
  for (Scene& s : scenes) {
    s.amount = 9;
    s.width = 40;
    s.height = 28;
  }
  return scenes;
}

TEST(Concurrency, ParallelRendersMatchSerialOnes) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 3;
  const PF_EffectMainFunc entry = EntryFor(EngineKind::Fast);
  const std::vector<Scene> scenes = MixedScenes();
  softhost::HostConfig config;
  config.threads = 2;

  // Global and parameter setup happen once per host before any render, as
  // in a real host; only renders overlap.
  std::vector<Pixels> expected;
  std::vector<std::vector<std::unique_ptr<Stage>>> stages(kThreads);
  for (const Scene& scene : scenes) {
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

  struct Result {
    size_t scene;
    PF_Err err;
    std::string message;
    Pixels output;
  };
  std::vector<std::vector<Result>> results(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < scenes.size(); ++i) {
          const size_t s = (i + static_cast<size_t>(t) * 2) % scenes.size();
          Stage& stage = *stages[static_cast<size_t>(t)][s];
          const PF_Err err = stage.Render();
          results[static_cast<size_t>(t)].push_back(
              Result{s, err, stage.Message(), stage.Output()});
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (int t = 0; t < kThreads; ++t) {
    for (const Result& r : results[static_cast<size_t>(t)]) {
      SCOPED_TRACE(::testing::Message() << "thread " << t << ": " << Describe(scenes[r.scene]));
      ASSERT_EQ(r.err, PF_Err_NONE) << r.message;
      const std::string difference = FirstDifference(expected[r.scene], r.output);
      ASSERT_TRUE(difference.empty()) << difference;
    }
  }
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
