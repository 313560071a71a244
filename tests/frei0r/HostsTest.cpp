// The plug-ins in the host programs that load them for real: ffmpeg's
// frei0r filter, melt (MLT, as Kdenlive and Shotcut use it) and GStreamer's
// frei0r elements. Each renders a generated image or a short generated clip
// through PNG files, and every frame must equal the command-line host's
// render of the same frame with the same settings.
#include <fstream>
#include <thread>

#include "frei0r/Frei0rHarness.h"

namespace frei0rtest {
namespace {

namespace fs = std::filesystem;

std::string FrameName(const std::string& name, int i) {
  char number[16];
  std::snprintf(number, sizeof number, "%04d", i);
  return name + number + ".png";
}

struct HostCase {
  const char* name;
  const char* program;
  int frames, width, height;
  std::string args, cli;
  const char* secondOption = "";  // the mixer's second input, for the command line
};

void PrintTo(const HostCase& c, std::ostream* os) { *os << c.name; }

class Frei0rHosts : public Frei0rTest {
 protected:
  // Skips the test (or fails it when QB_FREI0R_REQUIRED=1) where `program`
  // is not installed, and in instrumented builds, whose plug-ins a host
  // program cannot load.
  void RequireProgram(const std::string& program) {
#ifdef QB_FREI0R_INSTRUMENTED
    GTEST_SKIP() << "an instrumented build: " << program << " cannot load its plug-ins";
#endif
    if (Shell("command -v " + program).status == 0) return;
    const char* required = std::getenv("QB_FREI0R_REQUIRED");
    if (required != nullptr && std::string(required) == "1") FAIL() << program << " is missing";
    GTEST_SKIP() << program << " is not installed (scripts/deps.sh installs it)";
  }

  // melt 7.12 now and then writes nothing, or never stops, on a busy
  // machine, with or without a plug-in of ours: it gets a few tries, one
  // melt at a time, each cut after 20 s, until out0001.png ... up to
  // `frames` are written.
  clitest::RunResult RunHost(const std::string& program, const std::string& line,
                             int frames) const {
    if (program != "melt") return Host(line);
    const std::string lock = (fs::temp_directory_path() / "quorvant-blur-melt.lock").string();
    clitest::RunResult run;
    for (int attempt = 1; attempt <= 4; ++attempt) {
      for (int i = 1; i <= frames + 1; ++i) fs::remove(Path(FrameName("out", i)));
      run = Host("flock '" + lock + "' timeout -k 5 20 env " + line);
      bool written = run.status == 0;
      for (int i = 1; written && i <= frames; ++i) written = fs::exists(Path(FrameName("out", i)));
      if (written) break;
    }
    return run;
  }

  // The frames in in0001.png ..., a second input in second0001.png ...,
  // written to out0001.png ...
  std::string Line(const std::string& program, int width, int height, const std::string& args,
                   bool mixer) const {
    if (program == "ffmpeg") {
      return "ffmpeg -v error -i in%04d.png -vf '" + args + "' -pix_fmt rgba out%04d.png";
    }
    if (program == "melt") {
      // A profile of the frames' size: melt's default one would rescale them.
      std::ofstream(Path("profile"))
          << "description=test\nframe_rate_num=25\nframe_rate_den=1\nprogressive=1\n"
          << "sample_aspect_num=1\nsample_aspect_den=1\ncolorspace=709\nwidth=" << width
          << "\nheight=" << height << "\ndisplay_aspect_num=" << width
          << "\ndisplay_aspect_den=" << height << "\n";
      // Modules that want a display or print noise are left out; real_time=0
      // keeps every frame, however late, where a busy machine drops some.
      return "MLT_REPOSITORY_DENY=libmltqt:libmltglaxnimate:libmltjackrack melt -silent -profile "
             "'" +
             Path("profile").string() + "' " + args +
             " -consumer avformat:out%04d.png vcodec=png pix_fmt=rgba real_time=0";
    }
    // A registry of the test's own, so that GStreamer finds the plug-ins
    // through FREI0R_PATH whatever it had cached; unsynchronised, so that
    // no late frame is dropped.
    const auto read = [](const std::string& name) {
      return " multifilesrc location=" + name +
             "%04d.png index=1 caps=image/png,framerate=25/1 ! pngdec ! videoconvert ! "
             "video/x-raw,format=RGBA ";
    };
    const std::string write =
        " ! videoconvert ! pngenc ! multifilesink sync=false location=out%04d.png index=1 ";
    return "GST_REGISTRY=registry.bin gst-launch-1.0 -q " +
           (mixer ? args + write + read("in") + "! mix.sink_0" + read("second") + "! mix.sink_1"
                  : read("in") + "! " + args + write);
  }
};

class Frei0rHost : public Frei0rHosts, public ::testing::WithParamInterface<HostCase> {};

TEST_P(Frei0rHost, FramesEqualTheCommandLines) {
  const HostCase& c = GetParam();
  RequireProgram(c.program);
  if (IsSkipped() || HasFailure()) return;
  std::vector<Frame> inputs, seconds;
  for (int i = 1; i <= c.frames; ++i) {
    inputs.push_back(Pattern(c.width, c.height, i));
    seconds.push_back(Ramp(c.width, c.height, i));
    WritePng(Path(FrameName("in", i)), inputs.back());
    WritePng(Path(FrameName("second", i)), seconds.back());
  }
  const bool mixer = *c.secondOption != '\0';
  const std::string line = Line(c.program, c.width, c.height, c.args, mixer);
  const clitest::RunResult run = RunHost(c.program, line, c.frames);
  ASSERT_EQ(run.status, 0) << line << "\n" << run.err;
  for (int i = 0; i < c.frames; ++i) {
    SCOPED_TRACE(FrameName("out", i + 1));
    ASSERT_TRUE(fs::exists(Path(FrameName("out", i + 1))));
    const Frame expected = CliRender(std::to_string(i), inputs[i], c.cli,
                                     mixer ? &seconds[i] : nullptr, c.secondOption);
    EXPECT_NE(FirstDifference(inputs[i], expected), "") << "the settings do nothing";
    EXPECT_EQ(FirstDifference(expected, ReadPng(Path(FrameName("out", i + 1)))), "");
  }
  EXPECT_FALSE(fs::exists(Path(FrameName("out", c.frames + 1))));
}

// Parameters by name and by position. Debian's ffmpeg 5.1 pads the rows it
// hands a frei0r plug-in to 64 bytes, which frei0r frames cannot describe:
// widths must be a multiple of 16 there (README); any height does. melt
// 7.12 now and then writes nothing, or never stops, for a multitrack of
// single images (in=0 out=0): the mixer gets clips of a few frames.
const std::string kMeltMixer =
    "avformat:in%04d.png -track avformat:second%04d.png -transition "
    "frei0r.quorvant_blur_mixer a_track=0 b_track=1 ";
INSTANTIATE_TEST_SUITE_P(
    Hosts, Frei0rHost,
    ::testing::Values(
        HostCase{"FfmpegImage", "ffmpeg", 1, 48, 31,
                 "frei0r=filter_name=quorvant_blur:filter_params=0.0125|Diamond "
                 "(1D)|n|0.005|input|Red|No Tiling|0.5|0.5|0.1|0.1|y",
                 "--amount 10 --type diamond --amount-v 4 --bcl-channel red --invert"},
        HostCase{"FfmpegClip", "ffmpeg", 3, 48, 32, "frei0r=quorvant_blur:0.0075|star",
                 "--amount 6 --type star"},
        HostCase{"MeltImage", "melt", 1, 40, 30,
                 "in0001.png in=0 out=0 -filter frei0r.quorvant_blur 'Blur Amount=0.01' "
                 "'Blur Type=Box' 'Control Tile Mode=Stretch To Fit' 'Control Scale X=0.25' "
                 "'Compound Shapes=0.01'",
                 "--amount 8 --type box --tile stretch --scale-x 250 --compound-shapes 10"},
        HostCase{"MeltClip", "melt", 3, 48, 32,
                 "avformat:in%04d.png -filter frei0r.quorvant_blur 0=0.0075 1=gaussian",
                 "--amount 6 --type gaussian"},
        HostCase{"MeltMixerControl", "melt", 2, 48, 32,
                 kMeltMixer + "'Blur Amount=0.01' 'Blur Type=Star' 'Control Layer=second'",
                 "--amount 8 --type star", "--bcl"},
        HostCase{"MeltMixerShape", "melt", 2, 48, 32,
                 kMeltMixer + "'Blur Amount=0.005' 'Blur Type=Custom Shape' "
                              "'Custom Shape Layer=second' 'Control Layer=none'",
                 "--amount 4 --type custom --bcl none", "--shape"},
        HostCase{"GStreamerImage", "gst-launch-1.0", 1, 37, 23,
                 "frei0r-filter-quorvant-blur blur-amount=0.01 blur-type='Sharp Diamond' "
                 "control-channel=green uniform-blur-amount=false vertical-blur-amount=0.02",
                 "--amount 8 --type sharp-diamond --bcl-channel green --amount-v 16"},
        HostCase{"GStreamerClip", "gst-launch-1.0", 3, 48, 32,
                 "frei0r-filter-quorvant-blur blur-amount=0.0075 blur-type=spiral",
                 "--amount 6 --type spiral"},
        HostCase{"GStreamerMixer", "gst-launch-1.0", 2, 48, 32,
                 "frei0r-mixer-quorvant-blur-mixer name=mix blur-amount=0.01 control-layer=second",
                 "--amount 8", "--bcl"}),
    [](const auto& test) { return std::string(test.param.name); });

// With "threads" set, MLT gives the plug-in strips of each frame.
TEST_F(Frei0rHosts, MeltStripsAreReported) {
  RequireProgram("melt");
  if (IsSkipped() || HasFailure()) return;
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "MLT strips no more than CPUs";
  WritePng(Path("in0001.png"), Pattern(48, 32));
  const clitest::RunResult run = RunHost(
      "melt",
      Line("melt", 48, 32,
           "in0001.png in=0 out=0 -filter frei0r.quorvant_blur 'Blur Amount=0.01' threads=2",
           false),
      1);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("leave \"threads\" unset"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace frei0rtest
