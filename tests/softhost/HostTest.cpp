// The software host's side of the effect API, driven directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

// Every pixel's overlap with the box, summed pixel by pixel in 128 bits:
// the sampler weighs only the ends of each axis and switches to 64-bit sums
// for small boxes, which must not change a value anywhere, boxes off the
// image and wider than it, single pixels and zero radii included.
TEST(AreaSample, AgreesWithOverlapSumsOfEveryPixel) {
  Host host;
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  auto overlap = [](int64_t centre, int64_t radius, int64_t i) -> int64_t {
    const int64_t c = centre + 32768;
    if (radius == 0) return c >= i * 65536 && c < (i + 1) * 65536 ? 1 : 0;
    return std::max<int64_t>(
        0, std::min(c + radius, (i + 1) * 65536) - std::max(c - radius, i * 65536));
  };
  for (bool deep : {false, true}) {
    SoftWorld src(9, 6, deep);
    const int64_t top = deep ? 65535 : 255;
    for (int y = 0; y < src.Height(); ++y) {
      for (int x = 0; x < src.Width(); ++x) {
        AtPixel(src, x, y, [&](auto& p) {
          using C = decltype(p.red);
          p.alpha = static_cast<C>(next(static_cast<uint32_t>(top) + 1));
          p.red = static_cast<C>(next(static_cast<uint32_t>(top) + 1));
          p.green = static_cast<C>(top);
          p.blue = static_cast<C>(x % 2 == 0 ? 0 : top);
        });
      }
    }
    PF_SampPB pb{};
    pb.src = src.World();
    for (int trial = 0; trial < 600; ++trial) {
      const auto x = static_cast<PF_Fixed>(next(16 * 65536)) - 3 * 65536;
      const auto y = static_cast<PF_Fixed>(next(12 * 65536)) - 3 * 65536;
      const PF_Fixed radii[] = {0, static_cast<PF_Fixed>(next(65536)),
                                static_cast<PF_Fixed>(next(6 * 65536)), 0x7FFF0000};
      pb.x_radius = radii[trial % 4];
      pb.y_radius = radii[(trial / 4) % 4];
      const __int128 area = static_cast<__int128>(pb.x_radius == 0 ? 1 : 2 * int64_t{pb.x_radius}) *
                            (pb.y_radius == 0 ? 1 : 2 * int64_t{pb.y_radius});
      __int128 sums[4] = {0, 0, 0, 0};
      for (int sy = 0; sy < src.Height(); ++sy) {
        for (int sx = 0; sx < src.Width(); ++sx) {
          const __int128 w =
              static_cast<__int128>(overlap(x, pb.x_radius, sx)) * overlap(y, pb.y_radius, sy);
          AtPixel(src, sx, sy, [&](const auto& p) {
            sums[0] += w * p.alpha;
            sums[1] += w * p.red;
            sums[2] += w * p.green;
            sums[3] += w * p.blue;
          });
        }
      }
      int64_t expected[4];
      for (int c = 0; c < 4; ++c) {
        expected[c] = static_cast<int64_t>(std::min<__int128>((sums[c] + area / 2) / area, top));
      }
      int64_t got[4] = {-1, -1, -1, -1};
      auto sample = [&](auto sampler, auto out) {
        ASSERT_EQ(sampler(Ref(host), x, y, &pb, &out), PF_Err_NONE);
        got[0] = out.alpha, got[1] = out.red, got[2] = out.green, got[3] = out.blue;
      };
      if (deep) {
        sample(Utils(host)->area_sample16, PF_Pixel16{});
      } else {
        sample(Utils(host)->area_sample, PF_Pixel{});
      }
      for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(got[c], expected[c])
            << (deep ? "16" : "8") << "-bit, point " << x << "," << y << " radii " << pb.x_radius
            << "," << pb.y_radius << ", channel " << c;
      }
    }
  }
  // A box of 200 full pixels a side holds more than 64 bits can.
  SoftWorld full(200, 200, true);
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 200; ++x) *full.Pixel16(x, y) = PF_Pixel16{65535, 65535, 65535, 65535};
  }
  PF_SampPB pb{};
  pb.src = full.World();
  pb.x_radius = pb.y_radius = 100 * 65536;
  PF_Pixel16 out{};
  ASSERT_EQ(
      Utils(host)->area_sample16(Ref(host), 99 * 65536 + 32768, 99 * 65536 + 32768, &pb, &out),
      PF_Err_NONE);
  EXPECT_TRUE(out.alpha == 65535 && out.red == 65535 && out.green == 65535 && out.blue == 65535)
      << out.alpha << " " << out.red << " " << out.green << " " << out.blue;
}

}  // namespace
