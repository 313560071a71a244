// Renders through the module's entry point on several threads at once, as a
// host rendering several frames in parallel does, each host also running the
// pixel functions on its own worker threads. The effect's process-wide state
// (the allocator, its block list and lock) is shared by all of them; every
// image must still come out as it does when the renders run one after
// another. Multi-frame rendering goes further: many smart renders of one
// instance (one host, its parameters and layers) at once, which holds only
// if the effect writes no global, sequence or other shared data while it
// renders. Built with ThreadSanitizer (QB_TSAN) this is the race check.
#include <latch>
#include <memory>
#include <thread>

#include "reliability/Scenes.h"

namespace reliability {
namespace {

std::vector<Scene> MixedScenes(softhost::RenderPath path) {
  std::vector<Scene> scenes = {Scene{0, 0, false, false}, Scene{0, 4, true, true},
                               Scene{0, 7, false, true},  Scene{0, 6, true, false},
                               Scene{2, 1, false, true},  Scene{1, 5, true, false}};
  if (path == softhost::RenderPath::Smart) {
    scenes.push_back(Scene{0, 0, false, true});
    scenes.push_back(Scene{0, 4, false, false});
    scenes.back().floatPixels = scenes[scenes.size() - 2].floatPixels = true;
  }
  for (Scene& scene : scenes) {
    scene.amount = 9;
    scene.width = 40;
    scene.height = 28;
    scene.path = path;
  }
  return scenes;
}

// Hosts of their own on each thread, through every render command.
void RenderOnHostsOfTheirOwn(softhost::RenderPath path) {
  SCOPED_TRACE(Name(path));
  constexpr int kThreads = 4;
  constexpr int kRounds = 3;
  const PF_EffectMainFunc entry = EntryFor(EngineKind::Fast);
  std::vector<Scene> scenes = MixedScenes(path);
  softhost::HostConfig config;
  config.threads = 2;

  // Global and parameter setup happen once per host before any render, as
  // in a real host; only renders overlap.
  std::vector<rendertest::Image> expected;
  std::vector<std::vector<std::unique_ptr<Stage>>> stages(kThreads);
  for (Scene& scene : scenes) {
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
      EXPECT_EQ(stage->Host().UnreturnedLayers(), 0);
    }
  }
}

TEST(Concurrency, ParallelRendersMatchSerialOnes) {
  for (softhost::RenderPath path : kRenderPaths) {
    RenderOnHostsOfTheirOwn(path);
    if (HasFatalFailure()) return;
  }
}

#ifdef QB_HOSTAPI_CURRENT
// One instance per scene, rendered by many host threads at once, each into
// its own output and out_data; the host hands every thread its own in_data
// and frame context, as a host with multi-frame rendering does.
TEST(Concurrency, SmartRendersOfOneInstanceAtOnceMatchSerialOnes) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 4;
  const PF_EffectMainFunc entry = EntryFor(EngineKind::Fast);
  softhost::HostConfig config;
  config.threads = 2;
  for (const Scene& scene : MixedScenes(softhost::RenderPath::Smart)) {
    SCOPED_TRACE(Describe(scene));
    Stage stage(scene, entry, config);
    ASSERT_TRUE(stage.Ready());
    ASSERT_EQ(stage.Render(), PF_Err_NONE) << stage.Message();
    const rendertest::Image expected = stage.Output();
    const long liveHandles = softhost::GetHandleStats().live;

    std::latch start(kThreads);
    std::vector<std::thread> threads;
    std::vector<std::string> failures(kThreads);
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        softhost::SoftWorld output(scene.width, scene.height, PixelsOf(scene));
        PF_OutData outData{};
        start.arrive_and_wait();
        for (int round = 0; round < kRounds && failures[t].empty(); ++round) {
          const PF_Err err = stage.SmartRenderInto(output, outData);
          failures[t] =
              err != PF_Err_NONE
                  ? "error " + std::to_string(err) + ": " + outData.return_msg
                  : rendertest::FirstDifference(expected, rendertest::Load(output), expected);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
    EXPECT_EQ(softhost::GetHandleStats().live, liveHandles);
    EXPECT_EQ(stage.Host().LiveWorlds(), 0);
    EXPECT_EQ(stage.Host().CheckedOutLayers(), 0);
    EXPECT_EQ(stage.Host().UnreturnedLayers(), 0);
  }
}
#endif

}  // namespace
}  // namespace reliability
