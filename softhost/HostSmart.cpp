// SmartFX: pre-render and smart render of one frame, the layer and output
// checkouts, and "PF World Suite" 2. Each frame has its own Frame (the
// effect_ref of its two commands), in_data and out_data, so frames of one
// Host can render on several threads at once; the Host's shared state is
// reached under its mutex or through atomics.
#include "softhost/HostInternal.h"

#ifdef QB_HOSTAPI_CURRENT

#include <algorithm>
#include <mutex>

namespace softhost {
namespace {

constexpr A_long kAllChannels = 0xF;

PF_LRect Clip(const PF_LRect& r, A_long width, A_long height) {
  PF_LRect c{std::max<A_long>(r.left, 0), std::max<A_long>(r.top, 0),
             std::min<A_long>(r.right, width), std::min<A_long>(r.bottom, height)};
  if (c.right <= c.left || c.bottom <= c.top) c = PF_LRect{0, 0, 0, 0};
  return c;
}

bool Empty(const PF_LRect& r) { return r.right <= r.left || r.bottom <= r.top; }

// The part `rect` (already inside `world`) of a world, as a world of its
// own whose first pixel lies at the rectangle's top-left corner.
PF_EffectWorld View(const PF_EffectWorld& world, const PF_LRect& rect, bool writeable) {
  PF_EffectWorld view = world;
  const size_t pixel = PixelSize(WorldFormat(&world));
  view.data = static_cast<char*>(world.data) + static_cast<intptr_t>(rect.top) * world.rowbytes +
              static_cast<size_t>(rect.left) * pixel;
  view.width = rect.right - rect.left;
  view.height = rect.bottom - rect.top;
  view.extent_hint = HostRect(0, 0, view.width, view.height);
  view.origin_x = rect.left;
  view.origin_y = rect.top;
  view.world_flags = writeable ? (world.world_flags | PF_WorldFlag_WRITEABLE)
                               : (world.world_flags & ~PF_WorldFlag_WRITEABLE);
  return view;
}

}  // namespace

void Host::Impl::InstallSmartCallbacks(Host* host) {
  host->worldSuite = PF_WorldSuite2{&SuiteNewWorld, &SuiteDisposeWorld, &GetPixelFormat};
  host->iterateFloatSuite =
      PF_IterateFloatSuite1{&IterateFloat, &IterateOriginFloat, &IterateOriginFloat};
}

PF_Err Host::Impl::CheckoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkout_id,
                                 const PF_RenderRequest* request, A_long, A_long, A_u_long,
                                 PF_CheckoutResult* result) {
  Host* host = From(ref);
  if (!host || !request || !result) return PF_Err_BAD_CALLBACK_PARAM;
  Frame& frame = *FrameOf(ref);
  if (frame.phase != Frame::Phase::PreRender) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountCheckoutLayer, host->faults.failCheckoutLayerAt)) {
    return host->faults.failCode;
  }
  if (checkout_id < 0 || frame.checkouts.count(checkout_id) != 0) return PF_Err_BAD_CALLBACK_PARAM;

  Frame::Checkout checkout;
  {
    std::lock_guard<std::mutex> lock(host->mutex);
    if (index < 0 || static_cast<size_t>(index) >= host->params.size()) {
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (index != 0 && host->params[static_cast<size_t>(index)].param_type != PF_Param_LAYER) {
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    const LayerChoice choice = index == 0 ? LayerChoice{LayerChoice::Self, nullptr}
                               : static_cast<size_t>(index) < host->layers.size()
                                   ? host->layers[static_cast<size_t>(index)]
                                   : LayerChoice{};
    const PF_EffectWorld* layer = choice.kind == LayerChoice::Self    ? host->input
                                  : choice.kind == LayerChoice::Image ? choice.image
                                                                      : nullptr;
    if (layer && layer->data) {
      checkout.layer = *layer;
      checkout.hasLayer = true;
    }
  }
  *result = PF_CheckoutResult{};
  result->par = PF_RationalScale{1, 1};
  if (checkout.hasLayer) {
    checkout.rect = Clip(request->rect, checkout.layer.width, checkout.layer.height);
    result->result_rect = checkout.rect;
    result->max_result_rect = PF_LRect{0, 0, checkout.layer.width, checkout.layer.height};
    result->ref_width = checkout.layer.width;
    result->ref_height = checkout.layer.height;
  }
  frame.checkouts.emplace(checkout_id, checkout);
  return PF_Err_NONE;
}

PF_Err Host::Impl::GuidMixIn(PF_ProgPtr ref, A_u_long, const void*) {
  return From(ref) ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err Host::Impl::CheckoutLayerPixels(PF_ProgPtr ref, A_long checkout_id,
                                       PF_EffectWorld** pixels) {
  Host* host = From(ref);
  if (!host || !pixels) return PF_Err_BAD_CALLBACK_PARAM;
  *pixels = nullptr;
  Frame& frame = *FrameOf(ref);
  if (frame.phase != Frame::Phase::Render) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountLayerPixels, host->faults.failLayerPixelsAt)) {
    return host->faults.failCode;
  }
  auto found = frame.checkouts.find(checkout_id);
  // Only what pre-render checked out, and each once at a time.
  if (found == frame.checkouts.end() || found->second.pixelsOut) return PF_Err_BAD_CALLBACK_PARAM;
  Frame::Checkout& checkout = found->second;
  checkout.pixelsOut = true;
  ++host->checkedOut;
  if (checkout.hasLayer && !Empty(checkout.rect)) {
    checkout.view = View(checkout.layer, checkout.rect, false);
    *pixels = &checkout.view;
  }
  return PF_Err_NONE;
}

PF_Err Host::Impl::CheckinLayerPixels(PF_ProgPtr ref, A_long checkout_id) {
  Host* host = From(ref);
  if (!host) return PF_Err_BAD_CALLBACK_PARAM;
  Frame& frame = *FrameOf(ref);
  if (Fires(host, kCountCheckinPixels, host->faults.failCheckinPixelsAt)) {
    return host->faults.failCode;
  }
  auto found = frame.checkouts.find(checkout_id);
  if (found == frame.checkouts.end() || !found->second.pixelsOut) return PF_Err_BAD_CALLBACK_PARAM;
  found->second.pixelsOut = false;
  --host->checkedOut;
  return PF_Err_NONE;
}

PF_Err Host::Impl::CheckoutOutput(PF_ProgPtr ref, PF_EffectWorld** output) {
  Host* host = From(ref);
  if (!host || !output) return PF_Err_BAD_CALLBACK_PARAM;
  *output = nullptr;
  Frame& frame = *FrameOf(ref);
  if (frame.phase != Frame::Phase::Render || !frame.output) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountOutput, host->faults.failOutputAt)) return host->faults.failCode;
  // The output only after an input, as the SDK requires.
  const bool anyInput = std::any_of(frame.checkouts.begin(), frame.checkouts.end(),
                                    [](const auto& c) { return c.second.pixelsOut; });
  if (!anyInput) return PF_Err_BAD_CALLBACK_PARAM;
  const PF_LRect rect = Clip(frame.resultRect, frame.output->width, frame.output->height);
  if (Empty(rect)) return PF_Err_NONE;
  frame.outputView = View(*frame.output, rect, true);
  *output = &frame.outputView;
  return PF_Err_NONE;
}

PF_Err Host::Impl::SuiteNewWorld(PF_ProgPtr ref, A_long width, A_long height, PF_Boolean clear,
                                 PF_PixelFormat format, PF_EffectWorld* world) {
  // New worlds are always cleared here.
  (void)clear;
  switch (format) {
    case PF_PixelFormat_ARGB32:
      return NewWorldOf(ref, width, height, PixelFormat::Argb8, world);
    case PF_PixelFormat_ARGB64:
      return NewWorldOf(ref, width, height, PixelFormat::Argb16, world);
    case PF_PixelFormat_ARGB128:
      return NewWorldOf(ref, width, height, PixelFormat::ArgbFloat, world);
    default:
      return PF_Err_BAD_CALLBACK_PARAM;
  }
}

PF_Err Host::Impl::SuiteDisposeWorld(PF_ProgPtr ref, PF_EffectWorld* world) {
  return DisposeWorld(ref, world);
}

PF_Err Host::Impl::GetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
  Host* host = Current();
  if (!host || !world || !format) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountPixelFormat, host->faults.failPixelFormatAt)) {
    return host->faults.failCode;
  }
  const PixelFormat held = WorldFormat(world);
  *format = host->faults.floatPixels || held == PixelFormat::ArgbFloat ? PF_PixelFormat_ARGB128
            : held == PixelFormat::Argb16                              ? PF_PixelFormat_ARGB64
                                                                       : PF_PixelFormat_ARGB32;
  return PF_Err_NONE;
}

void Host::Impl::EndFrame(Frame& frame) {
  for (auto& [id, checkout] : frame.checkouts) {
    if (!checkout.pixelsOut) continue;
    checkout.pixelsOut = false;
    --frame.host->checkedOut;
    ++frame.host->unreturnedLayers;
  }
  frame.phase = Frame::Phase::None;
}

PF_Err Host::SmartRender(PF_EffectMainFunc entry, PF_EffectWorld* output, PF_OutData* out) {
  if (!entry) return PF_Err_INVALID_CALLBACK;
  if (!out) out = &outData;
  Frame frame(this);
  PF_InData in{};
  {
    std::lock_guard<std::mutex> lock(mutex);
    Impl::PrepareInData(this, output, &frame, in);
  }
  // Global and sequence data are not the effect's to write while frames
  // render at once.
  in.sequence_data = nullptr;
  out->return_msg[0] = '\0';

  PF_RenderRequest request{};
  request.rect = config.requestSet ? config.request
                 : output          ? PF_LRect{0, 0, output->width, output->height}
                                   : PF_LRect{0, 0, 0, 0};
  request.channel_mask = kAllChannels;
  const PixelFormat outputFormat = output ? WorldFormat(output) : PixelFormat::Argb8;
  const A_short bitdepth = outputFormat == PixelFormat::ArgbFloat ? 32
                           : outputFormat == PixelFormat::Argb16  ? 16
                                                                  : 8;

  void* preRenderData = nullptr;
  PF_DeletePreRenderDataFunc deletePreRenderData = nullptr;
  if (!faults.skipPreRender) {
    PF_PreRenderInput preInput{};
    preInput.output_request = request;
    preInput.bitdepth = bitdepth;
    PF_PreRenderOutput preOutput{};
    PF_PreRenderCallbacks preCallbacks{&Impl::CheckoutLayer, &Impl::GuidMixIn};
    PF_PreRenderExtra pre{&preInput, &preOutput, &preCallbacks};
    frame.phase = Frame::Phase::PreRender;
    const PF_Err err =
        Impl::Send(this, entry, PF_Cmd_SMART_PRE_RENDER, &in, out, nullptr, nullptr, &pre);
    frame.phase = Frame::Phase::None;
    if (err != PF_Err_NONE) {
      if (preOutput.delete_pre_render_data_func) {
        preOutput.delete_pre_render_data_func(preOutput.pre_render_data);
      }
      return err;
    }
    frame.resultRect = preOutput.result_rect;
    preRenderData = preOutput.pre_render_data;
    deletePreRenderData = preOutput.delete_pre_render_data_func;
  }

  PF_SmartRenderInput renderInput{};
  renderInput.output_request = request;
  renderInput.bitdepth = bitdepth;
  renderInput.pre_render_data = preRenderData;
  PF_SmartRenderCallbacks renderCallbacks{&Impl::CheckoutLayerPixels, &Impl::CheckinLayerPixels,
                                          &Impl::CheckoutOutput};
  PF_SmartRenderExtra render{&renderInput, &renderCallbacks};
  frame.phase = Frame::Phase::Render;
  frame.output = output;
  const PF_Err err =
      Impl::Send(this, entry, PF_Cmd_SMART_RENDER, &in, out, nullptr, nullptr, &render);
  Impl::EndFrame(frame);
  if (deletePreRenderData) deletePreRenderData(preRenderData);
  return err;
}

}  // namespace softhost

#endif  // QB_HOSTAPI_CURRENT
