#include "shell/HostInfo.h"

namespace {
HostInfo theHostInfo;
}

const HostInfo& GetHostInfo() { return theHostInfo; }

void RecordHostInfo(const PF_InData* in_data) {
  theHostInfo.applId = in_data->appl_id;
  theHostInfo.majorVersion = in_data->version.major;
  theHostInfo.minorVersion = in_data->version.minor;
  theHostInfo.recorded = true;
}

void ResetHostInfo() { theHostInfo = HostInfo{}; }

int32_t HostMajorVersion() { return theHostInfo.majorVersion; }

HostFacts GetHostFacts() { return HostFacts{theHostInfo.majorVersion}; }

bool HostIsKeyG() { return theHostInfo.recorded && theHostInfo.applId == kApplIdKeyG; }
