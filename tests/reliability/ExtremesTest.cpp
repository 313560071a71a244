// Renders at the edges of what the effect accepts: one-pixel frames, kernels
// far larger than the frame, memory exhaustion and an 8192 x 8192 frame.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "reliability/Scenes.h"

namespace reliability {
namespace {

using rendertest::FirstDifference;
using rendertest::Image;

bool IsSeparable(int32_t shape) { return shape <= 3 || shape == 8; }

struct Rendered {
  PF_Err err;
  std::string message;
  Image input, output;
};

Rendered RenderScene(const Scene& scene, EngineKind engine) {
  Stage stage(scene, EntryFor(engine));
  const long liveHandles = softhost::GetHandleStats().live;
  Rendered r{stage.Render(), stage.Message(), stage.Input(), stage.Output()};
  EXPECT_EQ(softhost::GetHandleStats().live, liveHandles);
  EXPECT_EQ(stage.Host().LiveWorlds(), 0);
  EXPECT_EQ(stage.Host().CheckedOutLayers(), 0);
  EXPECT_TRUE(stage.OutputPaddingIntact());
  return r;
}

class TinyFrames : public ::testing::TestWithParam<std::tuple<std::pair<int32_t, int32_t>, bool>> {
};

// Masked shapes take most of a second to build at 800, so beyond 1 x 1 they
// use 160: still a kernel seven times the frame.
TEST_P(TinyFrames, EveryShapeAtTheSlidersEnds) {
  const auto [size, deep] = GetParam();
  for (int32_t shape = 0; shape < kShapes; ++shape) {
    const bool masked = shape == 4 || shape == 5 || shape == kCustomShape;
    const double large = masked && size.first * size.second > 1 ? 160.0 : 800.0;
    for (double amount : {0.0, large}) {
      for (int32_t variant = 0; variant < 3; ++variant) {
        Scene scene{variant == 2 ? 1 : 0, shape, deep, variant == 1, amount};
        scene.width = size.first;
        scene.height = size.second;
        scene.oldHost = IsSeparable(shape);  // the reference follows its Gaussian
        SCOPED_TRACE(Describe(scene));
        const Rendered fast = RenderScene(scene, EngineKind::Fast);
        ASSERT_EQ(fast.err, PF_Err_NONE) << fast.message;
        // The legacy command gives the smart one's image, so the engines
        // compared on one command are compared on both.
        Scene legacy = scene;
        legacy.path = softhost::RenderPath::Legacy;
        std::string difference;
        if (legacy.path != scene.path) {
          const Rendered again = RenderScene(legacy, EngineKind::Fast);
          ASSERT_EQ(again.err, PF_Err_NONE) << again.message;
          difference = FirstDifference(fast.output, again.output, fast.input);
          ASSERT_TRUE(difference.empty()) << "legacy against smart: " << difference;
        }
        if (scene.view != 0) continue;  // the kernel view convolves nothing
        const Rendered reference = RenderScene(scene, EngineKind::Reference);
        ASSERT_EQ(reference.err, PF_Err_NONE) << reference.message;
        difference = FirstDifference(reference.output, fast.output, fast.input);
        ASSERT_TRUE(difference.empty()) << "fast against reference engine: " << difference;
        // Amount 0 gives the input with no colour under transparent pixels,
        // as the identity Diamond does.
        if (amount == 0 || (IsSeparable(shape) && !scene.control)) {
          const PF_Rect whole = HostRect(0, 0, scene.width, scene.height);
          const auto as = amount == 0 ? rendertest::Diamond : static_cast<rendertest::Shape>(shape);
          const Image expected =
              rendertest::ReferenceBlur(fast.input, as, amount * 0.5, amount * 0.5, whole);
          difference = FirstDifference(expected, fast.output, fast.input);
          EXPECT_TRUE(difference.empty()) << "against the definition: " << difference;
        }
      }
    }
  }
}

std::string TinyName(const ::testing::TestParamInfo<TinyFrames::ParamType>& param) {
  const auto& [size, deep] = param.param;
  return std::to_string(size.first) + "x" + std::to_string(size.second) + (deep ? "_16" : "_8");
}

INSTANTIATE_TEST_SUITE_P(Sizes, TinyFrames,
                         ::testing::Combine(::testing::Values(std::pair{1, 1}, std::pair{1, 23},
                                                              std::pair{23, 1}),
                                            ::testing::Bool()),
                         TinyName);

// Under a control layer the fast engine reads the host's input as it stands,
// colour under transparent pixels and all, where the reference engine reads
// a cleaned copy; the frames are large enough that the fast record path runs.
TEST(ControlLayer, SeparableShapesOverHiddenColourMatchTheReferenceEngine) {
  for (int32_t shape = 0; shape < kShapes; ++shape) {
    if (!IsSeparable(shape)) continue;
    for (bool deep : {false, true}) {
      Scene scene{0, shape, deep, true, 14};
      scene.width = 67;
      scene.height = 41;
      SCOPED_TRACE(Describe(scene));
      const Rendered fast = RenderScene(scene, EngineKind::Fast);
      const Rendered reference = RenderScene(scene, EngineKind::Reference);
      ASSERT_EQ(fast.err, PF_Err_NONE) << fast.message;
      ASSERT_EQ(reference.err, PF_Err_NONE) << reference.message;
      const std::string difference = FirstDifference(reference.output, fast.output, fast.input);
      EXPECT_TRUE(difference.empty()) << difference;
    }
  }
}

// A thousand Star kernels of 801 x 801 would need 2.5 GB before the first
// pixel; with the host lending at most 1 GB the render must end at once as
// "Out of Memory", give every handle back, and leave the effect able to
// render again.
TEST(CompoundShapes, ThousandLargeKernelsRunTheHostOutOfMemory) {
  const Scene scene{0, 4, true, true, 800.0, 1000};
  Stage stage(scene, EntryFor(EngineKind::Fast));
  const long liveHandles = softhost::GetHandleStats().live;
  probe::SetMemoryBudget(size_t{1} << 30);
  const auto start = std::chrono::steady_clock::now();
  const PF_Err err = stage.Render();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  probe::SetMemoryBudget(SIZE_MAX);
  EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(stage.Message(), "\nQuorvant Blur [ Out of Memory ]");
  EXPECT_LT(seconds, 30.0);
  EXPECT_EQ(softhost::GetHandleStats().live, liveHandles);
  EXPECT_EQ(stage.Host().LiveWorlds(), 0);
  EXPECT_EQ(stage.Host().CheckedOutLayers(), 0);

  stage.Host().Params()[ParamBCLCompoundShapes].u.fd.value = 4 << 16;
  stage.Host().Params()[ParamBlurAmount].u.fd.value = 20 << 16;
  EXPECT_EQ(stage.Render(), PF_Err_NONE) << stage.Message();
}

// Black but for white points; renders a Box of amount 6 (9 taps) through
// `path` and checks that around each point the blur matches the definition
// applied to that neighbourhood alone, and that everywhere else the frame
// stays black.
void RenderPointsAndCheck(int32_t width, int32_t height, bool deep,
                          const std::vector<std::pair<int32_t, int32_t>>& points,
                          softhost::RenderPath path, const char* what) {
  constexpr int32_t kReach = 5;  // beyond half the 9-tap Box
  softhost::HostConfig config;
  config.majorVersion = 11;  // the definition's Gaussian smooths the box
  config.threads = 2;
  config.renderPath = path;
  softhost::Host host(config);
  probe::Install(host);
  softhost::SoftWorld input(width, height, deep);
  softhost::SoftWorld output(width, height, deep);
  const int32_t full = deep ? 32768 : 255;
  for (const auto& [x, y] : points) {
    for (int32_t c = 0; c < 4; ++c) shapestest::SetChannel(input.World(), x, y, c, full);
  }
  host.SetInput(input.World());
  const PF_EffectMainFunc entry = EntryFor(EngineKind::Fast);
  ASSERT_EQ(host.Setup(entry), PF_Err_NONE);
  host.Params()[ParamBlurType].u.pd.value = 4;  // "Box (1D)"
  host.Params()[ParamBlurAmount].u.fd.value = 6 << 16;
  host.SetLayer(ParamBCLLayer, softhost::LayerChoice{});

  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(host.Render(entry, output.World()), PF_Err_NONE) << host.OutData()->return_msg;
  std::printf("%s, %s: %.1f s\n", what, Name(path),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  EXPECT_EQ(host.LiveWorlds(), 0);
  EXPECT_EQ(host.CheckedOutLayers(), 0);
  EXPECT_TRUE(PaddingIntact(output));

  for (const auto& [px, py] : points) {
    SCOPED_TRACE(::testing::Message() << "around (" << px << ", " << py << ")");
    const int32_t left = std::max(px - kReach, 0), top = std::max(py - kReach, 0);
    const int32_t right = std::min(px + kReach, width - 1),
                  bottom = std::min(py + kReach, height - 1);
    const int32_t w = right - left + 1, h = bottom - top + 1;
    Image crop(w, h, deep), got(w, h, deep);
    crop.At(px - left, py - top).fill(full);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        for (int32_t c = 0; c < 4; ++c) {
          got.At(x, y)[c] = shapestest::Channel(output.World(), left + x, top + y, c);
          // So that the scan below finds only what lies outside.
          shapestest::SetChannel(output.World(), left + x, top + y, c, 0);
        }
      }
    }
    const Image expected =
        rendertest::ReferenceBlur(crop, rendertest::Box, 3, 3, HostRect(0, 0, w, h));
    const std::string difference = FirstDifference(expected, got, crop);
    EXPECT_TRUE(difference.empty()) << difference;
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      for (int32_t c = 0; c < 4; ++c) {
        ASSERT_EQ(shapestest::Channel(output.World(), x, y, c), 0)
            << "stray colour at (" << x << ", " << y << ")";
      }
    }
  }
}

// 8192 x 8192 at 16 bits: 512 MB a frame, four frames alive at once inside
// the effect. Run with QB_LONG_TESTS=1 (ctest -L long when configured with
// QB_LONG_TESTS).
TEST(LargeFrame, LongDeep8192Square) {
  if (std::getenv("QB_LONG_TESTS") == nullptr) GTEST_SKIP() << "a long test: set QB_LONG_TESTS=1";
  constexpr int32_t kSide = 8192;
  RenderPointsAndCheck(
      kSide, kSide, true,
      {{0, 0}, {kSide - 1, 0}, {0, kSide - 1}, {kSide - 1, kSide - 1}, {4096, 4095}, {8000, 3}},
      softhost::kDefaultRenderPath, "8192 x 8192 16-bit Box render");
}

#ifdef QB_HOSTAPI_CURRENT
// The current generation's rectangles are 32-bit: frames wider or taller
// than 32767 pixels render, through both commands, with points beyond the
// 16-bit range.
TEST(LargeFrame, BeyondThe16BitRectangle) {
  constexpr int32_t kLong = 40000;
  for (softhost::RenderPath path : kRenderPaths) {
    RenderPointsAndCheck(kLong, 6, false,
                         {{0, 0}, {32767, 2}, {32790, 5}, {39000, 3}, {kLong - 1, 5}}, path,
                         "40000 x 6 8-bit Box render");
    RenderPointsAndCheck(6, kLong, true,
                         {{0, 0}, {2, 32767}, {5, 32790}, {3, 39000}, {5, kLong - 1}}, path,
                         "6 x 40000 16-bit Box render");
    if (HasFailure()) return;
  }
}
#endif

}  // namespace
}  // namespace reliability
