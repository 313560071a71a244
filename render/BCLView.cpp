#include "render/BCLView.h"

#include "convolution/controllayer/BCL.h"
#include "image/PixelTraits.h"

namespace {

template <typename Pixel>
void RenderBCLViewOf(PF_InData* in_data, PF_EffectWorld* input, PF_EffectWorld* output,
                     PF_EffectWorld* bclWorld, const BCLSettings& bcl) {
  using Channel = typename PixelTraits<Pixel>::Channel;
  BCLImage image;
  image.Init(in_data, input, bclWorld, bcl);
  // Every input pixel is sampled, also where the output is smaller.
  for (int32_t x = 0; x < input->width; ++x) {
    for (int32_t y = 0; y < input->height; ++y) {
      int32_t control = 0;
      image.SampleAmount(x, y, &control);
      if (x >= output->width || y >= output->height) continue;
      const Channel grey = static_cast<Channel>(control);
      *PixelAt<Pixel>(output, x, y) =
          Pixel{static_cast<Channel>(PixelTraits<Pixel>::kMax), grey, grey, grey};
    }
  }
}

}  // namespace

void RenderBCLView(PF_InData* in_data, PF_EffectWorld* input, PF_EffectWorld* output,
                   PF_EffectWorld* bclWorld, const BCLSettings& bcl) {
  DispatchControlPixel(FormatOf(output), [&]<typename Pixel>() {
    RenderBCLViewOf<Pixel>(in_data, input, output, bclWorld, bcl);
  });
}
