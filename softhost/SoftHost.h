// A software implementation of the host side of the effect API: enough of a
// real host to load the effect module, register its parameters, hand it
// layers and worlds, and run every command. Used by the command-line tool,
// the tests and the benchmarks.
//
// Ownership: a Host owns its PF_InData, callback tables, registered
// parameters and every world it allocates for the effect through new_world.
// SoftWorld owns its pixels; worlds handed in by SetInput / SetLayer stay
// the caller's and must outlive the commands that read them.
// Worlds have rowbytes padded beyond width x pixel size so that stride
// mistakes show. Rectangles given to the host callbacks follow the host
// convention: left/top inclusive, right/bottom exclusive.
// Handle callbacks carry no host context, so handle bookkeeping and handle
// fault injection are process-wide (GetHandleStats / SetHandleFaults).
// Suite functions carry no context either: they serve the Host whose Call is
// running on the calling thread.
//
// SmartFX (the current host generation): a render is pre-render then smart
// render, each command with its own in_data and out_data and its own
// effect_ref (one frame's context), so that several frames of one Host may
// render at once on different threads (SmartRender). Layers are checked out
// as views into the caller's worlds in layer pixels: a layer covers
// [0, width) x [0, height), a request is clipped to it, and the world handed
// out carries origin_x/origin_y; the output is the caller's output world
// taken as covering the same frame. Pixel checkouts the effect does not
// check in are taken back when the render ends and counted
// (UnreturnedLayers).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "hostapi/PluginApi.h"
#include "image/PixelFormat.h"
#include "softhost/BlockCache.h"

namespace softhost {

// How this host marks a float world in world_flags, in the range the host
// API reserves for hosts: effects learn the format from PF_GetPixelFormat.
inline constexpr PF_WorldFlags kHostFloatWorld = 1L << 24;

// An image owned by the caller: pixels plus the PF_EffectWorld that
// describes them. Pixels start at 0 (transparent black); the row padding is
// filled with a non-zero pattern.
class SoftWorld {
 public:
  SoftWorld(int32_t width, int32_t height, bool deep, int32_t padBytes = 24);
  SoftWorld(int32_t width, int32_t height, PixelFormat format, int32_t padBytes = 24);
  SoftWorld(const SoftWorld&) = delete;
  SoftWorld& operator=(const SoftWorld&) = delete;
  ~SoftWorld();

  PF_EffectWorld* World() { return &world; }
  const PF_EffectWorld* World() const { return &world; }
  int32_t Width() const { return world.width; }
  int32_t Height() const { return world.height; }
  bool Deep() const { return (world.world_flags & PF_WorldFlag_DEEP) != 0; }
  PixelFormat Format() const;
  size_t PixelBytes() const;
  PF_Pixel* Pixel8(int32_t x, int32_t y);
  PF_Pixel16* Pixel16(int32_t x, int32_t y);
  PF_PixelFloat* PixelF(int32_t x, int32_t y);
  const PF_Pixel* Pixel8(int32_t x, int32_t y) const;
  const PF_Pixel16* Pixel16(int32_t x, int32_t y) const;
  const PF_PixelFloat* PixelF(int32_t x, int32_t y) const;

 private:
  PF_EffectWorld world{};
  std::vector<unsigned char> storage;
};

// The command a render is sent as: SmartFX pre-render and smart render, or
// the legacy PF_Cmd_RENDER (the only one the 12.x generation has).
enum class RenderPath { Smart, Legacy };
#ifdef QB_HOSTAPI_CURRENT
inline constexpr RenderPath kDefaultRenderPath = RenderPath::Smart;
#else
inline constexpr RenderPath kDefaultRenderPath = RenderPath::Legacy;
#endif

struct HostConfig {
  A_long applId = 0x51425354;  // 'QBST': an ordinary host
  A_short majorVersion = 13;
  A_short minorVersion = 0;
  PF_Quality quality = PF_Quality_HI;
  PF_RationalScale downsampleX{1, 1};
  PF_RationalScale downsampleY{1, 1};
  bool extentHintSet = false;  // false: the whole output
  PF_Rect extentHint{0, 0, 0, 0};
  A_long preEffectOriginX = 0;
  A_long preEffectOriginY = 0;
  int threads = 1;  // worker threads for iterate and convolve
  A_long currentTime = 0;
  A_long timeStep = 1;
  A_u_long timeScale = 30;
  RenderPath renderPath = kDefaultRenderPath;
  // SmartFX: the output request, in layer pixels; unset, the whole output.
  bool requestSet = false;
  PF_LRect request{0, 0, 0, 0};
};

// Fault injection; a counter of -1 never fires. Calls are numbered from 0 in
// the order the host sees them (Host::ResetFaultCounters starts again).
struct HostFaults {
  int failNewWorldAt = -1;
  int failFillAt = -1;
  int failIterateAt = -1;     // iterate, iterate16 and iterate_origin16 together
  int failAreaSampleAt = -1;  // area_sample and area_sample16 together
  int failCheckoutAt = -1;
  int refuseParamAt = -1;    // add_param index of the call to refuse
  int abortAfterPolls = -1;  // abort/progress answer abortCode from this poll on
  PF_Err failCode = PF_Err_INTERNAL_STRUCT_DAMAGED;
  PF_Err abortCode = PF_Interrupt_CANCEL;
  bool noBasicSuite = false;
  bool noParamUtilsSuite = false;
  // SmartFX.
  int failCheckoutLayerAt = -1;  // pre-render checkout_layer
  int failLayerPixelsAt = -1;    // checkout_layer_pixels
  int failCheckinPixelsAt = -1;  // checkin_layer_pixels (the layer stays out)
  int failOutputAt = -1;         // checkout_output
  int failPixelFormatAt = -1;    // "PF World Suite" 2 PF_GetPixelFormat
  bool noWorldSuite = false;
  bool floatPixels = false;    // PF_GetPixelFormat answers ARGB128 (32-bit float)
  bool skipPreRender = false;  // smart render without a pre-render
};

struct HandleFaults {
  int failNewHandleAt = -1;
  int failLockAt = -1;
};
void SetHandleFaults(const HandleFaults& faults);  // also resets the call counters
// Fresh handle memory is filled with a pattern, so that code relying on
// zeroed memory fails in tests. A host that renders for a user (the CLI, the
// benchmark) turns the fill off: it costs a pass over every block, as no
// real host's memory manager does.
void SetFreshHandlePattern(bool on);
struct HandleStats {
  long live = 0;
  long newCalls = 0;
  long lockCalls = 0;
  long badDisposes = 0;  // dispose of a handle that is not live (double free)
};
HandleStats GetHandleStats();

// What a layer parameter is set to.
struct LayerChoice {
  enum Kind { None, Self, Image } kind = None;
  const PF_EffectWorld* image = nullptr;  // for Image; not owned
};

struct ParamUIUpdate {
  PF_ParamIndex index;
  std::string name;
  PF_ParamUIFlags uiFlags;
};

class Host {
 public:
  explicit Host(const HostConfig& config = HostConfig{});
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
  ~Host();

  HostConfig& Config() { return config; }
  HostFaults& Faults() { return faults; }
  PF_InData* InData() { return &inData; }
  PF_OutData* OutData() { return &outData; }

  // Registered parameters: index 0 is the input layer, 1.. those the effect
  // added through add_param. Values may be changed between commands. Point
  // parameters are registered with percent-of-layer defaults; like a real
  // host, this one turns them into layer pixels (16.16) once the input's size
  // is known (at add_param, or at the next SetInput).
  std::vector<PF_ParamDef>& Params() { return params; }
  // Layer parameters added with default "myself" start as Self, others None.
  void SetLayer(PF_ParamIndex index, LayerChoice choice);
  void SetInput(const PF_EffectWorld* input);

  // Runs one command through an entry point. Fills in_data from Config()
  // first (extent hint: the config's, or the whole output). return_msg is
  // cleared before each command; other out_data fields persist.
  PF_Err Call(PF_EffectMainFunc entry, PF_Cmd cmd, PF_EffectWorld* output = nullptr,
              void* extra = nullptr);
  // Convenience: GLOBAL_SETUP then PARAMS_SETUP.
  PF_Err Setup(PF_EffectMainFunc entry);
  // One frame through the configured render path.
  PF_Err Render(PF_EffectMainFunc entry, PF_EffectWorld* output);
#ifdef QB_HOSTAPI_CURRENT
  // Pre-render then smart render of one frame into `output`, safe to call
  // from several threads at once once setup is done (parameters, layers and
  // the config unchanged meanwhile). The commands report into `out` (null:
  // the Host's own OutData(), which is not thread-safe), whose return_msg is
  // cleared first.
  PF_Err SmartRender(PF_EffectMainFunc entry, PF_EffectWorld* output, PF_OutData* out = nullptr);
#endif

  // Observation.
  long LiveWorlds() const { return liveWorlds.load(); }
  long CheckedOutLayers() const { return checkedOut.load(); }
  // SmartFX pixel checkouts the effect left for the host to take back.
  long UnreturnedLayers() const { return unreturnedLayers.load(); }
  long AbortPolls() const { return abortPolls.load(); }
  const std::vector<ParamUIUpdate>& UIUpdates() const { return uiUpdates; }
  long SuitesHeld() const { return suitesHeld.load(); }
  // Numbers fault-injected calls and abort polls from 0 again.
  void ResetFaultCounters();
  // Calls of the SmartFX callbacks since the counters were last reset.
  struct SmartCalls {
    long checkoutLayer = 0, layerPixels = 0, checkinPixels = 0, output = 0, pixelFormat = 0;
  };
  SmartCalls SmartCallCounts() const;
  // Called on the thread that runs the command, for the effect's progress
  // calls and for the host's own polls between iterate row chunks.
  std::function<void(A_long current, A_long total)> onProgress;

  // Reached from the C callbacks through effect_ref.
  struct Impl;
  // One command's context, which effect_ref points at.
  struct Frame;

 private:
  HostConfig config;
  HostFaults faults;
  PF_InData inData{};
  PF_OutData outData{};
  PF_UtilCallbacks utils{};
  SPBasicSuite basic{};
  PF_ParamUtilsSuite1 paramUtils{};
#ifdef QB_HOSTAPI_CURRENT
  PF_WorldSuite2 worldSuite{};
  PF_IterateFloatSuite1 iterateFloatSuite{};
#endif
  std::unique_ptr<Frame> commandFrame;  // the context of Call's commands
  std::vector<PF_ParamDef> params;
  std::vector<LayerChoice> layers;
  std::vector<bool> pointPending;
  const PF_EffectWorld* input = nullptr;
  std::vector<ParamUIUpdate> uiUpdates;
  std::atomic<long> suitesHeld{0};
  std::atomic<long> liveWorlds{0};
  std::atomic<long> checkedOut{0};
  std::atomic<long> unreturnedLayers{0};
  std::atomic<long> abortPolls{0};
  std::atomic<long> callCounters[16] = {};
  std::unordered_map<void*, Block> worlds;  // by data
  std::mutex mutex;
};

// Loads an effect module the way a host does and finds its entry point.
class EffectModule {
 public:
  explicit EffectModule(const std::string& path);  // throws std::runtime_error
  EffectModule(const EffectModule&) = delete;
  EffectModule& operator=(const EffectModule&) = delete;
  ~EffectModule();
  PF_EffectMainFunc Entry() const { return entry; }

 private:
  void* handle = nullptr;
  PF_EffectMainFunc entry = nullptr;
};

}  // namespace softhost
