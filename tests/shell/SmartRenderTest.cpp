// The SmartFX commands as a host of the current generation sends them: what
// pre-render asks for and reports, smart renders of any request against the
// legacy command's whole frame, and the host mistakes the effect must turn
// into its error code and message with nothing left behind.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hostapi/PluginApi.h"

#ifdef QB_HOSTAPI_CURRENT

#include "render/RenderHarness.h"
#include "shell/EntryPoint.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace {

using rendertest::Image;
using rendertest::Pix;
using softhost::LayerChoice;
using softhost::RenderPath;

constexpr int32_t kWidth = 40;
constexpr int32_t kHeight = 30;
constexpr A_long kMin = std::numeric_limits<A_long>::min();
constexpr A_long kMax = std::numeric_limits<A_long>::max();

bool Same(const PF_LRect& a, const PF_LRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
std::string Text(const PF_LRect& r) {
  std::ostringstream s;
  s << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
  return s.str();
}

// One effect instance on the software host, with an input, a control layer
// smaller than the frame and a custom shape layer.
class Instance {
 public:
  explicit Instance(bool deep = false)
      : input(rendertest::ToWorld(
            rendertest::MakePattern(rendertest::Random, kWidth, kHeight, deep, 5))),
        control(rendertest::ToWorld(rendertest::MakePattern(rendertest::Edges, 17, 13, deep, 6))),
        shape(rendertest::ToWorld(rendertest::MakePattern(rendertest::Impulses, 9, 9, deep, 7))) {
    host.Config().threads = 2;
    host.SetInput(input->World());
    EXPECT_EQ(host.Setup(EffectMain), PF_Err_NONE);
    Set(0, 3, 6.0, false);
  }
  void Set(int32_t view, int32_t shapeChoice, double amount, bool controlled) {
    std::vector<PF_ParamDef>& p = host.Params();
    p[ParamOutputView].u.pd.value = view + 1;
    p[ParamBlurType].u.pd.value = shapeChoice + 1;
    p[ParamBlurAmount].u.fd.value = static_cast<PF_Fixed>(amount * 65536);
    p[ParamBCLTileMode].u.pd.value = 3;  // "Stretch To Fit"
    p[ParamBCLCompoundShapes].u.fd.value = 5 << 16;
    host.SetLayer(ParamBCLLayer,
                  controlled ? LayerChoice{LayerChoice::Image, control->World()} : LayerChoice{});
    host.SetLayer(ParamShapeLayer, LayerChoice{LayerChoice::Image, shape->World()});
  }
  // A frame through `path` into an output that starts as `floor`.
  Image Render(RenderPath path, PF_Err* err, Pix floor = Pix{7, 7, 7, 7}) {
    host.Config().renderPath = path;
    const auto out = rendertest::ToWorld(Image(kWidth, kHeight, input->Deep(), floor));
    *err = host.Render(EffectMain, out->World());
    return rendertest::Load(*out);
  }
  void ExpectNothingKept() {
    EXPECT_EQ(host.LiveWorlds(), 0);
    EXPECT_EQ(host.CheckedOutLayers(), 0);
    EXPECT_EQ(host.UnreturnedLayers(), 0);
  }

  softhost::Host host;
  std::unique_ptr<softhost::SoftWorld> input, control, shape;
};

// ---- Pre-render ------------------------------------------------------------

// Records what the effect asks for; layers are kWidth x kHeight (the input),
// 17 x 13 (the control layer) or none.
struct Asked {
  PF_ParamIndex index;
  A_long id;
  PF_LRect rect;
};
std::vector<Asked> theAsked;
bool theControlLayer = false;

PF_Err RecordCheckout(PF_ProgPtr, PF_ParamIndex index, A_long id, const PF_RenderRequest* request,
                      A_long, A_long, A_u_long, PF_CheckoutResult* result) {
  theAsked.push_back(Asked{index, id, request->rect});
  *result = PF_CheckoutResult{};
  PF_LRect layer{0, 0, 0, 0};
  if (index == ParamInput) layer = PF_LRect{0, 0, kWidth, kHeight};
  if (index == ParamBCLLayer && theControlLayer) layer = PF_LRect{0, 0, 17, 13};
  result->max_result_rect = layer;
  result->result_rect = PF_LRect{
      std::max(layer.left, request->rect.left), std::max(layer.top, request->rect.top),
      std::min(layer.right, request->rect.right), std::min(layer.bottom, request->rect.bottom)};
  return PF_Err_NONE;
}

struct PreRendered {
  PF_Err err;
  PF_PreRenderOutput output;
  std::vector<Asked> asked;
};

PreRendered PreRender(Instance& instance, const PF_LRect& request) {
  theAsked.clear();
  PF_PreRenderInput input{};
  input.output_request.rect = request;
  input.bitdepth = 8;
  PF_PreRenderOutput output{};
  PF_PreRenderCallbacks callbacks{&RecordCheckout, nullptr};
  PF_PreRenderExtra extra{&input, &output, &callbacks};
  const PF_Err err = instance.host.Call(EffectMain, PF_Cmd_SMART_PRE_RENDER, nullptr, &extra);
  return PreRendered{err, output, theAsked};
}

// The input is asked for over the request widened by half the kernel (a
// Box of amount 6 is 9 taps, so 4 each side), the control and shape layers
// whole; the result is the request within the layer, the most the layer.
TEST(SmartFX, PreRenderAsksForTheWidenedRequestAndReportsTheLayersRectangles) {
  Instance instance;
  const int32_t reach =
      static_cast<int32_t>(rendertest::Profile(rendertest::Box, 3, true).size()) / 2;
  ASSERT_EQ(reach, 4);
  const PF_LRect layer{0, 0, kWidth, kHeight};
  const PF_LRect none{0, 0, 0, 0};
  const struct {
    const char* what;
    int32_t view;
    bool controlled;
    PF_LRect request, input, result;
  } cases[] = {
      {"whole frame", 0, false, layer, {-4, -4, kWidth + 4, kHeight + 4}, layer},
      {"inside", 0, false, {10, 5, 20, 15}, {6, 1, 24, 19}, {10, 5, 20, 15}},
      {"over the edge", 0, false, {30, 20, 50, 60}, {26, 16, 54, 64}, {30, 20, kWidth, kHeight}},
      {"empty", 0, false, {5, 5, 5, 9}, none, none},
      {"outside", 0, false, {100, 100, 120, 120}, {96, 96, 124, 124}, none},
      {"inverted", 0, false, {20, 20, 10, 10}, none, none},
      {"far larger", 0, false, {kMin, kMin, kMax, kMax}, {kMin, kMin, kMax, kMax}, layer},
      {"control layer",
       0,
       true,
       {10, 5, 20, 15},
       {kMin / 2, kMin / 2, kMax / 2, kMax / 2},
       {10, 5, 20, 15}},
      {"kernel view",
       1,
       false,
       {10, 5, 20, 15},
       {kMin / 2, kMin / 2, kMax / 2, kMax / 2},
       {10, 5, 20, 15}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    instance.Set(c.view, 3, 6.0, c.controlled);
    theControlLayer = c.controlled;
    const PreRendered r = PreRender(instance, c.request);
    ASSERT_EQ(r.err, PF_Err_NONE) << instance.host.OutData()->return_msg;
    ASSERT_EQ(r.asked.size(), 3u);
    bool sawInput = false;
    for (const Asked& a : r.asked) {
      if (a.index == ParamInput) {
        sawInput = true;
        EXPECT_TRUE(Same(a.rect, c.input)) << "input asked " << Text(a.rect);
      } else {
        EXPECT_TRUE(a.index == ParamBCLLayer || a.index == ParamShapeLayer) << a.index;
        EXPECT_LE(a.rect.left, 0);
        EXPECT_LE(a.rect.top, 0);
        EXPECT_GE(a.rect.right, 1 << 20);
        EXPECT_GE(a.rect.bottom, 1 << 20);
      }
    }
    EXPECT_TRUE(sawInput);
    EXPECT_NE(r.asked[0].id, r.asked[1].id);
    EXPECT_NE(r.asked[1].id, r.asked[2].id);
    EXPECT_NE(r.asked[0].id, r.asked[2].id);
    EXPECT_TRUE(Same(r.output.result_rect, c.result)) << Text(r.output.result_rect);
    EXPECT_TRUE(Same(r.output.max_result_rect, layer)) << Text(r.output.max_result_rect);
    EXPECT_NE(r.output.pre_render_data, nullptr);
  }
  theControlLayer = false;
}

// ---- Smart render ------------------------------------------------------------

// A request renders the whole frame's pixels inside it, as the legacy
// command renders the whole frame, and leaves the rest of the output alone.
TEST(SmartFX, AnyRequestGetsTheWholeFramesPixels) {
  struct Scene {
    int32_t view, shape;
    bool controlled;
  };
  const Scene scenes[] = {{0, 3, false}, {0, 4, false}, {0, 7, false}, {0, 0, true},
                          {0, 4, true},  {1, 5, false}, {2, 1, true}};
  const PF_LRect requests[] = {{0, 0, kWidth, kHeight}, {10, 5, 20, 15},         {0, 0, 7, kHeight},
                               {33, 22, 60, 50},        {-9, -9, 4, 3},          {12, 12, 12, 20},
                               {100, 0, 120, 30},       {kMin, kMin, kMax, kMax}};
  for (bool deep : {false, true}) {
    Instance instance(deep);
    for (const Scene& s : scenes) {
      instance.Set(s.view, s.shape, 9.0, s.controlled);
      PF_Err err = PF_Err_NONE;
      const Image whole = instance.Render(RenderPath::Legacy, &err);
      ASSERT_EQ(err, PF_Err_NONE) << instance.host.OutData()->return_msg;
      for (const PF_LRect& r : requests) {
        SCOPED_TRACE(::testing::Message() << "view " << s.view << " shape " << s.shape
                                          << (s.controlled ? " with control layer" : "")
                                          << (deep ? " 16" : " 8") << " bpc, request " << Text(r));
        instance.host.Config().requestSet = true;
        instance.host.Config().request = r;
        const Image got = instance.Render(RenderPath::Smart, &err);
        instance.host.Config().requestSet = false;
        ASSERT_EQ(err, PF_Err_NONE) << instance.host.OutData()->return_msg;
        Image expected(kWidth, kHeight, deep, Pix{7, 7, 7, 7});
        for (int32_t y = std::max(r.top, 0); y < std::min(r.bottom, kHeight); ++y) {
          for (int32_t x = std::max(r.left, 0); x < std::min(r.right, kWidth); ++x) {
            expected.At(x, y) = whole.At(x, y);
          }
        }
        const std::string d = rendertest::FirstDifference(expected, got, whole);
        ASSERT_TRUE(d.empty()) << d;
        instance.ExpectNothingKept();
      }
    }
  }
}

// ---- What a host can get wrong -------------------------------------------------

TEST(SmartFX, HostMistakesGiveTheEffectsErrorAndKeepNothing) {
  const struct {
    const char* what;
    void (*arm)(softhost::HostFaults&);
    PF_Err err;
    const char* message;
  } cases[] = {
      {"smart render without pre-render", [](softhost::HostFaults& f) { f.skipPreRender = true; },
       PF_Err_BAD_CALLBACK_PARAM, "SmartRender: no pre-render for this frame"},
      {"32-bit float worlds", [](softhost::HostFaults& f) { f.floatPixels = true; },
       PF_Err_BAD_CALLBACK_PARAM, "SmartRender: unsupported pixel format"},
      {"no PF World Suite", [](softhost::HostFaults& f) { f.noWorldSuite = true; }, 13,
       "Suite not found"},
      {"no basic suite", [](softhost::HostFaults& f) { f.noBasicSuite = true; }, 13,
       "Suite not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Instance instance;
    instance.Set(0, 3, 6.0, true);
    c.arm(instance.host.Faults());
    PF_Err err = PF_Err_NONE;
    instance.Render(RenderPath::Smart, &err);
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(std::string(instance.host.OutData()->return_msg),
              std::string("\nQuorvant Blur [ ") + c.message + " ]");
    instance.ExpectNothingKept();
    EXPECT_EQ(instance.host.SuitesHeld(), 0);
    // The same instance renders again once the host behaves.
    instance.host.Faults() = softhost::HostFaults{};
    instance.Render(RenderPath::Smart, &err);
    EXPECT_EQ(err, PF_Err_NONE) << instance.host.OutData()->return_msg;
  }

  // Smart commands without their records.
  Instance instance;
  for (PF_Cmd cmd : {PF_Cmd_SMART_PRE_RENDER, PF_Cmd_SMART_RENDER}) {
    EXPECT_EQ(instance.host.Call(EffectMain, cmd), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(instance.host.OutData()->return_msg,
                 "\nQuorvant Blur [ SmartFX: the host passed no SmartFX records ]");
  }
  instance.ExpectNothingKept();
}

}  // namespace

#endif  // QB_HOSTAPI_CURRENT
