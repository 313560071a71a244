#include "shell/SmartRender.h"

#ifdef QB_HOSTAPI_CURRENT

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "image/AEException.h"
#include "image/AEWorld.h"
#include "image/Drawing.h"
#include "image/PixelTraits.h"
#include "render/BlurRender.h"
#include "render/RenderDriver.h"
#include "shell/ParamIndices.h"
#include "shell/RenderSettings.h"
#include "shell/SuiteHolder.h"

namespace {

constexpr char kNoRecords[] = "SmartFX: the host passed no SmartFX records";
constexpr char kNoPreRender[] = "SmartRender: no pre-render for this frame";
constexpr char kLayerCheckout[] = "AEWorld: Could not check out layer";
constexpr char kOutputCheckout[] = "SmartRender: Could not check out output";
constexpr char kParamCheckout[] = "SmartFX: Could not check out parameter";
constexpr char kPixelFormat[] = "SmartRender: unsupported pixel format";

// Its address in pre_render_data tells smart render that pre-render ran;
// the object itself is never written, so renders on other threads may all
// point at it.
char thePreRenderMark;

// The non-layer parameters, each checked out and given back at once: only
// values are kept, so nothing stays checked out.
class CheckedOutParams : public ParamValues {
 public:
  explicit CheckedOutParams(PF_InData* in_data) {
    for (int32_t i = ParamInput + 1; i < ParamCount; ++i) {
      if (i == ParamShapeLayer || i == ParamBCLLayer) continue;
      PF_ParamDef& def = values[static_cast<size_t>(i)];
      const PF_Err err =
          in_data->inter.checkout_param(in_data->effect_ref, i, in_data->current_time,
                                        in_data->time_step, in_data->time_scale, &def);
      if (err != PF_Err_NONE) throw AEException(err, kParamCheckout);
      in_data->inter.checkin_param(in_data->effect_ref, &def);
    }
  }
  const PF_ParamDef& operator[](ParamIndex index) const override {
    return values[static_cast<size_t>(index)];
  }

 private:
  std::array<PF_ParamDef, ParamCount> values{};
};

A_long Clamp32(int64_t v) {
  return static_cast<A_long>(std::clamp<int64_t>(v, std::numeric_limits<A_long>::min(),
                                                 std::numeric_limits<A_long>::max()));
}

bool IsEmpty(const PF_LRect& r) { return r.right <= r.left || r.bottom <= r.top; }

PF_LRect Intersection(const PF_LRect& a, const PF_LRect& b) {
  PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
             std::min(a.bottom, b.bottom)};
  if (IsEmpty(r)) r = PF_LRect{0, 0, 0, 0};
  return r;
}

// Arithmetic in 64 bits, so that a request near the ends of the coordinate
// range cannot wrap round.
PF_LRect Widened(const PF_LRect& r, KernelReach reach) {
  if (IsEmpty(r)) return PF_LRect{0, 0, 0, 0};
  return PF_LRect{Clamp32(int64_t{r.left} - reach.x), Clamp32(int64_t{r.top} - reach.y),
                  Clamp32(int64_t{r.right} + reach.x), Clamp32(int64_t{r.bottom} + reach.y)};
}

// All of a layer, whatever its size and wherever its pixels reach: the
// host gives no more than the layer has (request and layer intersected).
// Half the coordinate range, so that a host adding to it cannot wrap.
constexpr PF_LRect kWholeLayer{
    std::numeric_limits<A_long>::min() / 2, std::numeric_limits<A_long>::min() / 2,
    std::numeric_limits<A_long>::max() / 2, std::numeric_limits<A_long>::max() / 2};

void CheckoutLayer(PF_InData* in_data, const PF_PreRenderExtra* extra, ParamIndex index,
                   SmartCheckout id, const PF_LRect& rect, PF_CheckoutResult* result) {
  PF_RenderRequest request = extra->input->output_request;
  request.rect = rect;
  *result = PF_CheckoutResult{};
  const PF_Err err =
      extra->cb->checkout_layer(in_data->effect_ref, index, id, &request, in_data->current_time,
                                in_data->time_step, in_data->time_scale, result);
  if (err != PF_Err_NONE) throw AEException(err, kLayerCheckout);
}

// One layer's pixels for the length of a smart render; checked in on
// destruction, also while an exception unwinds. Null when the layer
// parameter names no layer or the host has nothing of it.
class LayerPixels {
 public:
  LayerPixels(PF_InData* in_data, const PF_SmartRenderCallbacks* callbacks, SmartCheckout id)
      : inData(in_data), cb(callbacks), checkoutId(id) {
    const PF_Err err = cb->checkout_layer_pixels(inData->effect_ref, checkoutId, &world);
    if (err != PF_Err_NONE) throw AEException(err, kLayerCheckout);
    checkedOut = true;
    if (world != nullptr && (world->data == nullptr || world->width < 1 || world->height < 1)) {
      world = nullptr;
    }
  }
  LayerPixels(const LayerPixels&) = delete;
  LayerPixels& operator=(const LayerPixels&) = delete;
  // The host takes back whatever a failed check-in leaves when the render
  // ends; there is nothing better to do with its answer here.
  ~LayerPixels() {
    if (checkedOut) cb->checkin_layer_pixels(inData->effect_ref, checkoutId);
  }
  PF_EffectWorld* World() const { return world; }

 private:
  PF_InData* inData;
  const PF_SmartRenderCallbacks* cb;
  SmartCheckout checkoutId;
  PF_EffectWorld* world = nullptr;
  bool checkedOut = false;
};

// The effect's descriptor of a host world (null stays null), with the
// format the host says it has recorded on it. The format must be one the
// effect renders and, for the integer ones, agree with the world's own deep
// flag; the descriptor shares the host's pixels.
class HostWorld {
 public:
  HostWorld(const PF_WorldSuite2* suite, const PF_EffectWorld* world) {
    if (world == nullptr) return;
    PF_PixelFormat format = 0;
    const PF_Err err = suite->PF_GetPixelFormat(world, &format);
    if (err != PF_Err_NONE) throw AEException(err, kPixelFormat);
    const bool deep = (world->world_flags & PF_WorldFlag_DEEP) != 0;
    descriptor = *world;
    if (format == PF_PixelFormat_ARGB32 && !deep) {
      RecordFormat(descriptor, PixelFormat::Argb8);
    } else if (format == PF_PixelFormat_ARGB64 && deep) {
      RecordFormat(descriptor, PixelFormat::Argb16);
    } else if (format == PF_PixelFormat_ARGB128) {
      RecordFormat(descriptor, PixelFormat::ArgbFloat);
    } else {
      throw AEException(PF_Err_BAD_CALLBACK_PARAM, kPixelFormat);
    }
    // A format the rows cannot hold would read past them.
    const int64_t rowBytes =
        descriptor.rowbytes < 0 ? -int64_t{descriptor.rowbytes} : int64_t{descriptor.rowbytes};
    if (descriptor.data != nullptr &&
        rowBytes <
            int64_t{descriptor.width} * static_cast<int64_t>(PixelBytes(FormatOf(&descriptor)))) {
      throw AEException(PF_Err_BAD_CALLBACK_PARAM, kPixelFormat);
    }
    held = true;
  }
  PF_EffectWorld* World() { return held ? &descriptor : nullptr; }

 private:
  PF_EffectWorld descriptor{};
  bool held = false;
};

bool SameGeometry(const PF_EffectWorld* a, const PF_EffectWorld* b) {
  return a->origin_x == b->origin_x && a->origin_y == b->origin_y && a->width == b->width &&
         a->height == b->height;
}

}  // namespace

void SmartPreRender(PF_InData* in_data, PF_PreRenderExtra* extra, const HostFacts& host) {
  if (in_data == nullptr || extra == nullptr || extra->input == nullptr ||
      extra->output == nullptr || extra->cb == nullptr || extra->cb->checkout_layer == nullptr) {
    throw AEException(PF_Err_BAD_CALLBACK_PARAM, kNoRecords);
  }
  const CheckedOutParams values(in_data);
  RenderRequest request;
  ReadRenderSettings(in_data, values, host, nullptr, request);
  const PF_LRect asked = extra->input->output_request.rect;

  // The control and custom-shape layers are read whole: the control layer
  // is placed over the whole frame, the shape scaled from all of itself.
  PF_CheckoutResult control{};
  CheckoutLayer(in_data, extra, ParamBCLLayer, kBCLCheckout, kWholeLayer, &control);
  PF_CheckoutResult shape{};
  CheckoutLayer(in_data, extra, ParamShapeLayer, kShapeCheckout, kWholeLayer, &shape);

  // A uniform blur reads half a kernel around what it writes. Under a
  // control layer and in the diagnostic views the picture depends on the
  // whole frame (where the layer is placed, where the kernel is centred),
  // so the whole input is asked for.
  const bool controlled = !IsEmpty(control.max_result_rect);
  const bool regional = request.view == OutputView::Normal && !controlled;
  const PF_LRect inputRect = regional ? Widened(asked, BlurReach(request.kernel)) : kWholeLayer;
  PF_CheckoutResult input{};
  CheckoutLayer(in_data, extra, ParamInput, kInputCheckout, IsEmpty(asked) ? PF_LRect{} : inputRect,
                &input);

  // The output is the input's size: the blur never grows the layer.
  PF_PreRenderOutput* out = extra->output;
  out->result_rect = Intersection(asked, input.max_result_rect);
  out->max_result_rect = input.max_result_rect;
  out->solid = false;
  out->flags = 0;
  out->pre_render_data = &thePreRenderMark;
  out->delete_pre_render_data_func = nullptr;
}

void SmartRender(PF_InData* in_data, PF_SmartRenderExtra* extra, const HostFacts& host) {
  if (in_data == nullptr || extra == nullptr || extra->input == nullptr || extra->cb == nullptr ||
      extra->cb->checkout_layer_pixels == nullptr || extra->cb->checkin_layer_pixels == nullptr ||
      extra->cb->checkout_output == nullptr) {
    throw AEException(PF_Err_BAD_CALLBACK_PARAM, kNoRecords);
  }
  if (extra->input->pre_render_data != &thePreRenderMark) {
    throw AEException(PF_Err_BAD_CALLBACK_PARAM, kNoPreRender);
  }
  const PF_SmartRenderCallbacks* cb = extra->cb;
  const CheckedOutParams values(in_data);
  const LayerPixels input(in_data, cb, kInputCheckout);
  const LayerPixels control(in_data, cb, kBCLCheckout);
  const LayerPixels shape(in_data, cb, kShapeCheckout);
  PF_EffectWorld* output = nullptr;
  const PF_Err err = cb->checkout_output(in_data->effect_ref, &output);
  if (err != PF_Err_NONE) throw AEException(err, kOutputCheckout);
  // Nothing of the layer was asked for.
  if (output == nullptr || output->data == nullptr || output->width < 1 || output->height < 1) {
    return;
  }
  SuiteHolder suites(in_data->pica_basicP);
  const auto* worldSuite =
      static_cast<const PF_WorldSuite2*>(suites.Get(SuiteHolder::PFWorldSuite2));
  HostWorld outputWorld(worldSuite, output);
  output = outputWorld.World();
  if (input.World() == nullptr) {
    ClearWorld(in_data, output);
    return;
  }
  HostWorld inputWorld(worldSuite, input.World());
  HostWorld controlWorld(worldSuite, control.World());
  HostWorld shapeWorld(worldSuite, shape.World());
  PF_EffectWorld* const inputPixels = inputWorld.World();
  if (FormatOf(inputPixels) != FormatOf(output)) {
    throw AEException(PF_Err_BAD_CALLBACK_PARAM, kPixelFormat);
  }

  RenderRequest request;
  request.inData = in_data;
  request.input = inputPixels;
  request.bclLayer = controlWorld.World();
  ReadRenderSettings(in_data, values, host, shapeWorld.World(), request);
  request.extent = HostRect(0, 0, inputPixels->width, inputPixels->height);

  // The render works in the input's pixels. When the host's output is laid
  // out as the input (a whole-frame request) it renders straight into it;
  // otherwise into a world laid out as the input, of which the output gets
  // its part.
  if (SameGeometry(inputPixels, output)) {
    request.output = output;
    RenderFrame(request);
    return;
  }
  AEWorld frame(in_data, inputPixels->width, inputPixels->height, FormatOf(output));
  request.output = frame.World();
  RenderFrame(request);
  ClearWorld(in_data, output);
  Blit(frame.World(), output, nullptr, inputPixels->origin_x - output->origin_x,
       inputPixels->origin_y - output->origin_y);
}

#endif  // QB_HOSTAPI_CURRENT
