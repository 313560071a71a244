// The SmartFX commands as a host of the current generation sends them: what
// pre-render asks for and reports, smart renders of any request against the
// legacy command's whole frame, and the host mistakes the effect must turn
// into its error code and message with nothing left behind. Failing
// callbacks are the fault sweep's.
#include <array>
#include <limits>
#include <string>

#include "reliability/Scenes.h"

#ifdef QB_HOSTAPI_CURRENT

namespace reliability {
namespace {

constexpr int32_t kWidth = 40;
constexpr int32_t kHeight = 30;
constexpr A_long kMin = std::numeric_limits<A_long>::min();
constexpr A_long kMax = std::numeric_limits<A_long>::max();
constexpr rendertest::Pix kFloor{7, 7, 7, 7};

// A form gtest compares and prints.
std::array<A_long, 4> Sides(const PF_LRect& r) { return {r.left, r.top, r.right, r.bottom}; }

Scene At(int32_t view, int32_t shape, bool control, bool deep = false) {
  return Scene{view, shape, deep, control, 6.0, 5, kWidth, kHeight};
}

void ExpectNothingKept(softhost::Host& host) {
  EXPECT_EQ(host.LiveWorlds(), 0);
  EXPECT_EQ(host.CheckedOutLayers(), 0);
  EXPECT_EQ(host.UnreturnedLayers(), 0);
}

// The input's rectangle as the effect asks for it; layers are kWidth x
// kHeight (the input), 17 x 13 (the control layer) or none.
PF_LRect theInputAsked;
bool theControlLayer = false;

PF_Err RecordCheckout(PF_ProgPtr, PF_ParamIndex index, A_long, const PF_RenderRequest* request,
                      A_long, A_long, A_u_long, PF_CheckoutResult* result) {
  *result = PF_CheckoutResult{};
  PF_LRect layer{0, 0, 0, 0};
  if (index == ParamInput) layer = PF_LRect{0, 0, kWidth, kHeight}, theInputAsked = request->rect;
  if (index == ParamBCLLayer && theControlLayer) layer = PF_LRect{0, 0, 17, 13};
  result->max_result_rect = layer;
  result->result_rect = PF_LRect{
      std::max(layer.left, request->rect.left), std::max(layer.top, request->rect.top),
      std::min(layer.right, request->rect.right), std::min(layer.bottom, request->rect.bottom)};
  return PF_Err_NONE;
}

// The input is asked for over the request widened by half the kernel (a
// Box of amount 6 is 9 taps, so 4 each side); the result is the request
// within the layer, the most the layer. That the control and shape layers
// are asked for whole the smart renders below pin: the host hands out no
// more than was asked for.
TEST(SmartFX, PreRenderAsksForTheWidenedRequestAndReportsTheLayersRectangles) {
  const PF_LRect layer{0, 0, kWidth, kHeight}, none{0, 0, 0, 0}, part{10, 5, 20, 15};
  const PF_LRect everything{kMin / 2, kMin / 2, kMax / 2, kMax / 2};
  const struct {
    const char* what;
    int32_t view;
    bool controlled;
    PF_LRect request, input, result;
  } cases[] = {
      {"whole frame", 0, false, layer, {-4, -4, kWidth + 4, kHeight + 4}, layer},
      {"over the edge", 0, false, {30, 20, 50, 60}, {26, 16, 54, 64}, {30, 20, kWidth, kHeight}},
      {"empty", 0, false, {5, 5, 5, 9}, none, none},
      {"inverted", 0, false, {20, 20, 10, 10}, none, none},
      {"outside", 0, false, {100, 100, 120, 120}, {96, 96, 124, 124}, none},
      {"far larger", 0, false, {kMin, kMin, kMax, kMax}, {kMin, kMin, kMax, kMax}, layer},
      // A control layer and the diagnostic views read the input anywhere.
      {"control layer", 0, true, part, everything, part},
      {"kernel view", 1, false, part, everything, part},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Stage stage(At(c.view, 3, c.controlled), EntryFor(EngineKind::Fast));
    theControlLayer = c.controlled;
    theInputAsked = PF_LRect{1, 2, 3, 4};
    PF_PreRenderInput input{};
    input.output_request.rect = c.request;
    input.bitdepth = 8;
    PF_PreRenderOutput output{};
    PF_PreRenderCallbacks callbacks{&RecordCheckout, nullptr};
    PF_PreRenderExtra extra{&input, &output, &callbacks};
    ASSERT_EQ(
        stage.Host().Call(EntryFor(EngineKind::Fast), PF_Cmd_SMART_PRE_RENDER, nullptr, &extra),
        PF_Err_NONE)
        << stage.Message();
    EXPECT_EQ(Sides(theInputAsked), Sides(c.input));
    EXPECT_EQ(Sides(output.result_rect), Sides(c.result));
    EXPECT_EQ(Sides(output.max_result_rect), Sides(layer));
  }
  theControlLayer = false;
}

// A request renders the whole frame's pixels inside it, as the legacy
// command renders the whole frame, and leaves the rest of the output alone.
TEST(SmartFX, AnyRequestGetsTheWholeFramesPixels) {
  // View, shape and whether there is a control layer.
  const int32_t scenes[][3] = {{0, 3, 0}, {0, 4, 0}, {0, 7, 0}, {0, 0, 1},
                               {0, 4, 1}, {1, 5, 0}, {2, 1, 1}};
  const PF_LRect requests[] = {{0, 0, kWidth, kHeight}, {10, 5, 20, 15},         {0, 0, 7, kHeight},
                               {33, 22, 60, 50},        {-9, -9, 4, 3},          {12, 12, 12, 20},
                               {100, 0, 120, 30},       {kMin, kMin, kMax, kMax}};
  for (bool deep : {false, true}) {
    for (const auto& s : scenes) {
      Scene scene = At(s[0], s[1], s[2] != 0, deep);
      scene.path = softhost::RenderPath::Legacy;
      Stage legacy(scene, EntryFor(EngineKind::Fast));
      ASSERT_EQ(legacy.Render(), PF_Err_NONE) << legacy.Message();
      const rendertest::Image whole = legacy.Output();
      scene.path = softhost::RenderPath::Smart;
      Stage smart(scene, EntryFor(EngineKind::Fast));
      for (const PF_LRect& r : requests) {
        SCOPED_TRACE(Describe(scene) + ", request " + ::testing::PrintToString(Sides(r)));
        smart.Host().Config().requestSet = true;
        smart.Host().Config().request = r;
        const auto out = rendertest::ToWorld(rendertest::Image(kWidth, kHeight, deep, kFloor));
        PF_OutData outData{};
        ASSERT_EQ(smart.SmartRenderInto(*out, outData), PF_Err_NONE) << outData.return_msg;
        rendertest::Image expected(kWidth, kHeight, deep, kFloor);
        for (int32_t y = std::max(r.top, 0); y < std::min(r.bottom, kHeight); ++y) {
          for (int32_t x = std::max(r.left, 0); x < std::min(r.right, kWidth); ++x) {
            expected.At(x, y) = whole.At(x, y);
          }
        }
        const std::string d = FirstDifference(expected, rendertest::Load(*out), whole);
        ASSERT_TRUE(d.empty()) << d;
        ExpectNothingKept(smart.Host());
      }
    }
  }
}

TEST(SmartFX, HostMistakesGiveTheEffectsErrorAndKeepNothing) {
  const struct {
    bool softhost::HostFaults::*fault;
    PF_Err err;
    const char* message;
  } cases[] = {
      {&softhost::HostFaults::skipPreRender, PF_Err_BAD_CALLBACK_PARAM,
       "SmartRender: no pre-render for this frame"},
      {&softhost::HostFaults::floatPixels, PF_Err_BAD_CALLBACK_PARAM,
       "SmartRender: unsupported pixel format"},
      {&softhost::HostFaults::noWorldSuite, 13, "Suite not found"},
      {&softhost::HostFaults::noBasicSuite, 13, "Suite not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Stage stage(At(0, 3, true), EntryFor(EngineKind::Fast));
    stage.Host().Faults().*c.fault = true;
    EXPECT_EQ(stage.Render(), c.err);
    EXPECT_EQ(stage.Message(), std::string("\nQuorvant Blur [ ") + c.message + " ]");
    ExpectNothingKept(stage.Host());
    EXPECT_EQ(stage.Host().SuitesHeld(), 0);
    // The same instance renders again once the host behaves.
    stage.Host().Faults() = softhost::HostFaults{};
    EXPECT_EQ(stage.Render(), PF_Err_NONE) << stage.Message();
  }

  // Smart commands without their records.
  Stage stage(At(0, 3, false), EntryFor(EngineKind::Fast));
  for (PF_Cmd cmd : {PF_Cmd_SMART_PRE_RENDER, PF_Cmd_SMART_RENDER}) {
    EXPECT_EQ(stage.Host().Call(EntryFor(EngineKind::Fast), cmd), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(stage.Message(), "\nQuorvant Blur [ SmartFX: the host passed no SmartFX records ]");
  }
  ExpectNothingKept(stage.Host());
}

}  // namespace
}  // namespace reliability

#endif  // QB_HOSTAPI_CURRENT
