// A scripted host for the shell's unit tests: it records every parameter
// the effect registers, every suite acquisition and release and every UI
// update, can refuse any of them, and lets a test look at PF_InData from
// inside a command (through add_param). Host callbacks carry no context, so
// the one live FakeHost is reached through a static pointer.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hostapi/PluginApi.h"
#include "shell/EntryPoint.h"
#include "shell/ParamIndices.h"

namespace fakehost {

struct SuiteCall {
  bool acquire;
  std::string name;
  int32_t version;
};

struct UIUpdate {
  PF_ParamIndex index;
  std::string name;
  PF_ParamUIFlags uiFlags;
};

// Handle callbacks over the C heap; each table counts its own calls so a
// test can tell which table the allocator uses.
template <int Table>
struct Handles {
  static inline long newCalls = 0;
  static PF_Handle New(A_u_long size) {
    ++newCalls;
    auto handle = static_cast<PF_Handle>(std::malloc(sizeof(void*)));
    *handle = std::malloc(size == 0 ? 1 : size);
    return handle;
  }
  static void* Lock(PF_Handle handle) { return *handle; }
  static void Unlock(PF_Handle) {}
  static void Dispose(PF_Handle handle) {
    std::free(*handle);
    std::free(handle);
  }
};

class FakeHost {
 public:
  template <int Table>
  void UseHandles() {
    utils.host_new_handle = &Handles<Table>::New;
    utils.host_lock_handle = &Handles<Table>::Lock;
    utils.host_unlock_handle = &Handles<Table>::Unlock;
    utils.host_dispose_handle = &Handles<Table>::Dispose;
  }

  FakeHost() {
    current = this;
    in.inter.add_param = &AddParam;
    in.utils = &utils;
    in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
    in.quality = PF_Quality_HI;
    in.version = PF_SpecVersion{13, 2};
    in.appl_id = 0x46414B45;  // 'FAKE'
    in.downsample_x = PF_RationalScale{1, 1};
    in.downsample_y = PF_RationalScale{1, 1};
    in.extent_hint = PF_Rect{0, 0, 100, 100};
    in.pica_basicP = &basic;
    utils.ansi.strcpy = &Strcpy;
    UseHandles<0>();
    basic.AcquireSuite = &AcquireSuite;
    basic.ReleaseSuite = &ReleaseSuite;
    paramUtils.PF_UpdateParamUI = &UpdateParamUI;
    for (int i = 0; i < ParamCount; ++i) {
      params[i] = PF_ParamDef{};
      paramList[i] = &params[i];
    }
    params[ParamUniformAmount].param_type = PF_Param_CHECKBOX;
    params[ParamUniformAmount].u.bd.value = 1;
  }
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;
  ~FakeHost() {
    if (current == this) current = nullptr;
  }

  PF_Err Call(PF_Cmd cmd, PF_LayerDef* output = nullptr, void* extra = nullptr) {
    return EffectMain(cmd, &in, &out, paramList, output, extra);
  }

  PF_InData in{};
  PF_OutData out{};
  PF_UtilCallbacks utils{};
  SPBasicSuite basic{};
  PF_ParamUtilsSuite1 paramUtils{};
  PF_ParamDef params[ParamCount];
  PF_ParamDef* paramList[ParamCount];

  // add_param
  std::vector<PF_ParamDef> added;
  std::vector<PF_InData> inDataSeenByAddParam;
  int refuseParamAt = -1;
  PF_Err refuseCode = PF_Err_OUT_OF_MEMORY;
  const char* messageOnRefusal = nullptr;  // what the host leaves in return_msg
  int strcpyCalls = 0;

  // suites
  std::vector<SuiteCall> suiteCalls;
  bool refuseSuites = false;
  std::vector<UIUpdate> uiUpdates;
  PF_ParamIndex failUpdateOf = -1;
  PF_Err updateError = PF_Err_INTERNAL_STRUCT_DAMAGED;

 private:
  static inline FakeHost* current = nullptr;

  static PF_Err AddParam(PF_ProgPtr, PF_ParamIndex index, PF_ParamDefPtr def) {
    FakeHost& h = *current;
    h.inDataSeenByAddParam.push_back(h.in);
    if (index != -1) return PF_Err_INVALID_INDEX;
    if (static_cast<int>(h.added.size()) == h.refuseParamAt) {
      if (h.messageOnRefusal != nullptr) std::strcpy(h.out.return_msg, h.messageOnRefusal);
      return h.refuseCode;
    }
    h.added.push_back(*def);
    return PF_Err_NONE;
  }
  static A_char* Strcpy(A_char* dst, const A_char* src) {
    ++current->strcpyCalls;
    return std::strcpy(dst, src);
  }
  static SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
    FakeHost& h = *current;
    h.suiteCalls.push_back({true, name, version});
    *suite = nullptr;
    if (h.refuseSuites || std::strcmp(name, kPFParamUtilsSuite) != 0 || version != 1) return 1;
    *suite = &h.paramUtils;
    return 0;
  }
  static SPErr ReleaseSuite(const char* name, int32_t version) {
    current->suiteCalls.push_back({false, name, version});
    return 0;
  }
  static PF_Err UpdateParamUI(PF_ProgPtr, PF_ParamIndex index, const PF_ParamDef* def) {
    FakeHost& h = *current;
    if (index == h.failUpdateOf) return h.updateError;
    h.uiUpdates.push_back({index, def->name, def->ui_flags});
    return PF_Err_NONE;
  }
};

}  // namespace fakehost
