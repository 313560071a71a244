// Host suites acquired through the basic suite for the length of one call.
// A suite is acquired on first use and released when the holder dies, under
// the same name and version, in the fixed order of the Suite enumeration.
// The holder owns its acquisitions and must not be copied.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"

class SuiteHolder {
 public:
  // Every suite the holder knows, in release order.
  enum Suite : int32_t {
    AEGPLayerSuite,
    AEGPStreamSuite,
    AEGPKeyframeSuite,
    AEGPCompSuite,
    AEGPProjSuite,
    AEGPCanvasSuite,
    AEGPCameraSuite,
    AEGPRegisterSuite,
    AEGPMemorySuite,
    AEGPItemSuite,
    AEGPPFInterfaceSuite,
    PFPathQuerySuite,
    PFPathDataSuite,
    PFParamUtilsSuite,
    PFAEAppSuite,
    AEGPLightSuite,
    AEGPEffectSuite,
    AEGPLayerMaskSuite,
    AEGPMaskOutlineSuite,
    AEGPFootageSuite,
    AEGPCommandSuite,
    AEGPUtilitySuite,
    PFANSISuite,
    PFHandleSuite,
    PFFillMatteSuite,
    PFWorldTransformSuite,
    AEGPCompositeSuite,
    PFWorldSuite,
    AEGPIOInSuite,
    AEGPIOOutSuite,
    AEGPRenderQueueSuite,
    AEGPFileImportManagerSuite,
    PFSampling8Suite,
    PFSampling16Suite,
    PFIterate8Suite,
    PFIterate16Suite,
    AEGPCollectionSuite,
    PFWorldSuite2,  // version 2: pixel formats for SmartFX worlds
    SuiteCount,
  };

  // Throws SuiteNotFound when the host has no basic suite.
  explicit SuiteHolder(SPBasicSuite* basic);
  SuiteHolder(const SuiteHolder&) = delete;
  SuiteHolder& operator=(const SuiteHolder&) = delete;
  virtual ~SuiteHolder();

  // One acquisition through the basic suite; the caller owns its release.
  // Throws SuiteNotFound when the host refuses or answers null.
  const void* Acquire(const char* name, int32_t version);

  // The suite, acquired on first use and held until destruction.
  const void* Get(Suite suite);
  const PF_ParamUtilsSuite1* ParamUtils() {
    return static_cast<const PF_ParamUtilsSuite1*>(Get(PFParamUtilsSuite));
  }

  static const char* Name(Suite suite);
  static int32_t Version(Suite suite);

 private:
  SPBasicSuite* basic;
  const void* suites[SuiteCount];
};
