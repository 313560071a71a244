// The Host object: command calls, parameters and layer checkout, abort and
// progress, and the basic suite with "PF Param Utils Suite".
#include <cstdlib>
#include <cstring>

#include "softhost/HostInternal.h"

namespace softhost {
namespace {

// Error codes of the basic suite (four-character codes).
constexpr SPErr kSPNoError = 0;
constexpr SPErr kSPSuiteNotFoundError = 0x53214664;  // 'S!Fd'
constexpr SPErr kSPBadParameterError = 0x5061726d;   // 'Parm'
constexpr SPErr kSPOutOfMemoryError = 0x214d454d;    // '!MEM'
constexpr SPErr kSPUnimplementedError = 0x21494d50;  // '!IMP'

// Suite functions carry no context: they serve the Host whose command is
// running on this thread.
thread_local Host* tCurrentHost = nullptr;

A_char* AnsiStrcpy(A_char* dst, const A_char* src) { return std::strcpy(dst, src); }

SPBoolean IsEqual(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

SPErr AllocateBlock(size_t size, void** block) {
  if (!block) return kSPBadParameterError;
  *block = std::malloc(size ? size : 1);
  return *block ? kSPNoError : kSPOutOfMemoryError;
}

SPErr FreeBlock(void* block) {
  std::free(block);
  return kSPNoError;
}

SPErr ReallocateBlock(void* block, size_t newSize, void** newBlock) {
  if (!newBlock) return kSPBadParameterError;
  void* moved = std::realloc(block, newSize ? newSize : 1);
  if (!moved) return kSPOutOfMemoryError;
  *newBlock = moved;
  return kSPNoError;
}

SPErr Undefined() { return kSPUnimplementedError; }

bool IsParamUtils(const char* name, int32_t version) {
  return name && std::strcmp(name, kPFParamUtilsSuite) == 0 &&
         version == kPFParamUtilsSuiteVersion1;
}

bool IsWorldSuite2(const char* name, int32_t version) {
#ifdef QB_HOSTAPI_CURRENT
  return name && std::strcmp(name, kPFWorldSuite) == 0 && version == kPFWorldSuiteVersion2;
#else
  (void)name;
  (void)version;
  return false;
#endif
}

bool IsIterateFloatSuite(const char* name, int32_t version) {
#ifdef QB_HOSTAPI_CURRENT
  return name && std::strcmp(name, kPFIterateFloatSuite) == 0 &&
         version == kPFIterateFloatSuiteVersion1;
#else
  (void)name;
  (void)version;
  return false;
#endif
}

// Sets the thread's current Host for the length of one command.
class CurrentHostScope {
 public:
  explicit CurrentHostScope(Host* host) : previous(tCurrentHost) { tCurrentHost = host; }
  CurrentHostScope(const CurrentHostScope&) = delete;
  CurrentHostScope& operator=(const CurrentHostScope&) = delete;
  ~CurrentHostScope() { tCurrentHost = previous; }

 private:
  Host* previous;
};

PF_Rect WholeRect(const PF_EffectWorld* world) {
  if (!world) return PF_Rect{};
  return HostRect(0, 0, world->width, world->height);
}

}  // namespace

Host* Host::Impl::Current() { return tCurrentHost; }

PF_Err Host::Impl::Send(Host* host, PF_EffectMainFunc entry, PF_Cmd cmd, PF_InData* in,
                        PF_OutData* out, PF_ParamDef** params, PF_EffectWorld* output,
                        void* extra) {
  const CurrentHostScope current(host);
  return entry(cmd, in, out, params, output, extra);
}

bool Host::Impl::Fires(Host* host, CallCounter counter, int failAt) {
  const long call = host->callCounters[counter]++;
  return failAt >= 0 && call == failAt;
}

PF_Err Host::Impl::Poll(Host* host) {
  const long poll = host->abortPolls++;
  if (host->faults.abortAfterPolls >= 0 && poll >= host->faults.abortAfterPolls) {
    return host->faults.abortCode;
  }
  return PF_Err_NONE;
}

void Host::Impl::InstallCallbacks(Host* host) {
  PF_UtilCallbacks& u = host->utils;
  u = PF_UtilCallbacks{};
  u.area_sample = &AreaSample;
  u.convolve = &Convolve;
  u.fill = &Fill;
  u.gaussian_kernel = &GaussianKernel;
  u.iterate = &Iterate;
  u.new_world = &NewWorld;
  u.dispose_world = &DisposeWorld;
  u.host_new_handle = &HostNewHandle;
  u.host_lock_handle = &HostLockHandle;
  u.host_unlock_handle = &HostUnlockHandle;
  u.host_dispose_handle = &HostDisposeHandle;
  u.ansi.strcpy = &AnsiStrcpy;
  u.area_sample16 = &AreaSample16;
  u.iterate16 = &Iterate16;
  u.iterate_origin16 = &IterateOrigin16;

  PF_InteractCallbacks& inter = host->inData.inter;
  inter = PF_InteractCallbacks{};
  inter.checkout_param = &CheckoutParam;
  inter.checkin_param = &CheckinParam;
  inter.add_param = &AddParam;
  inter.abort = &Abort;
  inter.progress = &Progress;

  host->basic = SPBasicSuite{&AcquireSuite, &ReleaseSuite,    &IsEqual,  &AllocateBlock,
                             &FreeBlock,    &ReallocateBlock, &Undefined};
  host->paramUtils = PF_ParamUtilsSuite1{};
  host->paramUtils.PF_UpdateParamUI = &UpdateParamUI;
#ifdef QB_HOSTAPI_CURRENT
  InstallSmartCallbacks(host);
#endif
}

void Host::Impl::ResolvePointDefaults(Host* host) {
  if (!host->input) return;
  for (size_t i = 0; i < host->params.size(); ++i) {
    if (!host->pointPending[i]) continue;
    PF_PointDef& point = host->params[i].u.td;
    point.x_value =
        static_cast<PF_Fixed>(static_cast<int64_t>(point.x_dephault) * host->input->width / 100);
    point.y_value =
        static_cast<PF_Fixed>(static_cast<int64_t>(point.y_dephault) * host->input->height / 100);
    host->pointPending[i] = false;
  }
}

Host::Host(const HostConfig& hostConfig)
    : config(hostConfig), commandFrame(std::make_unique<Frame>(this)) {
  Impl::InstallCallbacks(this);
  Impl::PrepareInData(this, nullptr, commandFrame.get(), inData);
  params.reserve(64);  // the effect may hold params[] while add_param appends
  PF_ParamDef layer{};
  layer.param_type = PF_Param_LAYER;
  layer.u.ld.dephault = PF_LayerDefault_MYSELF;
  params.push_back(layer);
  layers.push_back(LayerChoice{LayerChoice::Self, nullptr});
  pointPending.push_back(false);
}

Host::~Host() = default;

void Host::ResetFaultCounters() {
  for (auto& counter : callCounters) counter = 0;
  abortPolls = 0;
}

Host::SmartCalls Host::SmartCallCounts() const {
  SmartCalls calls;
  calls.checkoutLayer = callCounters[kCountCheckoutLayer].load();
  calls.layerPixels = callCounters[kCountLayerPixels].load();
  calls.checkinPixels = callCounters[kCountCheckinPixels].load();
  calls.output = callCounters[kCountOutput].load();
  calls.pixelFormat = callCounters[kCountPixelFormat].load();
  return calls;
}

void Host::SetLayer(PF_ParamIndex index, LayerChoice choice) {
  if (index < 0) return;
  std::lock_guard<std::mutex> lock(mutex);
  if (static_cast<size_t>(index) >= layers.size()) layers.resize(static_cast<size_t>(index) + 1);
  layers[static_cast<size_t>(index)] = choice;
}

void Host::SetInput(const PF_EffectWorld* world) {
  std::lock_guard<std::mutex> lock(mutex);
  input = world;
  Impl::ResolvePointDefaults(this);
}

void Host::Impl::PrepareInData(Host* host, const PF_EffectWorld* output, Frame* frame,
                               PF_InData& in) {
  const HostConfig& config = host->config;
  const PF_EffectWorld* input = host->input;
  in.inter = host->inData.inter;
  in.utils = &host->utils;
  in.effect_ref = Ref(frame);
  in.quality = config.quality;
  in.version = PF_SpecVersion{config.majorVersion, config.minorVersion};
  in.appl_id = config.applId;
  in.num_params = static_cast<A_long>(host->params.size());
  in.current_time = config.currentTime;
  in.time_step = config.timeStep;
  in.local_time_step = config.timeStep;
  in.total_time = config.currentTime + config.timeStep;
  in.time_scale = config.timeScale;
  in.width = input ? input->width : (output ? output->width : 0);
  in.height = input ? input->height : (output ? output->height : 0);
  in.extent_hint = config.extentHintSet ? config.extentHint : WholeRect(output ? output : input);
  in.output_origin_x = 0;
  in.output_origin_y = 0;
  in.downsample_x = config.downsampleX;
  in.downsample_y = config.downsampleY;
  in.pixel_aspect_ratio = PF_RationalScale{1, 1};
  in.pica_basicP = host->faults.noBasicSuite ? nullptr : &host->basic;
  in.pre_effect_source_origin_x = config.preEffectOriginX;
  in.pre_effect_source_origin_y = config.preEffectOriginY;
  in.global_data = host->outData.global_data;
  in.sequence_data = host->outData.sequence_data;
}

PF_Err Host::Call(PF_EffectMainFunc entry, PF_Cmd cmd, PF_EffectWorld* output, void* extra) {
  if (!entry) return PF_Err_INVALID_CALLBACK;
  Impl::PrepareInData(this, output, commandFrame.get(), inData);
  outData.return_msg[0] = '\0';

  // The input layer as the effect sees it in params[0]: read-only.
  PF_ParamDef& inputParam = params[0];
  inputParam.u.ld = input ? *input : PF_LayerDef{};
  inputParam.u.ld.world_flags &= ~PF_WorldFlag_WRITEABLE;
  inputParam.u.ld.dephault = PF_LayerDefault_MYSELF;
  std::vector<PF_ParamDef*> list;
  list.reserve(params.size());
  for (PF_ParamDef& param : params) list.push_back(&param);

  return Impl::Send(this, entry, cmd, &inData, &outData, list.data(), output, extra);
}

PF_Err Host::Setup(PF_EffectMainFunc entry) {
  const PF_Err err = Call(entry, PF_Cmd_GLOBAL_SETUP);
  if (err != PF_Err_NONE) return err;
  return Call(entry, PF_Cmd_PARAMS_SETUP);
}

PF_Err Host::Render(PF_EffectMainFunc entry, PF_EffectWorld* output) {
#ifdef QB_HOSTAPI_CURRENT
  if (config.renderPath == RenderPath::Smart) return SmartRender(entry, output);
#endif
  return Call(entry, PF_Cmd_RENDER, output);
}

PF_Err Host::Impl::AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def) {
  Host* host = From(ref);
  if (!host || !def) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountAddParam, host->faults.refuseParamAt)) return host->faults.failCode;
  std::lock_guard<std::mutex> lock(host->mutex);
  if (index != -1 && index != static_cast<PF_ParamIndex>(host->params.size())) {
    return PF_Err_INVALID_INDEX;
  }
  host->params.push_back(*def);
  LayerChoice choice;
  if (def->param_type == PF_Param_LAYER && def->u.ld.dephault == PF_LayerDefault_MYSELF) {
    choice.kind = LayerChoice::Self;
  }
  if (host->layers.size() < host->params.size()) host->layers.resize(host->params.size());
  host->layers[host->params.size() - 1] = choice;
  host->pointPending.push_back(def->param_type == PF_Param_POINT);
  ResolvePointDefaults(host);
  return PF_Err_NONE;
}

PF_Err Host::Impl::CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long, A_long, A_u_long,
                                 PF_ParamDef* param) {
  Host* host = From(ref);
  if (!host || !param) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountCheckout, host->faults.failCheckoutAt)) return host->faults.failCode;
  std::lock_guard<std::mutex> lock(host->mutex);
  if (index < 0 || static_cast<size_t>(index) >= host->params.size()) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  *param = host->params[static_cast<size_t>(index)];
  if (param->param_type != PF_Param_LAYER) return PF_Err_NONE;

  const LayerChoice choice =
      static_cast<size_t>(index) < host->layers.size() ? host->layers[index] : LayerChoice{};
  const A_long dephault = param->u.ld.dephault;
  PF_LayerDef layer{};
  if (choice.kind == LayerChoice::Self && host->input) layer = *host->input;
  if (choice.kind == LayerChoice::Image && choice.image) layer = *choice.image;
  layer.world_flags &= ~PF_WorldFlag_WRITEABLE;
  layer.dephault = dephault;
  param->u.ld = layer;
  ++host->checkedOut;
  return PF_Err_NONE;
}

PF_Err Host::Impl::CheckinParam(PF_ProgPtr ref, PF_ParamDef* param) {
  Host* host = From(ref);
  if (!host || !param) return PF_Err_BAD_CALLBACK_PARAM;
  if (param->param_type != PF_Param_LAYER) return PF_Err_NONE;
  std::lock_guard<std::mutex> lock(host->mutex);
  // Checking in more layers than were checked out is the effect's bug.
  if (host->checkedOut <= 0) return PF_Err_BAD_CALLBACK_PARAM;
  --host->checkedOut;
  return PF_Err_NONE;
}

PF_Err Host::Impl::Abort(PF_ProgPtr ref) {
  Host* host = From(ref);
  if (!host) return PF_Err_BAD_CALLBACK_PARAM;
  return Poll(host);
}

PF_Err Host::Impl::Progress(PF_ProgPtr ref, A_long current, A_long total) {
  Host* host = From(ref);
  if (!host) return PF_Err_BAD_CALLBACK_PARAM;
  const PF_Err err = Poll(host);
  if (err == PF_Err_NONE && host->onProgress) host->onProgress(current, total);
  return err;
}

SPErr Host::Impl::AcquireSuite(const char* name, int32_t version, const void** suite) {
  if (!suite) return kSPBadParameterError;
  *suite = nullptr;
  Host* host = tCurrentHost;
  if (!host) return kSPSuiteNotFoundError;
  if (IsParamUtils(name, version) && !host->faults.noParamUtilsSuite) {
    *suite = &host->paramUtils;
#ifdef QB_HOSTAPI_CURRENT
  } else if (IsWorldSuite2(name, version) && !host->faults.noWorldSuite) {
    *suite = &host->worldSuite;
  } else if (IsIterateFloatSuite(name, version)) {
    *suite = &host->iterateFloatSuite;
#endif
  } else {
    return kSPSuiteNotFoundError;
  }
  ++host->suitesHeld;
  return kSPNoError;
}

SPErr Host::Impl::ReleaseSuite(const char* name, int32_t version) {
  Host* host = tCurrentHost;
  if (!host ||
      !(IsParamUtils(name, version) || IsWorldSuite2(name, version) ||
        IsIterateFloatSuite(name, version)) ||
      host->suitesHeld <= 0) {
    return kSPSuiteNotFoundError;
  }
  --host->suitesHeld;
  return kSPNoError;
}

PF_Err Host::Impl::UpdateParamUI(PF_ProgPtr ref, PF_ParamIndex index, const PF_ParamDef* def) {
  Host* host = From(ref);
  if (!host || !def) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard<std::mutex> lock(host->mutex);
  if (index < 0 || static_cast<size_t>(index) >= host->params.size()) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  PF_ParamDef& stored = host->params[static_cast<size_t>(index)];
  std::memcpy(stored.name, def->name, sizeof stored.name);
  stored.name[sizeof stored.name - 1] = '\0';
  stored.ui_flags = def->ui_flags;
  host->uiUpdates.push_back(ParamUIUpdate{index, stored.name, def->ui_flags});
  return PF_Err_NONE;
}

}  // namespace softhost
