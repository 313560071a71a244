// Drives the effect module's entry point as a careless host might: a host of
// either kind and version, faults at random calls, a frame and two layers of
// random sizes and depths, then a run of commands with parameter values far
// outside their ranges (negative and huge amounts, popup values off the
// list, no compound shapes), frames rendered through the legacy command or
// through SmartFX with requests anywhere (empty, outside, huge), smart
// commands without their records. Whatever the input, every command must end in
// a result code the host understands, with nothing allocated, lent or
// checked out afterwards and no pixel written outside the output.
//
// Input layout: consumed front to back by FuzzedDataProvider; running out of
// bytes reads as zeros, so every input is a valid scenario.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "reliability/HostProbe.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace {

// What the host may lend at once; more than any small frame needs, little
// enough that kernels of huge amounts run out of memory quickly.
constexpr size_t kHostMemory = size_t{256} << 20;

// After this many abort polls the host answers cancel, as a user would
// after a while; it bounds the work of huge kernels that fit in memory.
constexpr int kPatience = 4000;

[[noreturn]] void Broken(const char* what, PF_Cmd cmd, PF_Err err, const char* message) {
  std::fprintf(stderr, "broken invariant after command %d (result %d, message \"%s\"): %s\n",
               static_cast<int>(cmd), static_cast<int>(err), message, what);
  std::abort();
}

PF_EffectMainFunc Entry() {
  static softhost::EffectModule* const module = new softhost::EffectModule(QB_MODULE_PATH);
  return module->Entry();
}

PixelFormat Format(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 1:
      return PixelFormat::Argb16;
    case 2:
      return PixelFormat::ArgbFloat;
    default:
      return PixelFormat::Argb8;
  }
}

void Paint(FuzzedDataProvider& in, softhost::SoftWorld& world) {
  for (int32_t y = 0; y < world.Height(); ++y) {
    for (int32_t x = 0; x < world.Width(); ++x) {
      if (world.Format() == PixelFormat::ArgbFloat) {
        // Any bit pattern: NaN, infinities, negatives and subnormals too.
        const auto c = [&] { return std::bit_cast<float>(in.ConsumeIntegral<uint32_t>()); };
        *world.PixelF(x, y) = PF_PixelFloat{c(), c(), c(), c()};
      } else if (world.Deep()) {
        // 16-bit channels above 32768 are outside the format but reach
        // effects all the same.
        const auto c = [&] { return in.ConsumeIntegralInRange<A_u_short>(0, 32768 + 64); };
        *world.Pixel16(x, y) = PF_Pixel16{c(), c(), c(), c()};
      } else {
        const auto c = [&] { return in.ConsumeIntegral<A_u_char>(); };
        *world.Pixel8(x, y) = PF_Pixel{c(), c(), c(), c()};
      }
    }
  }
}

std::vector<unsigned char> Bytes(const softhost::SoftWorld& world) {
  const PF_EffectWorld* w = world.World();
  const auto* data = static_cast<const unsigned char*>(w->data);
  return std::vector<unsigned char>(data, data + static_cast<size_t>(w->rowbytes) * w->height);
}

std::unique_ptr<softhost::SoftWorld> MakeWorld(FuzzedDataProvider& in, int32_t maxSide) {
  const int32_t w = in.ConsumeIntegralInRange<int32_t>(1, maxSide);
  const int32_t h = in.ConsumeIntegralInRange<int32_t>(1, maxSide);
  auto world = std::make_unique<softhost::SoftWorld>(w, h, Format(in));
  Paint(in, *world);
  return world;
}

softhost::LayerChoice Layer(FuzzedDataProvider& in, const softhost::SoftWorld& image) {
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 1:
      return softhost::LayerChoice{softhost::LayerChoice::Self, nullptr};
    case 2:
      return softhost::LayerChoice{softhost::LayerChoice::Image, image.World()};
    default:
      return softhost::LayerChoice{};
  }
}

// Mostly values a host would send, sometimes anything at all.
int32_t Value(FuzzedDataProvider& in, int32_t low, int32_t high) {
  if (in.ConsumeIntegralInRange<int>(0, 3) == 0) return in.ConsumeIntegral<int32_t>();
  return in.ConsumeIntegralInRange<int32_t>(low, high);
}

void SetParameters(FuzzedDataProvider& in, std::vector<PF_ParamDef>& p) {
  const int changes = in.ConsumeIntegralInRange<int>(0, 8);
  for (int i = 0; i < changes; ++i) {
    switch (in.ConsumeIntegralInRange<int>(0, 17)) {
      case 0:
        p[ParamOutputView].u.pd.value = Value(in, 1, 3);
        break;
      case 1:
        p[ParamBlurType].u.pd.value = Value(in, 1, 9);
        break;
      case 2:
        p[ParamUniformAmount].u.bd.value = in.ConsumeIntegral<A_char>();
        break;
      case 3:
        p[ParamBlurAmount].u.fd.value = Value(in, 0, 120 << 16);
        break;
      case 4:
        p[ParamVerticalAmount].u.fd.value = Value(in, 0, 120 << 16);
        break;
      case 5:
        p[ParamShapeChannel].u.pd.value = Value(in, 1, 5);
        break;
      case 6:
        p[ParamShapeSmooth].u.bd.value = in.ConsumeIntegral<A_char>();
        break;
      case 7:
        p[ParamShapeSmoothAmount].u.fd.value = Value(in, 0, 40 << 16);
        break;
      case 8:
        p[ParamBCLChannel].u.pd.value = Value(in, 1, 5);
        break;
      case 9:
        p[ParamBCLTileMode].u.pd.value = Value(in, 1, 3);
        break;
      case 10:
        p[ParamBCLCenter].u.td.x_value = Value(in, -(8 << 16), 32 << 16);
        p[ParamBCLCenter].u.td.y_value = Value(in, -(8 << 16), 32 << 16);
        break;
      case 11:
        p[ParamBCLScaleX].u.fd.value = Value(in, 1 << 16, 400 << 16);
        p[ParamBCLScaleY].u.fd.value = Value(in, 1 << 16, 400 << 16);
        p[ParamBCLInvert].u.bd.value = in.ConsumeIntegral<A_char>();
        break;
      default:
        p[ParamBCLCompoundShapes].u.fd.value = Value(in, 0, 60 << 16);
        break;
    }
  }
}

softhost::HostConfig Config(FuzzedDataProvider& in, int32_t width, int32_t height) {
  softhost::HostConfig c;
  if (in.ConsumeBool()) c.applId = 0x4B657947;  // 'KeyG'
  c.majorVersion = in.ConsumeBool() ? 11 : 13;
  c.quality = in.ConsumeBool() ? PF_Quality_HI : PF_Quality_LO;
  static const PF_RationalScale kScales[] = {{1, 1}, {1, 2}, {1, 3}, {2, 3}, {1, 4}};
  c.downsampleX = in.PickValueInArray(kScales);
  c.downsampleY = in.PickValueInArray(kScales);
  if (in.ConsumeBool()) {
    c.extentHintSet = true;
    auto edge = [&](int32_t size) { return in.ConsumeIntegralInRange<A_short>(-3, size + 3); };
    const int32_t top = edge(height), left = edge(width), bottom = edge(height),
                  right = edge(width);
    c.extentHint = HostRect(left, top, right, bottom);
  }
  if (in.ConsumeBool()) c.preEffectOriginX = in.ConsumeIntegralInRange<A_long>(-5, 5);
  return c;
}

void ArmFaults(FuzzedDataProvider& in, softhost::Host& host) {
  softhost::HostFaults& f = host.Faults();
  f = softhost::HostFaults{};
  f.abortAfterPolls = kPatience;
  softhost::HandleFaults handles;
  auto at = [&] { return in.ConsumeIntegralInRange<int>(0, 60); };
  switch (in.ConsumeIntegralInRange<int>(0, 12)) {
    case 1:
      f.failNewWorldAt = at();
      break;
    case 2:
      f.failFillAt = at();
      break;
    case 3:
      f.failIterateAt = at();
      break;
    case 4:
      f.failAreaSampleAt = at();
      break;
    case 5:
      f.failCheckoutAt = at();
      break;
    case 6:
      f.abortAfterPolls = at();
      break;
    case 7:
      handles.failNewHandleAt = at();
      break;
    case 8:
      handles.failLockAt = at();
      break;
    case 9:
      f.noParamUtilsSuite = true;
      break;
    case 10:
      f.failCheckoutLayerAt = at();
      break;
    case 11:
      f.failLayerPixelsAt = at();
      break;
    case 12:
      f.failOutputAt = at();
      break;
    case 13:
      f.failPixelFormatAt = at();
      break;
    case 14:
      f.noWorldSuite = in.ConsumeBool();
      f.skipPreRender = !f.noWorldSuite;
      break;
    default:
      break;
  }
  if (in.ConsumeBool()) f.abortCode = in.ConsumeBool() ? PF_Err_OUT_OF_MEMORY : 1;
  softhost::SetHandleFaults(handles);
  host.ResetFaultCounters();
}

void Check(PF_Cmd cmd, PF_Err err, softhost::Host& host, long liveHandles, long badDisposes,
           const softhost::SoftWorld& output) {
  const char* message = host.OutData()->return_msg;
  if (std::memchr(message, '\0', sizeof host.OutData()->return_msg) == nullptr)
    Broken("message not terminated", cmd, err, "");
  if (cmd != PF_Cmd_ABOUT) {
    const bool quiet = err == PF_Err_NONE || err == PF_Interrupt_CANCEL;
    if (quiet && message[0] != '\0') Broken("message without a failure", cmd, err, message);
    if (!quiet && std::strncmp(message, "\nQuorvant Blur [ ", 17) != 0)
      Broken("failure without its decorated message", cmd, err, message);
  }
  const softhost::HandleStats handles = softhost::GetHandleStats();
  if (handles.live != liveHandles) Broken("handles left behind", cmd, err, message);
  if (handles.badDisposes != badDisposes) Broken("a handle freed twice", cmd, err, message);
  if (host.LiveWorlds() != 0) Broken("worlds left behind", cmd, err, message);
  if (host.CheckedOutLayers() != 0) Broken("layers kept", cmd, err, message);
  if (host.SuitesHeld() != 0) Broken("suites kept", cmd, err, message);
  if (host.UnreturnedLayers() != 0) Broken("layer pixels left for the host", cmd, err, message);
  const PF_EffectWorld* w = output.World();
  const size_t used = static_cast<size_t>(w->width) * output.PixelBytes();
  for (int32_t y = 0; y < w->height; ++y) {
    const auto* row =
        static_cast<const unsigned char*>(w->data) + static_cast<size_t>(y) * w->rowbytes;
    for (size_t b = used; b < static_cast<size_t>(w->rowbytes); ++b) {
      if (row[b] != row[used]) Broken("wrote past the end of an output row", cmd, err, message);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  probe::SetMemoryBudget(kHostMemory);
  Entry();  // loaded before fuzzing starts, so its coverage counters are seen
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int32_t width = in.ConsumeIntegralInRange<int32_t>(1, 24);
  const int32_t height = in.ConsumeIntegralInRange<int32_t>(1, 24);
  // Float frames are the smart render's; the legacy one reads them as the
  // 8-bit frames that host would never send, which must still not crash.
  const PixelFormat format = Format(in);
  softhost::Host host(Config(in, width, height));
  probe::Install(host);
  softhost::SoftWorld input(width, height, format);
  softhost::SoftWorld output(width, height, format);
  Paint(in, input);
  const std::unique_ptr<softhost::SoftWorld> control = MakeWorld(in, 16);
  const std::unique_ptr<softhost::SoftWorld> shape = MakeWorld(in, 16);
  const std::vector<unsigned char> inputBytes = Bytes(input);
  const std::vector<unsigned char> controlBytes = Bytes(*control);
  const std::vector<unsigned char> shapeBytes = Bytes(*shape);
  host.SetInput(input.World());

  softhost::SetHandleFaults(softhost::HandleFaults{});
  const long liveHandles = softhost::GetHandleStats().live;
  const long badDisposes = softhost::GetHandleStats().badDisposes;
  // A host registers the parameters before it sends anything that reads them.
  if (host.Setup(Entry()) != PF_Err_NONE) std::abort();
  host.SetLayer(ParamBCLLayer, Layer(in, *control));
  host.SetLayer(ParamShapeLayer, Layer(in, *shape));

  const int commands = in.ConsumeIntegralInRange<int>(1, 4);
  for (int i = 0; i < commands; ++i) {
    PF_Cmd cmd = PF_Cmd_RENDER;
    PF_UserChangedParamExtra extra{};
    void* extraArg = nullptr;
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
      case 0:
        cmd = PF_Cmd_ABOUT;
        break;
      case 1:
        cmd = PF_Cmd_GLOBAL_SETUP;
        break;
      case 2:
        cmd = PF_Cmd_USER_CHANGED_PARAM;
        extra.param_index = in.ConsumeIntegralInRange<A_long>(-2, ParamCount + 2);
        if (in.ConsumeBool()) extraArg = &extra;
        break;
      case 3:
        cmd = PF_Cmd_UPDATE_PARAMS_UI;
        break;
      case 4:
        cmd = in.ConsumeIntegralInRange<PF_Cmd>(15, 40);
        break;
      default:
        break;
    }
    // A render goes through SmartFX when it asks, over a request around the
    // frame, empty, inverted or of the whole coordinate range.
    const bool smart = cmd == PF_Cmd_RENDER && in.ConsumeBool();
    if (smart) {
      auto side = [&](int32_t size) { return in.ConsumeIntegralInRange<A_long>(-30, size + 30); };
      const A_long left = side(width), top = side(height), right = side(width),
                   bottom = side(height);
      host.Config().requestSet = in.ConsumeBool();
      host.Config().request = in.ConsumeBool()
                                  ? PF_LRect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}
                                  : PF_LRect{left, top, right, bottom};
    }
    SetParameters(in, host.Params());
    ArmFaults(in, host);
    const PF_Err err = smart ? host.SmartRender(Entry(), output.World())
                             : host.Call(Entry(), cmd, output.World(), extraArg);
    softhost::SetHandleFaults(softhost::HandleFaults{});
    Check(cmd, err, host, liveHandles, badDisposes, output);
    if (Bytes(input) != inputBytes || Bytes(*control) != controlBytes ||
        Bytes(*shape) != shapeBytes) {
      Broken("wrote into a layer of the host", cmd, err, host.OutData()->return_msg);
    }
  }
  return 0;
}
