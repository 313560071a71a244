// Fails each host operation a render uses at each of its calls in turn,
// across renders that together reach every shape, depth, view and the
// control-layer paths, sent as the legacy render command and through
// SmartFX (whose layer and output checkouts and pixel-format queries fail
// too). Every failure must reach the host as its code and decorated message
// (a cancel as 517 alone), with no handle, world or layer left behind, and
// the next clean render must match the first.
#include <cstdio>

#include "reliability/Scenes.h"

namespace reliability {
namespace {

using softhost::RenderPath;

enum Op {
  NewHandle,
  LockHandle,
  NewWorld,
  Fill,
  Iterate,
  AreaSample,
  Checkout,
  AbortPoll,
  // SmartFX only.
  CheckoutLayer,
  LayerPixels,
  CheckinPixels,
  Output,
  PixelFormat,
  kOps
};
constexpr const char* kResampleText = "Scale: Scaling error";
// Each operation and what the host must read when it fails (on the smart
// path, checkout_param gives the parameters, not the layers).
constexpr struct {
  const char* name;
  const char* text;
} kOperations[kOps] = {{"host_new_handle", "Out of Memory"},
                       {"host_lock_handle", "Out of Memory"},
                       {"new_world", "Could not Allocate AEWorld"},
                       {"fill", "FillWorld: Fill error"},
                       {"iterate", "ConvolveImage: Error or user Abort."},
                       {"area_sample", "AreaSample: Area Sample error"},
                       {"checkout_param", "AEWorld: Could not check out layer"},
                       {"abort/progress", ""},
                       {"checkout_layer", "AEWorld: Could not check out layer"},
                       {"checkout_layer_pixels", "AEWorld: Could not check out layer"},
                       {"checkin_layer_pixels", nullptr},  // nothing to report: renders
                       {"checkout_output", "SmartRender: Could not check out output"},
                       {"PF_GetPixelFormat", "SmartRender: unsupported pixel format"}};
constexpr const char* kSmartParamText = "SmartFX: Could not check out parameter";

// Fails call `at` of `op` (none for kOps) and numbers every call from 0.
void Arm(Stage& stage, Op op, int at) {
  softhost::HostFaults& faults = stage.Host().Faults();
  faults = softhost::HostFaults{};
  softhost::HandleFaults handles;
  int* const slot[kOps] = {
      &handles.failNewHandleAt,  &handles.failLockAt,         &faults.failNewWorldAt,
      &faults.failFillAt,        &faults.failIterateAt,       &faults.failAreaSampleAt,
      &faults.failCheckoutAt,    &faults.abortAfterPolls,     &faults.failCheckoutLayerAt,
      &faults.failLayerPixelsAt, &faults.failCheckinPixelsAt, &faults.failOutputAt,
      &faults.failPixelFormatAt};
  if (op != kOps) *slot[op] = at;
  softhost::SetHandleFaults(handles);
  stage.Host().ResetFaultCounters();
  probe::ResetCounts();
}

struct Tally {
  long renders = 0;
  long survived = 0;
};

// Stops at the first broken expectation: one mistake usually breaks every
// later call index the same way.
void Sweep(const Scene& scene, PF_EffectMainFunc entry, Tally& tally) {
  SCOPED_TRACE(Describe(scene));
  const bool smart = scene.path == RenderPath::Smart;
  Stage stage(scene, entry);
  ASSERT_TRUE(stage.Ready());
  const rendertest::Image input = stage.Input();
  const softhost::HandleStats before = softhost::GetHandleStats();

  Arm(stage, kOps, -1);
  ASSERT_EQ(stage.Render(), PF_Err_NONE) << stage.Message();
  const rendertest::Image clean = stage.Output();
  const softhost::HandleStats h = softhost::GetHandleStats();
  const softhost::Host::SmartCalls s = stage.Host().SmartCallCounts();
  const long calls[kOps] = {h.newCalls,
                            h.lockCalls,
                            probe::Count(probe::NewWorld),
                            probe::Count(probe::Fill),
                            probe::Count(probe::Iterate),
                            probe::Count(probe::AreaSample),
                            probe::Count(probe::Checkout),
                            stage.Host().AbortPolls(),
                            s.checkoutLayer,
                            s.layerPixels,
                            s.checkinPixels,
                            s.output,
                            s.pixelFormat};
  // The effect checks every layer in: it leaves none for the host.
  EXPECT_EQ(stage.Host().UnreturnedLayers(), 0);
  const std::vector<probe::IterateUse> uses = probe::IterateUses();
  ++tally.renders;
  for (int o = 0; o < kOps; ++o) {
    const Op op = static_cast<Op>(o);
    for (long at = 0; at < calls[op]; ++at) {
      SCOPED_TRACE(::testing::Message()
                   << kOperations[op].name << " fails at call " << at << " of " << calls[op]);
      const long unreturned = stage.Host().UnreturnedLayers();
      Arm(stage, op, static_cast<int>(at));
      const PF_Err err = stage.Render();
      Arm(stage, kOps, -1);
      ++tally.renders;
      if (op == CheckinPixels) {
        // A check-in the host refuses changes nothing for the effect; the
        // host takes the layer back at the end of the render.
        EXPECT_EQ(err, PF_Err_NONE) << stage.Message();
        EXPECT_EQ(stage.Host().UnreturnedLayers(), unreturned + 1);
        EXPECT_TRUE(rendertest::FirstDifference(clean, stage.Output(), input).empty());
      } else {
        const probe::IterateUse use =
            op == Iterate ? uses.at(static_cast<size_t>(at)) : probe::IterateUse::Convolve;
        const std::string text = use == probe::IterateUse::Resample     ? kResampleText
                                 : use == probe::IterateUse::FrameClear ? kOperations[Fill].text
                                 : op == Checkout && smart              ? kSmartParamText
                                                                        : kOperations[op].text;
        EXPECT_EQ(err, op == AbortPoll    ? PF_Interrupt_CANCEL
                       : op <= LockHandle ? PF_Err_OUT_OF_MEMORY
                                          : PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_EQ(stage.Message(), text.empty() ? "" : "\nQuorvant Blur [ " + text + " ]");
        EXPECT_EQ(stage.Host().UnreturnedLayers(), unreturned) << "layers left for the host";
      }
      EXPECT_EQ(softhost::GetHandleStats().live, before.live) << "handles left behind";
      EXPECT_EQ(softhost::GetHandleStats().badDisposes, before.badDisposes) << "freed twice";
      EXPECT_EQ(stage.Host().LiveWorlds(), 0) << "worlds left behind";
      EXPECT_EQ(stage.Host().CheckedOutLayers(), 0) << "layers kept";
      EXPECT_TRUE(stage.OutputPaddingIntact()) << "wrote past a row";
      if (::testing::Test::HasFailure()) return;
      ++tally.survived;
    }
  }
  ASSERT_EQ(stage.Render(), PF_Err_NONE) << stage.Message();
  const std::string difference = rendertest::FirstDifference(clean, stage.Output(), input);
  EXPECT_TRUE(difference.empty()) << "after the faults: " << difference;
  EXPECT_EQ(stage.Input().pixels, input.pixels) << "the input was written";
}

class FaultSweep : public ::testing::TestWithParam<std::tuple<EngineKind, int, RenderPath>> {};

TEST_P(FaultSweep, EveryCallOfEveryHostOperation) {
  const auto [engine, bits, path] = GetParam();
  const bool deep = bits == 16;
  const PF_EffectMainFunc entry = EntryFor(engine);
  // The kernel and control-layer views convolve nothing, so they add nothing
  // on a second engine.
  const bool views = engine == EngineKind::Fast;
  std::vector<Scene> scenes;
  for (int32_t shape = 0; shape < kShapes; ++shape) {
    for (bool control : {false, true}) scenes.push_back(Scene{0, shape, deep, control});
    if (views) scenes.push_back(Scene{1, shape, deep, false});
    scenes.push_back(Scene{0, shape, deep, false});
    scenes.back().oldHost = true;
  }
  for (int32_t control = 0; views && control < 2; ++control) {
    scenes.push_back(Scene{2, 1, deep, control != 0});
  }
  for (Scene& scene : scenes) {
    scene.path = path;
    scene.floatPixels = bits == 32;
  }
  Tally tally;
  for (const Scene& scene : scenes) {
    Sweep(scene, entry, tally);
    if (HasFailure()) break;
  }
  std::printf(
      "fault sweep, %s engine, %d bpc, %s: %zu scenes, %ld renders, %ld injected faults "
      "survived\n",
      Name(engine), bits, Name(path), scenes.size(), tally.renders, tally.survived);
  RecordProperty("faults_survived", std::to_string(tally.survived));
}

// Float frames reach an effect only through SmartFX.
std::vector<std::tuple<EngineKind, int, RenderPath>> SweepCases() {
  std::vector<std::tuple<EngineKind, int, RenderPath>> cases;
  for (EngineKind engine : {EngineKind::Fast, EngineKind::Reference}) {
    for (int bits : {8, 16, 32}) {
      for (RenderPath path : kRenderPaths) {
        if (bits < 32 || path == RenderPath::Smart) cases.emplace_back(engine, bits, path);
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Engines, FaultSweep, ::testing::ValuesIn(SweepCases()), [](const auto& p) {
  return std::string(Name(std::get<0>(p.param))) + std::to_string(std::get<1>(p.param)) +
         Name(std::get<2>(p.param));
});

}  // namespace
}  // namespace reliability
