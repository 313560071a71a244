// Fails each host operation a render uses at each of its calls in turn,
// across renders that together reach every shape, depth, view and the
// control-layer paths. Every failure must reach the host as its code and
// decorated message (a cancel as 517 alone), with no handle, world or layer
// left behind, and the next clean render must match the first.
#include <cstdio>
#include <numeric>

#include "reliability/Scenes.h"

namespace reliability {
namespace {

enum Op { NewHandle, LockHandle, NewWorld, Fill, Iterate, AreaSample, Checkout, AbortPoll, kOps };
constexpr const char* kOpNames[kOps] = {
    "host_new_handle", "host_lock_handle", "new_world",      "fill",
    "iterate",         "area_sample",      "checkout_param", "abort/progress"};

struct Calls {
  long count[kOps] = {};
  std::vector<probe::IterateKind> iterateKinds;
};

// Fails call `at` of `op` (none for kOps) and numbers every call from 0.
void Arm(Stage& stage, Op op, int at) {
  softhost::HostFaults& faults = stage.Host().Faults();
  faults = softhost::HostFaults{};
  softhost::HandleFaults handles;
  int* const slot[kOps] = {&handles.failNewHandleAt, &handles.failLockAt,
                           &faults.failNewWorldAt,   &faults.failFillAt,
                           &faults.failIterateAt,    &faults.failAreaSampleAt,
                           &faults.failCheckoutAt,   &faults.abortAfterPolls};
  if (op != kOps) *slot[op] = at;
  softhost::SetHandleFaults(handles);
  stage.Host().ResetFaultCounters();
  probe::ResetCounts();
}

Calls CountCalls(Stage& stage) {
  const softhost::HandleStats handles = softhost::GetHandleStats();
  return Calls{
      {handles.newCalls, handles.lockCalls, probe::Count(probe::NewWorld),
       probe::Count(probe::Fill), probe::Count(probe::Iterate), probe::Count(probe::AreaSample),
       probe::Count(probe::Checkout), stage.Host().AbortPolls()},
      probe::IterateKinds()};
}

struct Outcome {
  PF_Err code;
  std::string message;  // as the host reads it
};

Outcome Expected(Op op, long at, const Calls& clean) {
  if (op == AbortPoll) return Outcome{PF_Interrupt_CANCEL, ""};
  if (op == NewHandle || op == LockHandle) {
    return Outcome{PF_Err_OUT_OF_MEMORY, "\nQuorvant Blur [ Out of Memory ]"};
  }
  const char* const kText[kOps] = {"",
                                   "",
                                   "Could not Allocate AEWorld",
                                   "FillWorld: Fill error",
                                   "ConvolveImage: Error or user Abort.",
                                   "AreaSample: Area Sample error",
                                   "AEWorld: Could not check out layer",
                                   ""};
  // 16-bit worlds are cleared through iterate_origin16.
  const bool clear = op == Iterate &&
                     clean.iterateKinds.at(static_cast<size_t>(at)) == probe::IterateKind::Origin16;
  return Outcome{PF_Err_INTERNAL_STRUCT_DAMAGED,
                 std::string("\nQuorvant Blur [ ") + (clear ? kText[Fill] : kText[op]) + " ]"};
}

// The kernel and control-layer views convolve nothing, so they add nothing
// on a second engine.
std::vector<Scene> SweepScenes(bool deep, EngineKind engine) {
  const bool views = engine == EngineKind::Fast;
  std::vector<Scene> scenes;
  for (int32_t shape = 0; shape < kShapes; ++shape) {
    for (bool control : {false, true}) scenes.push_back(Scene{0, shape, deep, control});
    if (views) scenes.push_back(Scene{1, shape, deep, false});
    Scene old{0, shape, deep, false};
    old.oldHost = true;
    scenes.push_back(old);
  }
  if (views) {
    for (bool control : {false, true}) scenes.push_back(Scene{2, 1, deep, control});
  }
  return scenes;
}

struct Tally {
  long renders = 0;
  long survived[kOps] = {};
};

// Stops at the first broken expectation: one mistake usually breaks every
// later call index the same way.
void Sweep(const Scene& scene, PF_EffectMainFunc entry, Tally& tally) {
  SCOPED_TRACE(Describe(scene));
  Stage stage(scene, entry);
  ASSERT_TRUE(stage.Ready());
  const Pixels input = stage.Input();
  const long liveHandles = softhost::GetHandleStats().live;
  const long badDisposes = softhost::GetHandleStats().badDisposes;

  Arm(stage, kOps, -1);
  ASSERT_EQ(stage.Render(), PF_Err_NONE) << stage.Message();
  const Pixels clean = stage.Output();
  const Calls calls = CountCalls(stage);
  ++tally.renders;
  for (Op op : {NewHandle, LockHandle, NewWorld, Fill, Iterate, AreaSample, Checkout, AbortPoll}) {
    for (long at = 0; at < calls.count[op]; ++at) {
      SCOPED_TRACE(::testing::Message()
                   << kOpNames[op] << " fails at call " << at << " of " << calls.count[op]);
      Arm(stage, op, static_cast<int>(at));
      const PF_Err err = stage.Render();
      Arm(stage, kOps, -1);
      ++tally.renders;
      const Outcome want = Expected(op, at, calls);
      EXPECT_EQ(err, want.code);
      EXPECT_EQ(stage.Message(), want.message);
      EXPECT_EQ(softhost::GetHandleStats().live, liveHandles) << "handles left behind";
      EXPECT_EQ(softhost::GetHandleStats().badDisposes, badDisposes) << "a handle freed twice";
      EXPECT_EQ(stage.Host().LiveWorlds(), 0) << "worlds left behind";
      EXPECT_EQ(stage.Host().CheckedOutLayers(), 0) << "layers kept";
      EXPECT_TRUE(stage.OutputPaddingIntact()) << "wrote past a row";
      if (::testing::Test::HasFailure()) return;
      ++tally.survived[op];
    }
  }
  ASSERT_EQ(stage.Render(), PF_Err_NONE) << stage.Message();
  const std::string difference = FirstDifference(clean, stage.Output());
  EXPECT_TRUE(difference.empty()) << "after the faults: " << difference;
  EXPECT_TRUE(FirstDifference(input, stage.Input()).empty()) << "the input was written";
}

class FaultSweep : public ::testing::TestWithParam<std::tuple<EngineKind, bool>> {};

TEST_P(FaultSweep, EveryCallOfEveryHostOperation) {
  const auto [engine, deep] = GetParam();
  const PF_EffectMainFunc entry = EntryFor(engine);
  Tally tally;
  const std::vector<Scene> scenes = SweepScenes(deep, engine);
  for (const Scene& scene : scenes) {
    Sweep(scene, entry, tally);
    if (HasFailure()) break;
  }
  const long survived = std::accumulate(std::begin(tally.survived), std::end(tally.survived), 0L);
  std::printf(
      "fault sweep, %s engine, %d bpc: %zu scenes, %ld renders, %ld injected faults "
      "survived (",
      Name(engine), deep ? 16 : 8, scenes.size(), tally.renders, survived);
  for (int op = 0; op < kOps; ++op) {
    std::printf("%s%s %ld", op ? ", " : "", kOpNames[op], tally.survived[op]);
  }
  std::printf(")\n");
  RecordProperty("faults_survived", std::to_string(survived));
}

std::string SweepName(const ::testing::TestParamInfo<FaultSweep::ParamType>& param) {
  return std::string(Name(std::get<0>(param.param))) + (std::get<1>(param.param) ? "16" : "8");
}

INSTANTIATE_TEST_SUITE_P(Engines, FaultSweep,
                         ::testing::Combine(::testing::Values(EngineKind::Fast,
                                                              EngineKind::Reference),
                                            ::testing::Bool()),
                         SweepName);

}  // namespace
}  // namespace reliability
