#include <utility>
#include <vector>

#include "image/EdgeMode.h"
#include "image/Smoothing.h"
#include "shapes/ShapesSupport.h"

using namespace shapestest;

namespace {

constexpr A_short kOldHost = 11;  // below 12: no host smoothing

TEST(MakeGaussianKernel, ComputesTruncatedWeightsOnOldHosts) {
  HostSession session(kOldHost);
  struct Case {
    float radius;
    bool normalise;
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {0.1f, true, {0, 32768, 0}},
      {3.0f, true, {479, 2724, 7719, 10923, 7719, 2724, 479}},
      {2.0f, false, {717, 7481, 16340, 7481, 717}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> kernel(c.expected.size(), -1);
    int32_t diameter = 0;
    MakeGaussianKernel(session.In(), c.radius, kernel.data(), static_cast<int32_t>(kernel.size()),
                       &diameter, c.normalise, 32768);
    EXPECT_EQ(diameter, static_cast<int32_t>(c.expected.size())) << c.radius;
    EXPECT_EQ(kernel, c.expected) << c.radius;
  }
}

// Logs the host's smoothing calls and passes them on.
std::vector<std::pair<PF_KernelFlags, A_long>>* gLog = nullptr;
PF_UtilCallbacks gHost{};
PF_Err LoggedGaussian(PF_ProgPtr ref, A_FpLong radius, PF_KernelFlags flags, A_FpLong multiplier,
                      A_long* diameter, void* kernel) {
  gLog->push_back({flags, 0});
  return gHost.gaussian_kernel(ref, radius, flags, multiplier, diameter, kernel);
}
PF_Err LoggedConvolve(PF_ProgPtr ref, PF_EffectWorld* src, const PF_Rect* area,
                      PF_KernelFlags flags, A_long size, void* a, void* r, void* g, void* b,
                      PF_EffectWorld* dst) {
  gLog->push_back({flags, size});
  return gHost.convolve(ref, src, area, flags, size, a, r, g, b, dst);
}

// The effect smooths only with EdgeNone; from version 12 the host supplies
// the kernel and the convolution.
TEST(SmoothWorld, HostVersionChoosesThePath) {
  using Log = std::vector<std::pair<PF_KernelFlags, A_long>>;
  struct Case {
    A_short major;
    Log expected;  // radius 2.2: seven taps, whatever the host reports
    long polls;    // abort and progress once per column and pass; -1: unchecked
  } cases[] = {
      {kOldHost, {}, 2 * 2 * 9}, {12, {{1, 0}, {7, 7}, {39, 7}}, -1},  // the host's own polls
  };
  for (bool deep : {false, true}) {
    for (const Case& c : cases) {
      HostSession session(c.major);
      Log log;
      gLog = &log;
      gHost = *session.In()->utils;
      PF_UtilCallbacks utils = gHost;
      utils.gaussian_kernel = &LoggedGaussian;
      utils.convolve = &LoggedConvolve;
      session.In()->utils = &utils;
      softhost::SoftWorld world(9, 7, deep);
      FillSparse(world.World(), 3);
      SmoothWorld(session.In(), world.World(), 2.2f, EdgeNone, true, false, false, false);
      gLog = nullptr;
      const auto label = ::testing::Message() << "major " << c.major << " deep " << deep;
      EXPECT_EQ(log, c.expected) << label;
      if (c.polls >= 0) {
        EXPECT_EQ(session.host.AbortPolls(), c.polls) << label;
      }
      EXPECT_EQ(session.host.LiveWorlds(), 0) << label;
    }
  }
}

TEST(SmoothWorld, EffectPathTruncatesAndDoesNotClamp) {
  HostSession session(kOldHost);
  struct Case {
    bool deep;
    int32_t value;
    float radius;
    int32_t edgeMode;
    int32_t corner, edge, centre;  // (0,0), (0,3), (3,3) of a 7x7 world
  };
  const Case cases[] = {
      {false, 255, 3.0f, EdgeRepeat, 253, 253, 253},         // sum 32767: 255 -> 254 -> 253
      {true, 32768, 1.0f, EdgeRepeat, 32770, 32770, 32770},  // sum 32769, once per pass
      {false, 200, 1.0f, EdgeNone, 183, 191, 200},           // outside taps are transparent black
  };
  for (const Case& c : cases) {
    softhost::SoftWorld world(7, 7, c.deep);
    for (int32_t y = 0; y < 7; ++y) {
      for (int32_t x = 0; x < 7; ++x) SetPixel(world.World(), x, y, c.value, c.value, 0, 0);
    }
    SmoothWorld(session.In(), world.World(), c.radius, c.edgeMode, true, true, true, true);
    for (int32_t ch = 0; ch < 2; ++ch) {
      EXPECT_EQ(Channel(world.World(), 0, 0, ch), c.corner) << c.value << " r " << c.radius;
      EXPECT_EQ(Channel(world.World(), 0, 3, ch), c.edge) << c.value << " r " << c.radius;
      EXPECT_EQ(Channel(world.World(), 3, 3, ch), c.centre) << c.value << " r " << c.radius;
    }
  }
}

}  // namespace
