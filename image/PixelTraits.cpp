#include "image/PixelTraits.h"

#include "image/HostSuite.h"

PF_Err PixelTraits<PF_PixelFloat>::Iterate(PF_InData* inData, A_long progressBase,
                                           A_long progressFinal, PF_EffectWorld* src,
                                           const PF_Rect* area, void* refcon,
                                           IterateFunction function, PF_EffectWorld* dst) {
#ifdef QB_HOSTAPI_CURRENT
  const HostSuite held(inData, kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1);
  const auto* suite = held.Get<PF_IterateFloatSuite1>();
  if (suite == nullptr || suite->iterate == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  return suite->iterate(inData, progressBase, progressFinal, src, area, refcon, function, dst);
#else
  // Float worlds reach only the current generation's SmartFX render.
  (void)inData, (void)progressBase, (void)progressFinal, (void)src, (void)area, (void)refcon,
      (void)function, (void)dst;
  return PF_Err_BAD_CALLBACK_PARAM;
#endif
}
