// qb-bench: times full-HD renders through the module's main on the software
// host, per case the median of several runs (the thread counts taking turns;
// "x first" is the first count's time over each one's), against the straightforward
// engine (the same binary run again as a child with
// QUORVANT_BLUR_ENGINE=reference, since the module reads it once per process)
// and against OpenCV's dilation with a rectangle of the kernel's footprint,
// all in one run. Also reports the peak memory of a 3840x2160 16-bit render.
// Frames render through SmartFX (pre-render and smart render); --legacy
// sends the legacy render command instead, and --smart-vs-legacy times the
// two against each other, taking turns.
//
//   qb-bench [--quick] [--runs N] [--threads 1,2] [--filter TEXT[$]] [--legacy]
//            [--no-reference] [--no-dilate] [--no-memory] [--module PATH]
//   qb-bench --compare OTHER_MODULE [--module PATH] [--runs N] [--threads ...]
//            [--filter TEXT] [--legacy]
//   qb-bench --smart-vs-legacy [--module PATH] [--runs N] [--threads ...]
//            [--filter TEXT]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/DemoImage.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

// "Blur Type" popup values (1-based).
enum Blur { Gaussian = 1, Diamond, SharpDiamond, Box, Star, Spiral, Cross, Custom, Cylinder };

const char* BlurName(Blur b) {
  static const char* const names[] = {"",     "Gaussian", "Diamond", "SharpDiamond", "Box",
                                      "Star", "Spiral",   "Cross",   "Custom",       "Cylinder"};
  return names[b];
}

// The Blur Control Layer of a case. Self renders the demo frame (the
// command-line tool's demo image scaled to the frame) with the layer as its
// own control layer, as the effect defaults; the others render the
// benchmark frame under a synthetic layer.
enum class Control { None, Noise, Self, Gradient, Depth };

struct Case {
  Blur blur;
  double amount;  // the "Blur Amount" slider: a diameter
  int depth;      // bits per channel: 8, 16 or 32 (float)
  Control control = Control::None;
  bool demo = false;  // the demo frame instead of the benchmark frame
};

PixelFormat FormatOfDepth(int depth) {
  return depth == 32   ? PixelFormat::ArgbFloat
         : depth == 16 ? PixelFormat::Argb16
                       : PixelFormat::Argb8;
}

std::string CaseName(const Case& c) {
  static const char* const layers[] = {"", " BCL", " BCL self", " BCL gradient", " BCL depth"};
  std::ostringstream s;
  s << BlurName(c.blur) << " " << c.amount << " " << c.depth << "-bit"
    << layers[static_cast<int>(c.control)] << (c.demo && c.control != Control::Self ? " demo" : "");
  return s.str();
}

// The same blur of the same frame without a control layer.
Case UniformTwin(const Case& c) { return Case{c.blur, c.amount, c.depth, Control::None, c.demo}; }

std::vector<Case> AllCases() {
  // Amount 0: what every render costs around the convolution (the host's
  // worlds, one pass that hands the input through); amount 1 (3 taps): what
  // the two separable passes cost with next to no kernel work.
  // Float frames beside the 16-bit ones for the Gaussian, the Box and the
  // Star.
  std::vector<Case> cases;
  for (double a : {0.0, 1.0}) {
    for (int depth : {8, 16, 32}) cases.push_back({Gaussian, a, depth, Control::None});
  }
  for (Blur b : {Gaussian, Box, Diamond}) {
    for (double a : {20.0, 100.0, 400.0}) {
      for (int depth : {8, 16, 32}) {
        if (depth < 32 || b != Diamond) cases.push_back({b, a, depth, Control::None});
      }
    }
  }
  // The separable target: amount 200 (kernel 201) at 16 bits, every 1D shape.
  for (Blur b : {Gaussian, Box, Diamond, SharpDiamond, Cylinder, Cross}) {
    cases.push_back({b, 200.0, 16});
    if (b == Gaussian || b == Box) cases.push_back({b, 200.0, 32});
  }
  for (Blur b : {Star, Spiral, Custom}) {
    for (double a : {40.0, 100.0}) {
      for (int depth : {8, 16, 32}) {
        if (depth < 32 || b == Star) cases.push_back({b, a, depth});
      }
    }
  }
  for (Blur b : {Gaussian, Star}) {
    for (int depth : {8, 16}) cases.push_back({b, 100.0, depth, Control::Noise});
  }
  // Control layers as footage has them, each timed beside its uniform twin;
  // Diamond is the effect's default shape.
  for (Blur b : {Gaussian, Box, Star, Diamond}) {
    for (double a : {40.0, 100.0}) {
      cases.push_back({b, a, 16, Control::Self, true});
      for (Control l : {Control::Gradient, Control::Depth, Control::Noise}) {
        if (!(a == 100.0 && l == Control::Noise && (b == Gaussian || b == Star)))
          cases.push_back({b, a, 16, l});
      }
    }
  }
  return cases;
}

// Kernel side for a half-size, as the shapes size their kernels; the Box
// (and the cross, made of boxes) adds its smoothing margin.
int32_t KernelSide(Blur blur, double amount) {
  const double a = amount * 0.5;
  const int32_t base = 2 * static_cast<int32_t>(std::ceil(a) + 0.5) + 1;
  if (blur != Box && blur != Cross) return base;
  int32_t m = static_cast<int32_t>(a * 0.05 + 0.5);
  if (m % 2 != 0) ++m;
  if (m < 2 && a != 0) m = 2;
  return base + m;
}

// ---- Images ----------------------------------------------------------------

struct Frame {
  int32_t width, height;
  std::vector<uint16_t> argb;  // 16-bit values, 0..32768
};

// Something like footage: gradients, a textured region, hard-edged shapes,
// scattered highlights and a transparent patch.
Frame MakeFrame(int32_t w, int32_t h) {
  Frame f{w, h, std::vector<uint16_t>(static_cast<size_t>(w) * h * 4)};
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int32_t> noise(0, 32768);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint16_t* p = &f.argb[(static_cast<size_t>(y) * w + x) * 4];
      int32_t r = x * 32768 / w, g = y * 32768 / h, b = (x + y) * 16384 / (w + h);
      if (x > w / 2 && y < h / 2) {
        r = (r + noise(rng)) / 2;
        g = (g + noise(rng)) / 2;
        b = noise(rng);
      }
      if ((x / 97 + y / 61) % 7 == 0 && x % 97 < 40 && y % 61 < 30) r = g = b = 30000;
      if (x % 211 == 17 && y % 157 == 33) r = g = b = 32768;
      const bool clear = x > w / 5 && x < w / 3 && y > 2 * h / 3;
      p[0] = clear ? 0 : 32768;
      p[1] = static_cast<uint16_t>(r);
      p[2] = static_cast<uint16_t>(g);
      p[3] = static_cast<uint16_t>(b);
    }
  }
  return f;
}

Frame MakeNoise(int32_t w, int32_t h) {
  Frame f{w, h, std::vector<uint16_t>(static_cast<size_t>(w) * h * 4)};
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> noise(0, 32768);
  for (size_t i = 0; i < f.argb.size(); ++i) {
    f.argb[i] = static_cast<uint16_t>(i % 4 == 0 ? 32768 : noise(rng));
  }
  return f;
}

// A smooth ramp from black on the left to white on the right.
Frame MakeGradient(int32_t w, int32_t h) {
  Frame f{w, h, std::vector<uint16_t>(static_cast<size_t>(w) * h * 4)};
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint16_t* p = &f.argb[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = 32768;
      p[1] = p[2] = p[3] = static_cast<uint16_t>(static_cast<int64_t>(x) * 32768 / (w - 1));
    }
  }
  return f;
}

// A depth pass: a far backdrop, a middle ground and two near objects, flat
// inside, with edges that ramp over a few dozen pixels.
Frame MakeDepth(int32_t w, int32_t h) {
  Frame f{w, h, std::vector<uint16_t>(static_cast<size_t>(w) * h * 4)};
  auto inside = [](double d) { return std::clamp(0.5 - d / 24.0, 0.0, 1.0); };
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      double depth = 1.0;  // far
      depth += (0.55 - depth) * inside(h * 0.55 - y);
      depth += (0.2 - depth) * inside(std::hypot(x - w * 0.3, y - h * 0.6) - h * 0.25);
      depth += (0.05 - depth) *
               inside(std::max(std::abs(x - w * 0.75), std::abs(y - h * 0.7)) - h * 0.18);
      uint16_t* p = &f.argb[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = 32768;
      p[1] = p[2] = p[3] = static_cast<uint16_t>(std::lround(depth * 32768));
    }
  }
  return f;
}

// The command-line tool's demo image, scaled to w x h (bilinear).
Frame MakeDemoFrame(int32_t w, int32_t h) {
  const qbcli::Image demo = qbcli::MakeDemoImage(qbcli::Depth::Bits16);
  Frame f{w, h, std::vector<uint16_t>(static_cast<size_t>(w) * h * 4)};
  for (int32_t y = 0; y < h; ++y) {
    const double sy = std::max(0.0, (y + 0.5) * demo.height / h - 0.5);
    const int32_t y0 = std::min(static_cast<int32_t>(sy), demo.height - 1);
    const int32_t y1 = std::min(y0 + 1, demo.height - 1);
    for (int32_t x = 0; x < w; ++x) {
      const double sx = std::max(0.0, (x + 0.5) * demo.width / w - 0.5);
      const int32_t x0 = std::min(static_cast<int32_t>(sx), demo.width - 1);
      const int32_t x1 = std::min(x0 + 1, demo.width - 1);
      const double fx = sx - x0, fy = sy - y0;
      uint16_t* p = &f.argb[(static_cast<size_t>(y) * w + x) * 4];
      for (int32_t c = 0; c < 4; ++c) {
        const double top = demo.At(x0, y0)[c] * (1 - fx) + demo.At(x1, y0)[c] * fx;
        const double bottom = demo.At(x0, y1)[c] * (1 - fx) + demo.At(x1, y1)[c] * fx;
        p[c] = static_cast<uint16_t>(std::lround(top * (1 - fy) + bottom * fy));
      }
    }
  }
  return f;
}

Frame MakeControl(Control c, int32_t w, int32_t h) {
  switch (c) {
    case Control::Gradient:
      return MakeGradient(w, h);
    case Control::Depth:
      return MakeDepth(w, h);
    default:
      return MakeNoise(w, h);
  }
}

// A ring with a bar through it, for the custom shape.
Frame MakeShape(int32_t side) {
  Frame f{side, side, std::vector<uint16_t>(static_cast<size_t>(side) * side * 4)};
  const double c = (side - 1) * 0.5;
  for (int32_t y = 0; y < side; ++y) {
    for (int32_t x = 0; x < side; ++x) {
      const double d = std::hypot(x - c, y - c);
      const bool on = (d > side * 0.3 && d < side * 0.45) || std::abs(y - c) < side * 0.06;
      uint16_t* p = &f.argb[(static_cast<size_t>(y) * side + x) * 4];
      p[0] = 32768;
      p[1] = p[2] = p[3] = on ? 32768 : 0;
    }
  }
  return f;
}

// Float frames hold v / 32768, and their full-scale highlights at 4.0.
void Fill(softhost::SoftWorld& world, const Frame& f, int32_t left = 0, int32_t top = 0) {
  for (int32_t y = 0; y < world.Height(); ++y) {
    for (int32_t x = 0; x < world.Width(); ++x) {
      const uint16_t* s = &f.argb[(static_cast<size_t>(y + top) * f.width + x + left) * 4];
      if (world.Format() == PixelFormat::ArgbFloat) {
        const bool highlight = s[1] == 32768 && s[2] == 32768 && s[3] == 32768;
        auto v = [&](int c) { return (c > 0 && highlight ? 4.0f : 1.0f) * s[c] / 32768.0f; };
        *world.PixelF(x, y) = PF_PixelFloat{v(0), v(1), v(2), v(3)};
      } else if (world.Deep()) {
        *world.Pixel16(x, y) = PF_Pixel16{s[0], s[1], s[2], s[3]};
      } else {
        auto n = [](uint16_t v) { return static_cast<A_u_char>((v * 255 + 16384) >> 15); };
        *world.Pixel8(x, y) = PF_Pixel{n(s[0]), n(s[1]), n(s[2]), n(s[3])};
      }
    }
  }
}

// ---- Rendering -------------------------------------------------------------

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// One host with the effect set up for a case, rendering frames of the given
// size cut from the top left of the full frame.
class Session {
 public:
  Session(PF_EffectMainFunc effect, const Case& c, int threads, int32_t w, int32_t h,
          softhost::RenderPath path)
      : entry(effect),
        in(w, h, FormatOfDepth(c.depth)),
        out(w, h, FormatOfDepth(c.depth)),
        shape(64, 64, c.depth > 8) {
    host.Config().threads = threads;
    host.Config().renderPath = path;
    host.Config().majorVersion = 11;  // the effect's own Gaussian, as in the tests
    if (host.Setup(entry) != PF_Err_NONE) throw std::runtime_error("setup failed");
    const int32_t fw = std::max(w, kWidth), fh = std::max(h, kHeight);
    Fill(in, c.demo ? MakeDemoFrame(fw, fh) : MakeFrame(fw, fh));
    Fill(shape, MakeShape(64));
    if (c.control != Control::None && c.control != Control::Self) {
      control = std::make_unique<softhost::SoftWorld>(w, h, c.depth > 8);
      Fill(*control, MakeControl(c.control, w, h));
    }
    std::vector<PF_ParamDef>& p = host.Params();
    p[ParamOutputView].u.pd.value = 1;
    p[ParamBlurType].u.pd.value = c.blur;
    p[ParamUniformAmount].u.bd.value = 1;
    p[ParamBlurAmount].u.fd.value = static_cast<PF_Fixed>(std::lround(c.amount * 65536.0));
    p[ParamBCLCompoundShapes].u.fd.value = 50 << 16;
    using softhost::LayerChoice;
    host.SetLayer(ParamShapeLayer, c.blur == Custom ? LayerChoice{LayerChoice::Image, shape.World()}
                                                    : LayerChoice{LayerChoice::None, nullptr});
    host.SetLayer(ParamBCLLayer, control ? LayerChoice{LayerChoice::Image, control->World()}
                                 : c.control == Control::Self
                                     ? LayerChoice{LayerChoice::Self, nullptr}
                                     : LayerChoice{LayerChoice::None, nullptr});
    host.SetInput(in.World());
  }

  double Render() {
    const auto start = std::chrono::steady_clock::now();
    const PF_Err err = host.Render(entry, out.World());
    const double ms = Milliseconds(std::chrono::steady_clock::now() - start);
    if (err != PF_Err_NONE) {
      throw std::runtime_error(std::string("render failed: ") + host.OutData()->return_msg);
    }
    return ms;
  }

 private:
  PF_EffectMainFunc entry;
  softhost::Host host;
  softhost::SoftWorld in, out, shape;
  std::unique_ptr<softhost::SoftWorld> control;
};

// One way to render a case: a module's entry point, a host thread count and
// the render command; `other` renders that case instead of the timed one.
struct Contender {
  PF_EffectMainFunc entry;
  int threads;
  softhost::RenderPath path;
  const Case* other = nullptr;
};

// The median of each contender's renders, the contenders taking turns render
// by render, so that a slow spell on this shared machine falls on all of them
// alike and their ratios hold.
std::vector<double> TimeRendersInTurn(const std::vector<Contender>& contenders, const Case& c,
                                      int runs) {
  std::vector<std::unique_ptr<Session>> sessions;
  for (const Contender& k : contenders) {
    sessions.push_back(std::make_unique<Session>(k.entry, k.other ? *k.other : c, k.threads, kWidth,
                                                 kHeight, k.path));
    if (runs > 1) sessions.back()->Render();  // first-touch of every buffer
  }
  std::vector<std::vector<double>> times(sessions.size());
  // Who renders first alternates: the first of a turn is measurably slower
  // (5-10 % on 5 ms renders here), which would otherwise fall on one side.
  for (int i = 0; i < runs; ++i) {
    for (size_t n = 0; n < sessions.size(); ++n) {
      const size_t k = i % 2 == 0 ? n : sessions.size() - 1 - n;
      times[k].push_back(sessions[k]->Render());
    }
  }
  std::vector<double> medians;
  for (const std::vector<double>& t : times) medians.push_back(Median(t));
  return medians;
}

double TimeDilate(const Case& c, int threads, int runs) {
  const int type = c.depth == 32 ? CV_32FC4 : c.depth == 16 ? CV_16UC4 : CV_8UC4;
  cv::Mat src(kHeight, kWidth, type), dst;
  cv::randu(src, 0, c.depth == 32 ? 1.0 : c.depth == 16 ? 32769 : 256);
  const int32_t side = KernelSide(c.blur, c.amount);
  const cv::Mat element = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(side, side));
  cv::setNumThreads(threads);
  cv::dilate(src, dst, element);
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    cv::dilate(src, dst, element);
    times.push_back(Milliseconds(std::chrono::steady_clock::now() - start));
  }
  return Median(times);
}

// ---- Child processes ---------------------------------------------------------

std::string SelfPath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) throw std::runtime_error("cannot find this executable");
  return std::string(buffer, static_cast<size_t>(n));
}

// Runs this executable with the given arguments and engine, and returns what
// it printed.
std::string RunChild(const std::string& args, bool reference) {
  const std::string command = std::string(reference ? "QUORVANT_BLUR_ENGINE=reference " : "") +
                              "'" + SelfPath() + "' " + args;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot start " + command);
  std::string text;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
  if (pclose(pipe) != 0) throw std::runtime_error("child failed: " + command + "\n" + text);
  return text;
}

long ProcStatusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

// Peak resident memory that one render adds on top of its input and output
// frames, in kilobytes.
long MeasurePeak(PF_EffectMainFunc entry, int threads, softhost::RenderPath path) {
  const Case c{Gaussian, 200.0, 16};
  Session session(entry, c, threads, 3840, 2160, path);
  // Reset the high-water mark to the current size.
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before = ProcStatusKilobytes("VmRSS:");
  session.Render();
  return ProcStatusKilobytes("VmHWM:") - before;
}

// ---- Driver ------------------------------------------------------------------

struct Options {
  bool quick = false;
  int runs = 5;
  std::vector<int> threads{1, 2};
  std::string filter;
  bool reference = true;
  bool dilate = true;
  bool memory = true;
  std::string module = QB_MODULE_PATH;
  std::string compare;  // another build of the module, timed against this one
  softhost::RenderPath path = softhost::RenderPath::Smart;
  bool smartVsLegacy = false;
  // Child modes.
  int childCase = -1;
  int childThreads = 1;
  int childCrop = 1;  // frame divided by this in each direction
  std::string childMemory;

  // Whether --filter picks a case: its text anywhere in the name, or, ending
  // in '$', at the name's end (" BCL$" is the noisy layer alone).
  bool Picks(const std::string& name) const {
    if (filter.empty() || filter.back() != '$') return name.find(filter) != std::string::npos;
    const std::string tail = filter.substr(0, filter.size() - 1);
    return name.size() >= tail.size() &&
           name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  }
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error("missing value after " + a);
      return argv[++i];
    };
    if (a == "--quick") {
      o.quick = true;
      o.runs = 3;
    } else if (a == "--runs") {
      o.runs = std::max(1, std::atoi(next().c_str()));
    } else if (a == "--threads") {
      o.threads.clear();
      std::stringstream s(next());
      std::string t;
      while (std::getline(s, t, ',')) o.threads.push_back(std::max(1, std::atoi(t.c_str())));
    } else if (a == "--filter") {
      o.filter = next();
    } else if (a == "--no-reference") {
      o.reference = false;
    } else if (a == "--no-dilate") {
      o.dilate = false;
    } else if (a == "--no-memory") {
      o.memory = false;
    } else if (a == "--legacy") {
      o.path = softhost::RenderPath::Legacy;
    } else if (a == "--smart-vs-legacy") {
      o.smartVsLegacy = true;
    } else if (a == "--compare") {
      o.compare = next();
    } else if (a == "--module") {
      o.module = next();
    } else if (a == "--child-case") {
      o.childCase = std::atoi(next().c_str());
    } else if (a == "--child-threads") {
      o.childThreads = std::atoi(next().c_str());
    } else if (a == "--child-crop") {
      o.childCrop = std::max(1, std::atoi(next().c_str()));
    } else if (a == "--child-memory") {
      o.childMemory = next();
    } else {
      throw std::runtime_error("unknown option " + a);
    }
  }
  return o;
}

// Two builds of the module side by side: their renders take turns, and the
// ratio says how much faster the --module build is than the --compare one.
int Compare(const Options& o, const std::vector<Case>& cases,
            const softhost::EffectModule& module) {
  const softhost::EffectModule other(o.compare);
  std::printf("qb-bench: 1920x1080 frames, median of %d runs in turn\n  A: %s\n  B: %s\n\n", o.runs,
              o.module.c_str(), o.compare.c_str());
  std::printf("%-34s %3s %10s %10s %8s\n", "case", "thr", "A ms", "B ms", "B / A");
  for (const Case& c : cases) {
    const std::string name = CaseName(c);
    if (!o.Picks(name)) continue;
    for (int threads : o.threads) {
      const std::vector<double> t = TimeRendersInTurn(
          {{module.Entry(), threads, o.path}, {other.Entry(), threads, o.path}}, c, o.runs);
      std::printf("%-34s %3d %10.2f %10.2f %8.2f\n", name.c_str(), threads, t[0], t[1],
                  t[1] / t[0]);
      std::fflush(stdout);
    }
  }
  return 0;
}

// The two render commands of one module side by side, taking turns: the
// ratio says how much longer the legacy command takes than SmartFX. The
// first of two sessions renders measurably slower on small frames here
// (the same command against itself gives about 0.9), so each case runs in
// both orders and the times are the means of the two.
int SmartVsLegacy(const Options& o, const std::vector<Case>& cases,
                  const softhost::EffectModule& module) {
  using softhost::RenderPath;
  std::printf(
      "qb-bench: 1920x1080 frames, median of %d runs in turn, in both orders; module %s\n\n",
      o.runs, o.module.c_str());
  std::printf("%-34s %3s %10s %10s %10s\n", "case", "thr", "smart ms", "legacy ms", "legacy/sm");
  std::vector<double> ratios;
  for (const Case& c : cases) {
    const std::string name = CaseName(c);
    if (!o.Picks(name)) continue;
    for (int threads : o.threads) {
      const Contender smart{module.Entry(), threads, RenderPath::Smart};
      const Contender legacy{module.Entry(), threads, RenderPath::Legacy};
      const std::vector<double> first = TimeRendersInTurn({smart, legacy}, c, o.runs);
      const std::vector<double> second = TimeRendersInTurn({legacy, smart}, c, o.runs);
      const double smartMs = 0.5 * (first[0] + second[1]);
      const double legacyMs = 0.5 * (first[1] + second[0]);
      std::printf("%-34s %3d %10.2f %10.2f %10.3f\n", name.c_str(), threads, smartMs, legacyMs,
                  legacyMs / smartMs);
      ratios.push_back(legacyMs / smartMs);
      std::fflush(stdout);
    }
  }
  if (!ratios.empty()) {
    double logSum = 0;
    for (double r : ratios) logSum += std::log(r);
    std::printf("\ngeometric mean legacy / smart: %.3f over %zu cases\n",
                std::exp(logSum / static_cast<double>(ratios.size())), ratios.size());
  }
  return 0;
}

int Main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  // Times what the effect costs on a host, without the test host's fill of
  // fresh memory.
  softhost::SetFreshHandlePattern(false);
  const std::vector<Case> cases = AllCases();
  if (o.childCase >= 0 || !o.childMemory.empty()) {
    softhost::EffectModule module(o.module);
    if (!o.childMemory.empty()) {
      std::printf("%ld\n", MeasurePeak(module.Entry(), o.childThreads, o.path));
    } else {
      const Case& c = cases.at(static_cast<size_t>(o.childCase));
      Session session(module.Entry(), c, o.childThreads, kWidth / o.childCrop,
                      kHeight / o.childCrop, o.path);
      std::printf("%.3f\n", session.Render());
    }
    return 0;
  }

  // The fast engine runs in this process; whatever the caller's environment
  // says about the engine applies only to the reference child.
  unsetenv("QUORVANT_BLUR_ENGINE");
  softhost::EffectModule module(o.module);
  if (!o.compare.empty()) return Compare(o, cases, module);
  if (o.smartVsLegacy) return SmartVsLegacy(o, cases, module);
  const int crop = o.quick ? 4 : 1;
  std::printf("qb-bench: %dx%d frames, median of %d runs; module %s\n", kWidth, kHeight, o.runs,
              o.module.c_str());
  std::printf("reference: straightforward engine, 1 run, %s\n",
              !o.reference ? "not measured"
              : crop > 1   ? "on the top-left 1/16 of the frame, time x16 (an underestimate "
                             "for large kernels: fewer taps fall inside a small frame)"
                           : "full frame");
  std::printf(
      "dilate: cv::dilate with a rectangle of the kernel's bounding box, same depth, "
      "cv::setNumThreads(threads); under a control layer instead the uniform render of the "
      "same frame and amount, in turn with it, and the control-layer time over it\n\n");
  std::printf("%-34s %3s %10s %8s %12s %9s %10s %9s\n", "case", "thr", "fast ms", "x first",
              "reference ms", "x faster", "dilate ms", "x dilate");
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const std::string name = CaseName(c);
    if (!o.Picks(name)) continue;
    const bool control = c.control != Control::None;
    const Case twin = UniformTwin(c);
    std::vector<Contender> contenders;
    for (int threads : o.threads) contenders.push_back({module.Entry(), threads, o.path});
    if (control) {
      for (int threads : o.threads) contenders.push_back({module.Entry(), threads, o.path, &twin});
    }
    const std::vector<double> times = TimeRendersInTurn(contenders, c, o.runs);
    for (size_t k = 0; k < o.threads.size(); ++k) {
      const int threads = o.threads[k];
      const double fast = times[k];
      std::printf("%-34s %3d %10.2f %8.2f", name.c_str(), threads, fast, times[0] / fast);
      std::fflush(stdout);
      if (o.reference) {
        std::ostringstream args;
        args << "--module '" << o.module << "' --child-case " << i << " --child-threads " << threads
             << " --child-crop " << crop
             << (o.path == softhost::RenderPath::Legacy ? " --legacy" : "");
        const double reference = std::atof(RunChild(args.str(), true).c_str()) * crop * crop;
        std::printf(" %12.1f %9.1f", reference, reference / fast);
      } else {
        std::printf(" %12s %9s", "-", "-");
      }
      if (control) {
        const double uniform = times[o.threads.size() + k];
        std::printf(" %10.2f %9.2f\n", uniform, fast / uniform);
      } else if (o.dilate) {
        const double dilate = TimeDilate(c, threads, o.runs);
        std::printf(" %10.2f %9.2f\n", dilate, dilate / fast);
      } else {
        std::printf(" %10s %9s\n", "-", "-");
      }
      std::fflush(stdout);
    }
  }

  if (o.memory) {
    const double frameMB = 3840.0 * 2160 * 8 / 1048576;
    std::printf(
        "\npeak memory of one 3840x2160 16-bit Gaussian 200 render, above its input and "
        "output frames (one frame = %.1f MB):\n",
        frameMB);
    for (bool reference : {false, true}) {
      if (reference && !o.reference) continue;
      const int threads = o.threads.back();
      std::ostringstream args;
      args << "--module '" << o.module << "' --child-memory run --child-threads " << threads
           << (o.path == softhost::RenderPath::Legacy ? " --legacy" : "");
      const double mb = std::atof(RunChild(args.str(), reference).c_str()) / 1024.0;
      std::printf("  %-9s engine, %d threads: %7.1f MB = %.2f frames\n",
                  reference ? "reference" : "fast", threads, mb, mb / frameMB);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qb-bench: %s\n", e.what());
    return 1;
  }
}
