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
    MakeGaussianKernel(session.In(), session.Facts(), c.radius, kernel.data(),
                       static_cast<int32_t>(kernel.size()), &diameter, c.normalise, 32768);
    EXPECT_EQ(diameter, static_cast<int32_t>(c.expected.size())) << c.radius;
    EXPECT_EQ(kernel, c.expected) << c.radius;
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
    SmoothWorld(session.In(), session.Facts(), world.World(), c.radius, c.edgeMode, true, true,
                true, true);
    for (int32_t ch = 0; ch < 2; ++ch) {
      EXPECT_EQ(Channel(world.World(), 0, 0, ch), c.corner) << c.value << " r " << c.radius;
      EXPECT_EQ(Channel(world.World(), 0, 3, ch), c.edge) << c.value << " r " << c.radius;
      EXPECT_EQ(Channel(world.World(), 3, 3, ch), c.centre) << c.value << " r " << c.radius;
    }
  }
}

}  // namespace
