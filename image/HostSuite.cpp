#include "image/HostSuite.h"

HostSuite::HostSuite(PF_InData* inData, const char* suiteName, int32_t suiteVersion)
    : name(suiteName), version(suiteVersion) {
  if (inData == nullptr || inData->pica_basicP == nullptr ||
      inData->pica_basicP->AcquireSuite == nullptr) {
    return;
  }
  const void* acquired = nullptr;
  if (inData->pica_basicP->AcquireSuite(name, version, &acquired) != 0 || acquired == nullptr) {
    return;
  }
  basic = inData->pica_basicP;
  suite = acquired;
}

HostSuite::~HostSuite() {
  if (suite != nullptr && basic->ReleaseSuite != nullptr) basic->ReleaseSuite(name, version);
}
