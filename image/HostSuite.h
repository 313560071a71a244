// One host suite held for the life of the object: acquired through the
// basic suite when made, released under the same name and version when
// destroyed. Get() is null where the host does not offer the suite. Not
// copyable: the object owns its acquisition.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"

class HostSuite {
 public:
  HostSuite(PF_InData* inData, const char* name, int32_t version);
  HostSuite(const HostSuite&) = delete;
  HostSuite& operator=(const HostSuite&) = delete;
  ~HostSuite();

  template <typename Suite>
  const Suite* Get() const {
    return static_cast<const Suite*>(suite);
  }

 private:
  SPBasicSuite* basic = nullptr;
  const char* name;
  int32_t version;
  const void* suite = nullptr;
};
