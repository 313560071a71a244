// The software host's SmartFX side, driven by a scripted effect: layer
// checkouts clipped to the layer and handed out as views in layer pixels,
// the output only after an input, ids checked, and the pixel checkouts an
// effect leaves taken back and counted. The effect's smart tests lean on
// this host being as strict as a real one.
#include <gtest/gtest.h>

#include <array>

#include "hostapi/PluginApi.h"

#ifdef QB_HOSTAPI_CURRENT

#include "shell/EntryPoint.h"
#include "softhost/SoftHost.h"

namespace {

using softhost::SoftWorld;
using Sides = std::array<A_long, 4>;

SoftWorld* theInput = nullptr;
SoftWorld* theControl = nullptr;
SoftWorld* theOutput = nullptr;

Sides Of(const PF_LRect& r) { return {r.left, r.top, r.right, r.bottom}; }

// Whether `w` shows `width` x `height` pixels from (x, y) of its layer.
bool IsView(const PF_EffectWorld* w, A_long width, A_long height, A_long x, A_long y,
            const void* data) {
  return w != nullptr && w->width == width && w->height == height && w->origin_x == x &&
         w->origin_y == y && static_cast<const void*>(w->data) == data;
}

PF_Err PreRender(PF_InData* in, PF_PreRenderExtra* extra) {
  PF_CheckoutResult r{};
  auto checkout = [&](PF_ParamIndex index, A_long id, PF_LRect rect) {
    PF_RenderRequest request = extra->input->output_request;
    request.rect = rect;
    return extra->cb->checkout_layer(in->effect_ref, index, id, &request, 0, 1, 30, &r);
  };
  EXPECT_EQ(checkout(0, 0, PF_LRect{-3, -3, 5, 4}), PF_Err_NONE);
  EXPECT_EQ(Of(r.result_rect), (Sides{0, 0, 5, 4})) << "input clipped to the layer";
  EXPECT_EQ(Of(r.max_result_rect), (Sides{0, 0, 10, 8}));
  EXPECT_EQ(checkout(13, 1, PF_LRect{1, 1, 100, 100}), PF_Err_NONE);
  EXPECT_EQ(Of(r.result_rect), (Sides{1, 1, 5, 4})) << "control layer clipped to its own size";
  EXPECT_EQ(checkout(0, 0, PF_LRect{0, 0, 1, 1}), PF_Err_BAD_CALLBACK_PARAM) << "id used twice";
  EXPECT_EQ(checkout(1, 5, PF_LRect{0, 0, 1, 1}), PF_Err_BAD_CALLBACK_PARAM) << "not a layer";
  extra->output->result_rect = extra->input->output_request.rect;
  return PF_Err_NONE;
}

PF_Err Render(PF_InData* in, PF_SmartRenderExtra* extra) {
  const PF_SmartRenderCallbacks& cb = *extra->cb;
  const PF_ProgPtr ref = in->effect_ref;
  PF_EffectWorld* w = nullptr;
  EXPECT_EQ(cb.checkout_output(ref, &w), PF_Err_BAD_CALLBACK_PARAM) << "output before any input";
  EXPECT_EQ(cb.checkout_layer_pixels(ref, 0, &w), PF_Err_NONE);
  EXPECT_TRUE(IsView(w, 5, 4, 0, 0, theInput->World()->data) &&
              (w->world_flags & PF_WorldFlag_WRITEABLE) == 0)
      << "input";
  EXPECT_EQ(cb.checkout_layer_pixels(ref, 1, &w), PF_Err_NONE);
  EXPECT_TRUE(IsView(w, 4, 3, 1, 1, theControl->Pixel8(1, 1))) << "control layer";
  EXPECT_EQ(cb.checkout_layer_pixels(ref, 9, &w), PF_Err_BAD_CALLBACK_PARAM) << "unknown id";
  EXPECT_EQ(cb.checkout_output(ref, &w), PF_Err_NONE);
  EXPECT_TRUE(IsView(w, 5, 5, 2, 1, theOutput->Pixel8(2, 1)) &&
              (w->world_flags & PF_WorldFlag_WRITEABLE) != 0)
      << "output";
  EXPECT_EQ(cb.checkin_layer_pixels(ref, 0), PF_Err_NONE);
  EXPECT_EQ(cb.checkin_layer_pixels(ref, 0), PF_Err_BAD_CALLBACK_PARAM) << "check-in twice";
  return PF_Err_NONE;  // the control layer's checkout stays out
}

PF_Err Scripted(PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef*[], PF_LayerDef* output,
                void* extra) {
  EXPECT_EQ(output, nullptr) << "smart commands pass no output";
  if (cmd == PF_Cmd_SMART_PRE_RENDER) return PreRender(in, static_cast<PF_PreRenderExtra*>(extra));
  if (cmd == PF_Cmd_SMART_RENDER) return Render(in, static_cast<PF_SmartRenderExtra*>(extra));
  return PF_Err_NONE;
}

TEST(SmartHost, CheckoutsAreViewsInLayerPixelsAndEveryOneIsAccountedFor) {
  SoftWorld input(10, 8, false), control(5, 4, false), output(10, 8, false);
  theInput = &input, theControl = &control, theOutput = &output;
  softhost::Host host;
  host.SetInput(input.World());
  // The effect's own parameters, for their layers: the shape layer (7) and
  // the control layer (13).
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  host.SetLayer(13, softhost::LayerChoice{softhost::LayerChoice::Image, control.World()});
  host.Config().requestSet = true;
  host.Config().request = PF_LRect{2, 1, 7, 6};
  ASSERT_EQ(host.SmartRender(&Scripted, output.World()), PF_Err_NONE);
  EXPECT_EQ(host.UnreturnedLayers(), 1);
  EXPECT_EQ(host.CheckedOutLayers(), 0);
  theInput = theControl = theOutput = nullptr;
}

}  // namespace

#endif  // QB_HOSTAPI_CURRENT
