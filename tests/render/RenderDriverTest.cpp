// The render drivers around the blur: the View Kernel output, how the
// parameters become amounts, and what every failure leaves behind.
#include <string>

#include "convolution/Engine.h"
#include "render/RenderHarness.h"

namespace rendertest {
namespace {

struct Rendered {
  PF_Err err;
  std::string message;
  Image output;
  long liveWorlds;
  long checkedOut;
};

Rendered RenderOnce(softhost::Host& host, PF_EffectMainFunc entry, const Controls& c, int32_t w,
                    int32_t h, bool deep, Pattern pattern = Random) {
  Apply(host, c);
  softhost::SoftWorld in(w, h, deep), out(w, h, deep);
  Store(MakePattern(pattern, w, h, deep, 42), in);
  Store(Image(w, h, deep, Pix{3, 3, 3, 3}), out);
  host.SetInput(in.World());
  const PF_Err err = host.Render(entry, out.World());
  return Rendered{err, host.OutData()->return_msg, Load(out), host.LiveWorlds(),
                  host.CheckedOutLayers()};
}

struct KernelViewCase {
  Shape shape;
  double h, v;  // half-sizes
  int32_t width, height;
};

class KernelViewOutput : public ::testing::TestWithParam<std::tuple<KernelViewCase, bool>> {};

// The kernel is the outer product of the two peak-normalised profiles, drawn
// centred in grey on opaque black inside a white one-pixel frame; whatever
// falls outside the output is dropped.
TEST_P(KernelViewOutput, ShowsTheKernelFramedAndCentred) {
  const auto [k, deep] = GetParam();
  SCOPED_TRACE(::testing::Message() << Name(k.shape) << " " << k.h << " x " << k.v << " on "
                                    << k.width << " x " << k.height << (deep ? " 16" : " 8"));
  softhost::Host host(ReferenceHostConfig());
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  Controls c;
  c.view = 1;
  c.shape = k.shape;
  c.uniform = false;
  c.amount = k.h * 2;
  c.vertical = k.v * 2;
  const Rendered r = RenderOnce(host, EffectMain, c, k.width, k.height, deep);
  ASSERT_EQ(r.err, PF_Err_NONE) << r.message;

  std::vector<int32_t> across = Profile(k.shape, k.h, true);
  std::vector<int32_t> down = Profile(k.shape, k.v, false);
  if (k.h != 0 && k.v != 0) {
    ScaleToPeak(across);
    ScaleToPeak(down);
  }
  const int32_t kw = static_cast<int32_t>(across.size());
  const int32_t kh = static_cast<int32_t>(down.size());
  const int32_t full = deep ? 32768 : 255;
  Image expected(k.width, k.height, deep, Pix{full, 0, 0, 0});
  const int32_t x0 = k.width / 2 - kw / 2;
  const int32_t y0 = k.height / 2 - kh / 2;
  auto put = [&](int32_t x, int32_t y, int32_t grey) {
    if (x >= 0 && y >= 0 && x < k.width && y < k.height)
      expected.At(x, y) = Pix{full, grey, grey, grey};
  };
  for (int32_t y = -1; y <= kh; ++y) {
    for (int32_t x = -1; x <= kw; ++x) {
      if (x == -1 || y == -1 || x == kw || y == kh) {
        put(x0 + x, y0 + y, full);
        continue;
      }
      const int32_t across_x = across[static_cast<size_t>(x)];
      const int32_t down_y = down[static_cast<size_t>(y)];
      const int32_t w = k.h == 0   ? down_y
                        : k.v == 0 ? across_x
                                   : static_cast<int32_t>((int64_t{across_x} * down_y) >> 15);
      put(x0 + x, y0 + y, deep ? w : (w * 255) >> 15);
    }
  }
  const std::string difference = FirstDifference(expected, r.output, expected);
  EXPECT_TRUE(difference.empty()) << difference;
  EXPECT_EQ(r.liveWorlds, 0);
  EXPECT_EQ(r.checkedOut, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, KernelViewOutput,
    ::testing::Combine(::testing::Values(KernelViewCase{Diamond, 2, 2, 15, 11},
                                         KernelViewCase{Gaussian, 3.5, 1, 16, 12},
                                         KernelViewCase{SharpDiamond, 0, 2.5, 9, 9},
                                         KernelViewCase{Box, 15, 9, 15, 11}),
                       ::testing::Bool()));

// At half resolution a slider of 20 is a half-size of 5: an 11 x 11 kernel.
TEST(RenderParameters, DownsampleUnknownViewAndUniformAmount) {
  softhost::HostConfig config = ReferenceHostConfig();
  config.downsampleX = PF_RationalScale{1, 2};
  config.downsampleY = PF_RationalScale{1, 2};
  softhost::Host host(config);
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  Controls c;
  c.view = 1;
  c.amount = 20;
  const Rendered r = RenderOnce(host, EffectMain, c, 21, 21, false);
  ASSERT_EQ(r.err, PF_Err_NONE) << r.message;
  // Frame at 10 - 5 - 1 = 4 and 10 + 5 + 1 = 16 on both axes.
  EXPECT_EQ(r.output.At(4, 4)[1], 255);
  EXPECT_EQ(r.output.At(16, 16)[1], 255);
  EXPECT_EQ(r.output.At(3, 10)[1], 0);
  EXPECT_EQ(r.output.At(10, 10)[1], 255);

  // Any view other than View Kernel and View BCL is the Normal view; the
  // uniform switch makes the vertical slider irrelevant.
  Controls normal;
  normal.shape = Cylinder;
  normal.amount = 6;
  const Rendered a = RenderOnce(host, EffectMain, normal, 19, 15, true);
  Controls odd = normal;
  odd.view = 6;
  odd.vertical = 40;
  const Rendered b = RenderOnce(host, EffectMain, odd, 19, 15, true);
  ASSERT_EQ(a.err, PF_Err_NONE) << a.message;
  ASSERT_EQ(b.err, PF_Err_NONE) << b.message;
  const std::string difference = FirstDifference(a.output, b.output, a.output);
  EXPECT_TRUE(difference.empty()) << difference;
}

// A user abort in the first or the second pass ends the render with
// PF_Interrupt_CANCEL and no message; another code from the host comes back
// decorated. Nothing stays allocated or checked out, and an abort before the
// second pass leaves the frame cleared.
TEST(RenderFailures, AbortInEitherPass) {
  constexpr int32_t kW = 40, kH = 33;
  for (bool deep : {false, true}) {
    softhost::Host host(ReferenceHostConfig());
    ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
    Controls c;
    c.amount = 9;
    // The passes report progress out of twice the height; find their polls.
    long firstPassPoll = -1, lastPassPoll = -1;
    host.onProgress = [&](A_long current, A_long total) {
      if (total != 2 * kH) return;
      const long poll = host.AbortPolls() - 1;
      if (firstPassPoll < 0 && current <= kH) firstPassPoll = poll;
      if (current > kH) lastPassPoll = poll;
    };
    host.ResetFaultCounters();
    ASSERT_EQ(RenderOnce(host, EffectMain, c, kW, kH, deep).err, PF_Err_NONE);
    host.onProgress = nullptr;
    ASSERT_GE(firstPassPoll, 0);
    ASSERT_GT(lastPassPoll, firstPassPoll);
    for (long at : {firstPassPoll, lastPassPoll}) {
      for (PF_Err code : {PF_Interrupt_CANCEL, PF_Err_INTERNAL_STRUCT_DAMAGED}) {
        SCOPED_TRACE(::testing::Message()
                     << (deep ? "16" : "8") << " bpc, abort at poll " << at << " with " << code);
        host.ResetFaultCounters();
        host.Faults().abortAfterPolls = static_cast<int>(at);
        host.Faults().abortCode = code;
        const Rendered r = RenderOnce(host, EffectMain, c, kW, kH, deep);
        host.Faults().abortAfterPolls = -1;
        EXPECT_EQ(r.err, code);
        if (code == PF_Interrupt_CANCEL) {
          EXPECT_EQ(r.message, "");
        } else {
          EXPECT_EQ(r.message, "\nQuorvant Blur [ ConvolveImage: Error or user Abort. ]");
        }
        EXPECT_EQ(r.liveWorlds, 0);
        EXPECT_EQ(r.checkedOut, 0);
        if (at == firstPassPoll) {
          EXPECT_TRUE(FirstDifference(Image(kW, kH, deep), r.output, r.output).empty());
        }
      }
    }
  }
}

// Each host call that can fail, failing on its first and later uses, for a
// shape whose profile is smoothed (more worlds and polls) and one that is
// not.
TEST(RenderFailures, HostCallsFailingAnywhere) {
  struct Fault {
    int softhost::HostFaults::*counter;
    const char* message;
  };
  const Fault faults[] = {
      {&softhost::HostFaults::failNewWorldAt, "Could not Allocate AEWorld"},
      {&softhost::HostFaults::failIterateAt, "ConvolveImage: Error or user Abort."},
      {&softhost::HostFaults::failCheckoutAt, "AEWorld: Could not check out layer"},
      {&softhost::HostFaults::failFillAt, "FillWorld: Fill error"},
  };
  for (Shape shape : {Diamond, Box}) {
    for (bool deep : {false, true}) {
      for (const Fault& f : faults) {
        for (int at : {0, 2}) {
          softhost::Host host(ReferenceHostConfig());
          ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
          host.ResetFaultCounters();
          host.Faults().*f.counter = at;
          Controls c;
          c.shape = shape;
          c.amount = 4;
          const Rendered r = RenderOnce(host, EffectMain, c, 30, 20, deep);
          SCOPED_TRACE(::testing::Message() << Name(shape) << (deep ? " 16" : " 8") << " bpc, "
                                            << f.message << " at call " << at);
          if (r.err == PF_Err_NONE) continue;  // fewer calls than that
          EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
          // At 16 bits the host's iterate also clears the frame, first; the
          // fast engine's whole-frame blur writes every pixel instead.
          const bool clearing = deep && f.counter == &softhost::HostFaults::failIterateAt &&
                                at == 0 && ActiveEngine() == Engine::Reference;
          const std::string message = clearing ? "FillWorld: Fill error" : f.message;
          EXPECT_EQ(r.message, "\nQuorvant Blur [ " + message + " ]");
          EXPECT_EQ(r.liveWorlds, 0);
          EXPECT_EQ(r.checkedOut, 0);
        }
      }
    }
  }
}

// Through the module, whose every allocation is a host handle: refusing any
// one of them gives "Out of Memory" and leaves no handle, world or layer
// behind; with enough memory the module renders what the linked-in effect
// renders.
TEST(RenderFailures, OutOfMemoryAtEveryAllocation) {
  // Loaded once and never unloaded: after an unload the leak checker no
  // longer sees the module's own runtime memory as referenced.
  static softhost::EffectModule* const module = new softhost::EffectModule(QB_MODULE_PATH);
  for (bool deep : {false, true}) {
    softhost::Host host(ReferenceHostConfig());
    ASSERT_EQ(host.Setup(module->Entry()), PF_Err_NONE);
    Controls c;
    c.shape = Box;
    c.uniform = false;
    c.amount = 5;
    c.vertical = 3;
    softhost::SetHandleFaults(softhost::HandleFaults{});
    const long baseline = softhost::GetHandleStats().live;
    const Rendered clean = RenderOnce(host, module->Entry(), c, 17, 13, deep);
    ASSERT_EQ(clean.err, PF_Err_NONE) << clean.message;
    const long allocations = softhost::GetHandleStats().newCalls;
    ASSERT_GT(allocations, 0);
    EXPECT_EQ(softhost::GetHandleStats().live, baseline);

    softhost::Host linked(ReferenceHostConfig());
    ASSERT_EQ(linked.Setup(EffectMain), PF_Err_NONE);
    const Rendered direct = RenderOnce(linked, EffectMain, c, 17, 13, deep);
    EXPECT_TRUE(FirstDifference(direct.output, clean.output, direct.output).empty());

    for (long at = 0; at < allocations; ++at) {
      SCOPED_TRACE(::testing::Message()
                   << (deep ? "16" : "8") << " bpc, handle " << at << " of " << allocations);
      softhost::HandleFaults hf;
      hf.failNewHandleAt = static_cast<int>(at);
      softhost::SetHandleFaults(hf);
      const Rendered r = RenderOnce(host, module->Entry(), c, 17, 13, deep);
      softhost::SetHandleFaults(softhost::HandleFaults{});
      EXPECT_EQ(r.err, PF_Err_OUT_OF_MEMORY);
      EXPECT_EQ(r.message, "\nQuorvant Blur [ Out of Memory ]");
      EXPECT_EQ(r.liveWorlds, 0);
      EXPECT_EQ(r.checkedOut, 0);
      EXPECT_EQ(softhost::GetHandleStats().live, baseline);
    }
  }
}

}  // namespace
}  // namespace rendertest
