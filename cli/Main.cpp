// quorvant-blur: renders image files and sequences with the effect module,
// loaded and driven only through its entry point by the software host.
// Exit status: 0 done, 1 something failed, 2 the command line is wrong.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/DemoImage.h"
#include "cli/Errors.h"
#include "cli/FramePattern.h"
#include "cli/ImageIO.h"
#include "cli/Options.h"
#include "cli/Progress.h"
#include "softhost/SoftHost.h"

namespace qbcli {

namespace {

namespace fs = std::filesystem;

constexpr char kModuleFile[] = "QuorvantBlur.so";

int Report(int status, std::string message) {
  for (char& c : message) {
    if (c == '\n') c = ' ';
  }
  std::fprintf(stderr, "quorvant-blur: %s\n", message.c_str());
  return status;
}

std::string ModulePath(const CommandLine& line, const char* argv0) {
  if (!line.plugin.empty()) return line.plugin;
  std::error_code ec;
  fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (ec) program = fs::absolute(argv0, ec);
  return (program.parent_path() / kModuleFile).string();
}

// Four characters as the host's big-endian application code ('KeyG' is
// 0x4B657947).
A_long FourCharCode(const std::string& code) {
  uint32_t value = 0;
  for (char c : code) value = (value << 8) | static_cast<unsigned char>(c);
  return static_cast<A_long>(value);
}

// The effect's decorated message starts on a new line, for a dialog; here it
// ends a one-line report.
std::string CommandFailure(const char* command, PF_Err err, softhost::Host& host) {
  std::string message = host.OutData()->return_msg;
  if (!message.empty() && message.front() == '\n') message.erase(0, 1);
  std::string text = command;
  text += " failed (error ";
  text += std::to_string(err);
  text += ')';
  if (!message.empty()) text.append(": ").append(message);
  return text;
}

struct FrameRange {
  int first = 0;
  int last = 0;
  bool sequence = false;
};

FrameRange CheckCommandLine(const CommandLine& line) {
  if (line.output.empty()) throw UsageError("-o/--output is required");
  if (!IsWritableFormat(line.output)) {
    throw UsageError("-o: unknown image format of " + line.output +
                     " (use .png, .tif, .tiff, .exr or .jpg)");
  }
  const std::pair<const char*, const std::string*> names[] = {
      {"-i", &line.input},
      {"-o", &line.output},
      {"--shape", &line.Setting(ParamShapeLayer).text},
      {"--bcl", &line.Setting(ParamBCLLayer).text},
  };
  // Float worlds reach an effect only through SmartFX's pixel-format query.
  if (line.depth == 32 && line.renderCommand == "legacy") {
    throw UsageError("--depth 32: float frames need the smart render command");
  }
  FrameRange range;
  if (line.frames.empty()) {
    for (const auto& [option, name] : names) {
      if (HasFramePattern(*name)) {
        throw UsageError(std::string(option) + ": the frame pattern in " + *name +
                         " needs --frames");
      }
    }
    return range;
  }
  range.sequence = true;
  range.first = line.frames.front();
  range.last = line.frames.back();
  if (range.last < range.first) throw UsageError("--frames: the last frame is before the first");
  if (range.last > range.first && !HasFramePattern(line.output)) {
    throw UsageError("-o: several frames need a frame pattern (#### or %04d) in " + line.output);
  }
  return range;
}

softhost::HostConfig ConfigFrom(const CommandLine& line) {
  softhost::HostConfig config;
  if (!line.hostId.empty()) config.applId = FourCharCode(line.hostId);
  config.majorVersion = static_cast<A_short>(line.hostVersion.first);
  config.minorVersion = static_cast<A_short>(line.hostVersion.second);
  config.quality = line.quality == "low" ? PF_Quality_LO : PF_Quality_HI;
  config.downsampleX = {1, static_cast<A_u_long>(line.downsample.first)};
  config.downsampleY = {1, static_cast<A_u_long>(line.downsample.second)};
  config.threads = line.threads;
  config.renderPath =
      line.renderCommand == "legacy" ? softhost::RenderPath::Legacy : softhost::RenderPath::Smart;
  return config;
}

// Files are read once per run: names without a frame pattern stay the same
// for every frame. Each is read at the run's depth where it is known; the
// first input, which settles it, at its own.
class ImageFiles {
 public:
  const ReadResult& Read(const std::string& path, std::optional<Depth> depth) {
    auto found = cache.find(path);
    if (found == cache.end()) {
      if (cache.size() > 8) cache.clear();
      found = cache.emplace(path, ReadImage(path, depth)).first;
    }
    return found->second;
  }

 private:
  std::map<std::string, ReadResult> cache;
};

// One layer parameter for one frame: the host's choice and, for a file, its
// world (which must outlive the render).
struct LayerInput {
  softhost::LayerChoice choice;
  std::unique_ptr<softhost::SoftWorld> world;
  int32_t width = 0;
  int32_t height = 0;
};

std::unique_ptr<softhost::SoftWorld> MakeWorld(const Image& image) {
  auto world = NewWorld(image.width, image.height, image.depth);
  CopyToWorld(image, *world);
  return world;
}

std::optional<Depth> DepthOption(int bits) {
  if (bits == 0) return std::nullopt;
  return bits == 8 ? Depth::Bits8 : bits == 16 ? Depth::Bits16 : Depth::Float;
}

class Renderer {
 public:
  Renderer(const CommandLine& commandLine, PF_EffectMainFunc effect, softhost::Host& softHost)
      : line(commandLine),
        entry(effect),
        host(softHost),
        progress(isatty(STDERR_FILENO) && !commandLine.quiet),
        depth(DepthOption(commandLine.depth)) {
    host.onProgress = [this](A_long current, A_long total) { progress.Update(current, total); };
  }

  void RenderFrame(const FrameRange& range, int frame) {
    auto name = [&](const std::string& pattern) {
      return range.sequence ? ExpandFramePattern(pattern, frame) : pattern;
    };
    const ReadResult* read = line.input.empty() ? nullptr : &files.Read(name(line.input), depth);
    if (!depth) {
      depth = read ? read->image.depth : Depth::Bits16;
      // As a host without SmartFX would: its deepest frames are 16-bit.
      if (*depth == Depth::Float && line.renderCommand == "legacy") depth = Depth::Bits16;
    }
    const Image input = read ? ToDepth(read->image, *depth) : MakeDemoImage(*depth);

    const auto inputWorld = MakeWorld(input);
    host.SetInput(inputWorld->World());
    LayerInput shape = Layer(ParamShapeLayer, name, input);
    LayerInput bcl = Layer(ParamBCLLayer, name, input);

    PF_PointDef& center = host.Params().at(ParamBCLCenter).u.td;
    const ParamSetting& centerSetting = line.Setting(ParamBCLCenter);
    if (centerSetting.Given()) {
      center.x_value = PixelsToFixed(centerSetting.point.first, "--bcl-center");
      center.y_value = PixelsToFixed(centerSetting.point.second, "--bcl-center");
    } else {
      center.x_value = PixelsToFixed(bcl.width * 0.5, "--bcl-center");
      center.y_value = PixelsToFixed(bcl.height * 0.5, "--bcl-center");
    }

    host.Config().currentTime = frame;
    const auto output = NewWorld(input.width, input.height, input.depth);
    if (range.sequence) progress.SetLabel("frame " + std::to_string(frame) + " ");
    InjectFault();
    const auto started = std::chrono::steady_clock::now();
    const PF_Err err = host.Render(entry, output->World());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    softhost::SetHandleFaults({});
    progress.Finish();
    if (err == PF_Interrupt_CANCEL) throw std::runtime_error("render cancelled");
    if (err != PF_Err_NONE) throw std::runtime_error(CommandFailure("render", err, host));
    const Narrowing narrowing = WriteImage(name(line.output), CopyFromWorld(*output));
    if (narrowing.fileBits != 0 && !noted) {
      // Once per run: every frame of a sequence goes the same way.
      noted = true;
      std::string note = "note: " + name(line.output) + " holds " +
                         std::to_string(narrowing.fileBits) +
                         " bits per channel; the 32-bit render is limited to 0..1 and rounded";
      if (narrowing.clamped != 0) {
        note += " (" + std::to_string(narrowing.clamped) + " samples were outside)";
      }
      Report(0, note);
    }
    if (!line.quiet) {
      std::printf("%s: %dx%d, %d bits, rendered in %.3f s\n", name(line.output).c_str(),
                  input.width, input.height, BitsOf(*depth), took.count());
    }
  }

 private:
  template <typename Name>
  LayerInput Layer(ParamIndex index, Name&& name, const Image& input) {
    const std::string& text = line.Setting(index).text;
    LayerInput layer;
    layer.width = input.width;
    layer.height = input.height;
    if (text.empty()) return layer;  // the effect's default, which the host already holds
    if (text == kLayerSelf) {
      layer.choice.kind = softhost::LayerChoice::Self;
    } else if (text == kLayerNone) {
      layer.choice.kind = softhost::LayerChoice::None;
    } else {
      const Image image = ToDepth(files.Read(name(text), input.depth).image, input.depth);
      layer.world = MakeWorld(image);
      layer.choice.kind = softhost::LayerChoice::Image;
      layer.choice.image = layer.world->World();
      layer.width = image.width;
      layer.height = image.height;
    }
    host.SetLayer(index, layer.choice);
    return layer;
  }

  void InjectFault() {
    host.ResetFaultCounters();
    const std::string& fault = line.hostFault;
    softhost::HostFaults& faults = host.Faults();
    if (fault == "memory") {
      softhost::HandleFaults handles;
      handles.failNewHandleAt = 0;
      softhost::SetHandleFaults(handles);
    } else if (fault == "new-world") {
      faults.failNewWorldAt = 0;
    } else if (fault == "fill") {
      faults.failFillAt = 0;
    } else if (fault == "iterate") {
      faults.failIterateAt = 0;
    } else if (fault == "area-sample") {
      faults.failAreaSampleAt = 0;
    } else if (fault == "checkout") {
      faults.failCheckoutAt = 0;
    } else if (fault == "abort") {
      faults.abortAfterPolls = 0;
    } else if (fault == "layer-checkout") {
      faults.failCheckoutLayerAt = 0;
    } else if (fault == "layer-pixels") {
      faults.failLayerPixelsAt = 0;
    } else if (fault == "output-checkout") {
      faults.failOutputAt = 0;
    }
  }

  const CommandLine& line;
  PF_EffectMainFunc entry;
  softhost::Host& host;
  ProgressBar progress;
  ImageFiles files;
  std::optional<Depth> depth;
  bool noted = false;
};

int Run(const CommandLine& line, const char* argv0) {
  const FrameRange range = line.about ? FrameRange{} : CheckCommandLine(line);
  // The tool renders for a user, not to catch the effect reading memory it
  // never wrote: the tests do that.
  softhost::SetFreshHandlePattern(false);
  const softhost::EffectModule module(ModulePath(line, argv0));
  softhost::Host host(ConfigFrom(line));
  if (const PF_Err err = host.Setup(module.Entry()); err != PF_Err_NONE) {
    throw std::runtime_error(CommandFailure("setup", err, host));
  }
  if (line.about) {
    if (const PF_Err err = host.Call(module.Entry(), PF_Cmd_ABOUT); err != PF_Err_NONE) {
      throw std::runtime_error(CommandFailure("about", err, host));
    }
    std::printf("%s\n", host.OutData()->return_msg);
    return 0;
  }
  ApplyParamOptions(line, host.Params());

  Renderer renderer(line, module.Entry(), host);
  for (int frame = range.first; frame <= range.last; ++frame) renderer.RenderFrame(range, frame);
  return 0;
}

}  // namespace

}  // namespace qbcli

int main(int argc, char** argv) {
  qbcli::CommandLine line;
  CLI::App app{"Renders images with the Quorvant Blur effect through a software host.",
               "quorvant-blur"};
  app.set_version_flag("--version", "quorvant-blur " QB_CLI_VERSION);
  app.get_formatter()->column_width(36);
  qbcli::AddOptions(app, line);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    return qbcli::Report(2, e.what());
  }
  try {
    return qbcli::Run(line, argv[0]);
  } catch (const qbcli::UsageError& e) {
    return qbcli::Report(2, e.what());
  } catch (const std::exception& e) {
    return qbcli::Report(1, e.what());
  }
}
