#include "render/BlurRender.h"

#include <cstdint>

#include "convolution/Convolve.h"
#include "image/AEException.h"
#include "image/AEWorld.h"
#include "image/Containers.h"
#include "image/Drawing.h"
#include "render/KernelMakers.h"

namespace {

KernelReach ReachOf(KernelMaker& maker, const KernelSettings& settings) {
  int32_t kw = 0;
  int32_t kh = 0;
  maker.GetKernelSize(settings.hAmount, settings.vAmount, &kw, &kh);
  return KernelReach{kw / 2, kh / 2};
}

}  // namespace

KernelReach BlurReach(const KernelSettings& settings) {
  AEObjectAutoPointer<KernelMaker> maker(MakeKernelMaker(settings));
  return ReachOf(*maker, settings);
}

void RenderBlur(PF_InData* in_data, PF_EffectWorld* input, PF_EffectWorld* output,
                PF_EffectWorld* bclWorld, const BCLSettings& bcl, const KernelSettings& requested,
                const PF_Rect& hint, const ConvolvePlan& plan) {
  KernelSettings settings = requested;
  bool outputCleared = plan.destination == DestinationState::Cleared;
  auto clearOutput = [&] {
    if (outputCleared) return;
    ClearWorld(in_data, output);
    outputCleared = true;
  };
  AEObjectAutoPointer<KernelMaker> maker(MakeKernelMaker(settings));

  KernelHolderFactory factory;
  if (bclWorld != nullptr) {
    factory.useBCL = true;
    factory.inData = in_data;
    factory.source = input;
    factory.bclWorld = bclWorld;
    factory.bcl = bcl;
  }

  // The region that reaches the extent hint: the hint widened by half the
  // kernel, clipped to the image. The arithmetic is in the coordinates of the
  // generation's host rectangle (16-bit in 12.x, where it wraps as that host
  // does; 32-bit in the current one), each step narrowed to them.
  using Coord = PF_RectCoord;
  auto narrow = [](int64_t v) { return static_cast<Coord>(v); };
  const KernelReach reach = ReachOf(*maker, settings);
  const Coord hw = narrow(reach.x);
  const Coord hh = narrow(reach.y);
  Coord left = narrow(int64_t{hint.left} - hw);
  if (left < 0) left = 0;
  Coord top = narrow(int64_t{hint.top} - hh);
  if (top < 0) top = 0;
  Coord right = narrow(int64_t{hint.right} + hw);
  if (right > input->width) right = narrow(input->width);
  Coord bottom = narrow(int64_t{hint.bottom} + hh);
  if (bottom > input->height) bottom = narrow(input->height);
  const Coord regionWidth = narrow(int64_t{right} - left);
  const Coord regionHeight = narrow(int64_t{bottom} - top);
  if (regionWidth == 0 || regionHeight == 0) {
    // Code 0: the render succeeds with the cleared output.
    clearOutput();
    throw AEException(0, "Extent hint giving bogus values dude! :(");
  }

  // The fast engine's uniform paths read the host's input as it stands,
  // treating colour under transparent pixels as 0 while they load it, and
  // write every output pixel, which saves a frame-sized copy and clearing the
  // output. Under a control layer the separable shapes' record path (the
  // cross's arms too) and the 2D shapes' scatter do the same (cleaning a copy
  // and clearing the output only where they fall back to the straightforward
  // loops). Everything else convolves a cleaned private copy into a cleared
  // output.
  const bool wholeFrame = regionWidth >= input->width && regionHeight >= input->height;
  if (wholeFrame && plan.Fast()) {
    ConvolvePlan direct = plan;
    direct.maskTransparentSource = true;
    ConvolveImage(maker.Get(), input, output, &settings, &factory, direct);
    return;
  }
  // Every destination below has just been cleared: the output here, the
  // region's by its fill.
  clearOutput();
  const ConvolvePlan cleared = plan.Into(DestinationState::Cleared);
  if (wholeFrame) {
    AEWorld copy(in_data);
    copy.CopyFrom(input);
    ClearColourUnderTransparent(copy.World());
    ConvolveImage(maker.Get(), copy.World(), output, &settings, &factory, cleared);
    return;
  }
  AEWorld sub(in_data, regionWidth, regionHeight, FormatOf(input));
  sub.BlitFrom(input, -left, -top);
  ClearColourUnderTransparent(sub.World());
  AEWorld subOut(in_data, regionWidth, regionHeight, FormatOf(output));
  ClearWorld(in_data, subOut.World());
  ConvolveImage(maker.Get(), sub.World(), subOut.World(), &settings, &factory, cleared);
  AEWorld out(in_data, output, false);
  out.BlitFrom(subOut.World(), left, top);
}
