// The software host's side of the effect API, driven directly.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "softhost/SoftHost.h"

using namespace softhost;

namespace {

PF_UtilCallbacks* Utils(Host& host) { return host.InData()->utils; }
PF_ProgPtr Ref(Host& host) { return host.InData()->effect_ref; }

// Calls f with the pixel at (x, y) of either depth.
template <typename F>
void AtPixel(SoftWorld& world, int x, int y, F f) {
  if (world.Deep()) {
    f(*world.Pixel16(x, y));
  } else {
    f(*world.Pixel8(x, y));
  }
}

// The test plays the effect: the entry point runs whatever the test scripts.
using Script = std::function<PF_Err(PF_Cmd, PF_InData*, PF_ParamDef**, PF_LayerDef*, void*)>;
Script gScript;
PF_Err ScriptEntry(PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef* params[],
                   PF_LayerDef* output, void* extra) {
  return gScript(cmd, in, params, output, extra);
}

PF_Err AddParam(PF_InData* in, PF_ParamType type, A_long layerDefault = 0) {
  PF_ParamDef def{};
  def.param_type = type;
  def.u.ld.dephault = layerDefault;
  if (type == PF_Param_POINT) {
    def.u.td.x_dephault = 50 << 16;
    def.u.td.y_dephault = 25 << 16;
  }
  return in->inter.add_param(in->effect_ref, -1, &def);
}

// Layers 1 and 3 are set to None by default, 2 to the effect's own layer;
// point defaults are percentages until a layer gives them pixels.
TEST(Params, LayerChoicesPointDefaultsAndCheckoutCounting) {
  Host host;
  gScript = [](PF_Cmd, PF_InData* in, PF_ParamDef**, PF_LayerDef*, void*) {
    AddParam(in, PF_Param_LAYER, PF_LayerDefault_NONE);
    AddParam(in, PF_Param_LAYER, PF_LayerDefault_MYSELF);
    AddParam(in, PF_Param_LAYER, PF_LayerDefault_NONE);
    return AddParam(in, PF_Param_POINT);
  };
  ASSERT_EQ(host.Call(&ScriptEntry, PF_Cmd_PARAMS_SETUP), PF_Err_NONE);
  SoftWorld input(20, 10, false), other(3, 2, true);
  host.SetInput(input.World());
  host.SetLayer(3, LayerChoice{LayerChoice::Image, other.World()});
  EXPECT_EQ(host.Params()[4].u.td.x_value, 10 << 16);
  EXPECT_EQ(host.Params()[4].u.td.y_value, (10 << 16) / 4);

  PF_InteractCallbacks& inter = host.InData()->inter;
  const void* expected[] = {input.World()->data, nullptr, input.World()->data, other.World()->data};
  PF_ParamDef defs[4];
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(inter.checkout_param(Ref(host), i, 0, 1, 30, &defs[i]), PF_Err_NONE);
    EXPECT_EQ(defs[i].u.ld.data, expected[i]) << "index " << i;
    EXPECT_EQ(defs[i].u.ld.world_flags & PF_WorldFlag_WRITEABLE, 0);
  }
  EXPECT_NE(defs[3].u.ld.world_flags & PF_WorldFlag_DEEP, 0);
  EXPECT_EQ(host.CheckedOutLayers(), 4);
  for (PF_ParamDef& def : defs) EXPECT_EQ(inter.checkin_param(Ref(host), &def), PF_Err_NONE);
  EXPECT_EQ(host.CheckedOutLayers(), 0);
  EXPECT_NE(inter.checkin_param(Ref(host), &defs[0]), PF_Err_NONE);
}

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

// Five red values along the middle row (or, for vertical kernels, column) of
// an otherwise black image of alpha 77 and the red values expected there
// afterwards. Alpha has an identity kernel of its own, as the effect's
// smoothing passes it: flags 7 and 39 are the effect's horizontal and
// vertical passes.
TEST(Convolve, NormalisesRoundsAndTreatsOutsideAsTransparent) {
  struct Case {
    bool deep;
    PF_KernelFlags flags;
    std::vector<A_long> kernel;
    std::vector<int> values, expected;
  } cases[] = {
      {false, 7, {1, 1, 1}, {0, 0, 100, 200, 255}, {0, 33, 100, 185, 152}},
      {false, 39, {0, 0, 1}, {1, 2, 3, 4, 5}, {2, 3, 4, 5, 0}},
      {true, 7, {1, 2, 1}, {0, 32768, 32767, 101, 0}, {8192, 24576, 24601, 8242, 25}},
  };
  Host host;
  for (const Case& c : cases) {
    const bool vertical = (c.flags & PF_KernelFlag_VERTICAL) != 0;
    SoftWorld src(vertical ? 3 : 5, vertical ? 5 : 3, c.deep);
    SoftWorld dst(src.Width(), src.Height(), c.deep);
    for (int y = 0; y < src.Height(); ++y)
      for (int x = 0; x < src.Width(); ++x) AtPixel(src, x, y, [](auto& p) { p.alpha = 77; });
    for (int i = 0; i < 5; ++i) {
      AtPixel(src, vertical ? 1 : i, vertical ? i : 1,
              [&](auto& p) { p.red = static_cast<decltype(p.red)>(c.values[i]); });
    }
    std::vector<A_long> k = c.kernel, identity{0, 1, 0};
    ASSERT_EQ(Utils(host)->convolve(Ref(host), src.World(), nullptr, c.flags, 3, identity.data(),
                                    k.data(), k.data(), k.data(), dst.World()),
              PF_Err_NONE);
    for (int i = 0; i < 5; ++i) {
      AtPixel(dst, vertical ? 1 : i, vertical ? i : 1, [&](const auto& p) {
        EXPECT_TRUE(p.red == c.expected[i] && p.alpha == 77)
            << "flags " << c.flags << " deep " << c.deep << " at " << i << ": red " << p.red
            << " alpha " << p.alpha << ", expected red " << c.expected[i];
      });
    }
  }
}

// A point at integer 16.16 coordinates is a pixel centre; the box covers
// x +- rx, y +- ry, and whatever lies outside the source is transparent.
TEST(AreaSample, MeanOfTheCoveredAreaRoundedToNearest) {
  Host host;
  SoftWorld src(4, 3, false);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      *src.Pixel8(x, y) = PF_Pixel{static_cast<A_u_char>(255 - x), static_cast<A_u_char>(x * 60),
                                   static_cast<A_u_char>(y * 100), static_cast<A_u_char>(x + y)};
    }
  }
  struct Case {
    double x, y, rx, ry;
    PF_Pixel expected;
  } cases[] = {
      {1.5, 0.5, 1, 1, {254, 90, 50, 2}},    // four pixels; alpha 253.5 rounds up
      {1.25, 0, 0.5, 0.5, {254, 75, 0, 1}},  // 3/4 of pixel 1, 1/4 of pixel 2
      {-0.5, 0, 0.5, 0.5, {128, 0, 0, 0}},   // half off the edge: 127.5 rounds up
  };
  PF_SampPB pb{};
  pb.src = src.World();
  for (const Case& c : cases) {
    pb.x_radius = static_cast<PF_Fixed>(c.rx * 65536);
    pb.y_radius = static_cast<PF_Fixed>(c.ry * 65536);
    PF_Pixel got{1, 1, 1, 1};
    ASSERT_EQ(Utils(host)->area_sample(Ref(host), static_cast<PF_Fixed>(c.x * 65536),
                                       static_cast<PF_Fixed>(c.y * 65536), &pb, &got),
              PF_Err_NONE);
    const PF_Pixel& e = c.expected;
    EXPECT_TRUE(got.alpha == e.alpha && got.red == e.red && got.green == e.green &&
                got.blue == e.blue)
        << "at " << c.x << "," << c.y << ": argb " << int(got.alpha) << " " << int(got.red) << " "
        << int(got.green) << " " << int(got.blue);
  }
}

}  // namespace
