// The software host's SmartFX side, driven by a scripted effect: layer
// checkouts clipped to the layer and handed out as views in layer pixels,
// the output after an input only, ids checked, PF World Suite 2's formats,
// and the pixel checkouts an effect leaves taken back and counted.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hostapi/PluginApi.h"

#ifdef QB_HOSTAPI_CURRENT

#include "softhost/SoftHost.h"

namespace {

using softhost::Host;
using softhost::LayerChoice;
using softhost::SoftWorld;

// What the scripted effect saw, checked by the test after the render.
struct Seen {
  SoftWorld* input = nullptr;
  SoftWorld* control = nullptr;
  SoftWorld* output = nullptr;
  std::string failures;
  void Expect(bool ok, const char* what) {
    if (!ok) failures += std::string(what) + "; ";
  }
};
Seen* theSeen = nullptr;

bool Is(const PF_LRect& r, A_long l, A_long t, A_long rr, A_long b) {
  return r.left == l && r.top == t && r.right == rr && r.bottom == b;
}

PF_Err PreRender(PF_InData* in, PF_PreRenderExtra* extra) {
  Seen& s = *theSeen;
  auto checkout = [&](PF_ParamIndex index, A_long id, PF_LRect rect, PF_CheckoutResult* result) {
    PF_RenderRequest request = extra->input->output_request;
    request.rect = rect;
    return extra->cb->checkout_layer(in->effect_ref, index, id, &request, 0, 1, 30, result);
  };
  PF_CheckoutResult r{};
  s.Expect(checkout(0, 0, PF_LRect{-3, -3, 5, 4}, &r) == PF_Err_NONE, "input checkout");
  s.Expect(Is(r.result_rect, 0, 0, 5, 4), "input clipped to the layer");
  s.Expect(Is(r.max_result_rect, 0, 0, 10, 8) && r.ref_width == 10 && r.ref_height == 8,
           "input bounds");
  s.Expect(checkout(13, 1, PF_LRect{1, 1, 100, 100}, &r) == PF_Err_NONE, "control checkout");
  s.Expect(Is(r.result_rect, 1, 1, 5, 4), "control clipped to its own size");
  s.Expect(checkout(7, 2, PF_LRect{0, 0, 10, 8}, &r) == PF_Err_NONE, "no-layer checkout");
  s.Expect(Is(r.result_rect, 0, 0, 0, 0) && Is(r.max_result_rect, 0, 0, 0, 0), "no layer: empty");
  s.Expect(checkout(0, 0, PF_LRect{0, 0, 1, 1}, &r) == PF_Err_BAD_CALLBACK_PARAM, "id used twice");
  s.Expect(checkout(1, 5, PF_LRect{0, 0, 1, 1}, &r) == PF_Err_BAD_CALLBACK_PARAM, "not a layer");
  extra->output->result_rect = extra->input->output_request.rect;
  return PF_Err_NONE;
}

PF_Err Render(PF_InData* in, PF_SmartRenderExtra* extra) {
  Seen& s = *theSeen;
  const PF_SmartRenderCallbacks& cb = *extra->cb;
  PF_EffectWorld* world = nullptr;
  s.Expect(cb.checkout_output(in->effect_ref, &world) == PF_Err_BAD_CALLBACK_PARAM,
           "output before any input");
  s.Expect(cb.checkout_layer_pixels(in->effect_ref, 0, &world) == PF_Err_NONE && world, "input");
  s.Expect(world->width == 5 && world->height == 4 && world->origin_x == 0 &&
               world->data == s.input->World()->data &&
               (world->world_flags & PF_WorldFlag_WRITEABLE) == 0,
           "input view");
  s.Expect(cb.checkout_layer_pixels(in->effect_ref, 1, &world) == PF_Err_NONE && world, "control");
  s.Expect(world->width == 4 && world->height == 3 && world->origin_x == 1 &&
               world->origin_y == 1 && world->data == s.control->Pixel8(1, 1),
           "control view");
  s.Expect(cb.checkout_layer_pixels(in->effect_ref, 2, &world) == PF_Err_NONE && !world,
           "no layer: no world");
  s.Expect(cb.checkout_layer_pixels(in->effect_ref, 9, &world) == PF_Err_BAD_CALLBACK_PARAM,
           "unknown id");
  s.Expect(cb.checkout_output(in->effect_ref, &world) == PF_Err_NONE && world, "output");
  s.Expect(world->width == 5 && world->height == 5 && world->origin_x == 2 &&
               world->origin_y == 1 && world->data == s.output->Pixel8(2, 1) &&
               (world->world_flags & PF_WorldFlag_WRITEABLE) != 0,
           "output view");
  s.Expect(cb.checkin_layer_pixels(in->effect_ref, 0) == PF_Err_NONE, "check-in");
  s.Expect(cb.checkin_layer_pixels(in->effect_ref, 0) == PF_Err_BAD_CALLBACK_PARAM,
           "check-in twice");

  const void* suite = nullptr;
  s.Expect(in->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite) == 0,
           "world suite");
  PF_PixelFormat format = 0;
  static_cast<const PF_WorldSuite2*>(suite)->PF_GetPixelFormat(s.input->World(), &format);
  s.Expect(format == PF_PixelFormat_ARGB32, "8-bit format");
  in->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
  return PF_Err_NONE;  // the control and no-layer checkouts stay out
}

PF_Err Scripted(PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef*[], PF_LayerDef* output,
                void* extra) {
  if (output != nullptr) theSeen->Expect(false, "smart commands pass no output");
  if (cmd == PF_Cmd_SMART_PRE_RENDER) return PreRender(in, static_cast<PF_PreRenderExtra*>(extra));
  if (cmd == PF_Cmd_SMART_RENDER) return Render(in, static_cast<PF_SmartRenderExtra*>(extra));
  return PF_Err_NONE;
}

TEST(SmartHost, CheckoutsAreViewsInLayerPixelsAndEveryOneIsAccountedFor) {
  SoftWorld input(10, 8, false), control(5, 4, false), output(10, 8, false);
  Seen seen{&input, &control, &output, ""};
  theSeen = &seen;
  Host host;
  host.SetInput(input.World());
  PF_ParamDef layer{};
  layer.param_type = PF_Param_LAYER;
  PF_ParamDef popup{};
  popup.param_type = PF_Param_POPUP;
  for (int i = 1; i < 14; ++i) {
    ASSERT_EQ(host.InData()->inter.add_param(host.InData()->effect_ref, -1,
                                             (i == 7 || i == 13) ? &layer : &popup),
              PF_Err_NONE);
  }
  host.SetLayer(13, LayerChoice{LayerChoice::Image, control.World()});
  host.Config().requestSet = true;
  host.Config().request = PF_LRect{2, 1, 7, 6};
  ASSERT_EQ(host.SmartRender(&Scripted, output.World()), PF_Err_NONE);
  EXPECT_EQ(seen.failures, "");
  EXPECT_EQ(host.UnreturnedLayers(), 2);
  EXPECT_EQ(host.CheckedOutLayers(), 0);
  EXPECT_EQ(host.SuitesHeld(), 0);
  theSeen = nullptr;
}

}  // namespace

#endif  // QB_HOSTAPI_CURRENT
