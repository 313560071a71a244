// The plug-ins in the host programs that load them for real: ffmpeg's
// frei0r filter, melt (MLT, as Kdenlive and Shotcut use it) and GStreamer's
// frei0r elements. Each renders a generated image and a short generated clip
// through PNG files, and every frame must equal the command-line host's
// render of the same frame with the same settings.
#include <fstream>
#include <thread>

#include "frei0r/Frei0rHarness.h"

namespace frei0rtest {
namespace {

namespace fs = std::filesystem;

using MakeFrame = Frame (*)(int width, int height, int frame);

class Frei0rHost : public Frei0rTest {
 protected:
  // Frames 1..count of a clip as name0001.png ...
  std::vector<Frame> WriteClip(const std::string& name, int count, int width, int height,
                               MakeFrame make = Pattern) const {
    std::vector<Frame> frames;
    for (int i = 1; i <= count; ++i) {
      frames.push_back(make(width, height, i));
      WritePng(Path(FrameName(name, i)), frames.back());
    }
    return frames;
  }

  static std::string FrameName(const std::string& name, int i) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", i);
    return name + number + ".png";
  }

  // The host wrote name0001.png ... for these inputs, and no more; each
  // equals the command-line host's render with `cliArgs`.
  void ExpectFrames(const std::string& name, const std::vector<Frame>& inputs,
                    const std::string& cliArgs, const std::vector<Frame>* seconds = nullptr,
                    const std::string& secondOption = "") const {
    for (size_t i = 0; i < inputs.size(); ++i) {
      SCOPED_TRACE(FrameName(name, int(i) + 1));
      const fs::path written = Path(FrameName(name, int(i) + 1));
      ASSERT_TRUE(fs::exists(written));
      const Frame expected = CliRender(name + std::to_string(i), inputs[i], cliArgs,
                                       seconds ? &(*seconds)[i] : nullptr, secondOption);
      EXPECT_NE(FirstDifference(inputs[i], expected), "") << "the settings do nothing";
      EXPECT_EQ(FirstDifference(expected, ReadPng(written)), "");
    }
    EXPECT_FALSE(fs::exists(Path(FrameName(name, int(inputs.size()) + 1))));
  }

  // A profile of the frames' size: melt's default one would rescale them.
  std::string MeltProfile(int width, int height) const {
    std::ofstream(Path("profile"))
        << "description=test\nframe_rate_num=25\nframe_rate_den=1\n"
        << "width=" << width << "\nheight=" << height << "\nprogressive=1\nsample_aspect_num=1\n"
        << "sample_aspect_den=1\ndisplay_aspect_num=" << width << "\ndisplay_aspect_den=" << height
        << "\ncolorspace=709\n";
    return "-profile '" + Path("profile").string() + "'";
  }

  // MLT's modules that want a display or print noise are left out.
  static std::string Melt(const std::string& melt) {
    return "MLT_REPOSITORY_DENY=libmltqt:libmltglaxnimate:libmltjackrack '" + melt + "' -silent";
  }
  // real_time=0: every frame, however late; a busy machine otherwise gets
  // frames dropped, or none written at all.
  static std::string MeltOutput(const std::string& name) {
    return " -consumer avformat:" + name + "%04d.png vcodec=png pix_fmt=rgba real_time=0";
  }

  // A registry of this test's own, so that GStreamer finds the plug-ins
  // through FREI0R_PATH whatever it had cached.
  std::string Gst(const std::string& gst) const {
    return "GST_REGISTRY='" + Path("registry.bin").string() + "' '" + gst + "' -q";
  }
  static std::string GstRead(const std::string& pattern) {
    return "multifilesrc location=" + pattern +
           " index=1 caps=image/png,framerate=25/1 ! "
           "pngdec ! videoconvert ! video/x-raw,format=RGBA";
  }
  // Unsynchronised: against the clock, late frames could be dropped.
  static std::string GstWrite(const std::string& name) {
    return "videoconvert ! pngenc ! multifilesink sync=false location=" + name + "%04d.png index=1";
  }
};

TEST_F(Frei0rHost, FfmpegFiltersAnImageAndAClip) {
  QB_REQUIRE_PROGRAM(ffmpeg, "ffmpeg");
  // Parameters go by position. Debian's ffmpeg 5.1 pads the rows it hands a
  // frei0r plug-in to 64 bytes, which frei0r frames cannot describe: widths
  // must be a multiple of 16 there (README); any height does.
  const auto image = WriteClip("image", 1, 48, 31);
  RunResult run = Run("'" + ffmpeg +
                      "' -v error -i image%04d.png -vf 'frei0r=filter_name=quorvant_blur:"
                      "filter_params=0.0125|Diamond (1D)|n|0.005|input|Red|No Tiling|0.5|0.5|"
                      "0.1|0.1|y' -pix_fmt rgba out%04d.png");
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFrames("out", image, "--amount 10 --type diamond --amount-v 4 --bcl-channel red --invert");

  const auto clip = WriteClip("clip", 3, 48, 32);
  run = Run("'" + ffmpeg +
            "' -v error -i clip%04d.png -vf 'frei0r=quorvant_blur:0.0075|star' -pix_fmt rgba "
            "blurred%04d.png");
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFrames("blurred", clip, "--amount 6 --type star");
}

TEST_F(Frei0rHost, MeltFiltersAnImageAndAClip) {
  QB_REQUIRE_PROGRAM(melt, "melt");
  const auto image = WriteClip("image", 1, 40, 30);
  RunResult run = Run(Melt(melt) + " " + MeltProfile(40, 30) +
                      " image0001.png in=0 out=0 -filter frei0r.quorvant_blur 'Blur Amount=0.01' "
                      "'Blur Type=Box' 'Control Tile Mode=Stretch To Fit' 'Control Scale X=0.25' "
                      "'Compound Shapes=0.01'" +
                      MeltOutput("out"));
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFrames("out", image,
               "--amount 8 --type box --tile stretch --scale-x 250 --compound-shapes 10");

  // Parameters by position work too.
  const auto clip = WriteClip("clip", 3, 48, 32);
  run = Run(Melt(melt) + " " + MeltProfile(48, 32) +
            " avformat:clip%04d.png -filter frei0r.quorvant_blur 0=0.0075 1=gaussian" +
            MeltOutput("blurred"));
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFrames("blurred", clip, "--amount 6 --type gaussian");
}

// melt 7.12 now and then writes nothing, or never stops, for a multitrack of
// single images (in=0 out=0): the mixer gets clips of a few frames.
TEST_F(Frei0rHost, MeltMixesASecondInputAsControlLayerOrShape) {
  QB_REQUIRE_PROGRAM(melt, "melt");
  const auto clip = WriteClip("clip", 2, 48, 32);
  const auto ramps = WriteClip("ramp", 2, 48, 32, Ramp);
  RunResult run = Run(Melt(melt) + " " + MeltProfile(48, 32) +
                      " avformat:clip%04d.png -track avformat:ramp%04d.png -transition "
                      "frei0r.quorvant_blur_mixer a_track=0 b_track=1 'Blur Amount=0.01' "
                      "'Blur Type=Star' 'Control Layer=second'" +
                      MeltOutput("out"));
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFrames("out", clip, "--amount 8 --type star", &ramps, "--bcl");

  const auto shapes = WriteClip("shape", 2, 48, 32, Ramp);
  run = Run(Melt(melt) + " " + MeltProfile(48, 32) +
            " avformat:clip%04d.png -track avformat:shape%04d.png -transition "
            "frei0r.quorvant_blur_mixer a_track=0 b_track=1 'Blur Amount=0.005' "
            "'Blur Type=Custom Shape' 'Custom Shape Layer=second' 'Control Layer=none'" +
            MeltOutput("shaped"));
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFrames("shaped", clip, "--amount 4 --type custom --bcl none", &shapes, "--shape");

  // MLT scales a second input of another size to the frame's before the
  // plug-in sees it: frei0r hands every input at one size.
  WriteClip("small", 2, 20, 10, Ramp);
  run = Run(Melt(melt) + " " + MeltProfile(48, 32) +
            " avformat:clip%04d.png -track avformat:small%04d.png -transition "
            "frei0r.quorvant_blur_mixer a_track=0 b_track=1 'Blur Amount=0.01' "
            "'Control Layer=second'" +
            MeltOutput("scaled"));
  ASSERT_EQ(run.status, 0) << run.err;
  for (int i = 1; i <= 2; ++i) {
    const Frame scaled = ReadPng(Path(FrameName("scaled", i)));
    EXPECT_EQ(scaled.width, 48);
    EXPECT_EQ(scaled.height, 32);
  }
}

// With "threads" set, MLT gives the plug-in strips of each frame.
TEST_F(Frei0rHost, MeltStripsAreReported) {
  QB_REQUIRE_PROGRAM(melt, "melt");
  if (std::thread::hardware_concurrency() < 2) {
    GTEST_SKIP() << "MLT cuts frames into no more strips than there are processors";
  }
  WriteClip("image", 1, 48, 32);
  const RunResult run = Run(Melt(melt) + " " + MeltProfile(48, 32) +
                            " image0001.png in=0 out=0 -filter frei0r.quorvant_blur "
                            "'Blur Amount=0.01' threads=2" +
                            MeltOutput("out"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("quorvant_blur: the host"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("leave \"threads\" unset"), std::string::npos) << run.err;
}

TEST_F(Frei0rHost, GStreamerFiltersAnImageAndAClip) {
  QB_REQUIRE_PROGRAM(gst, "gst-launch-1.0");
  const auto image = WriteClip("image", 1, 37, 23);
  RunResult run = Run(Gst(gst) + " " + GstRead("image%04d.png") +
                      " ! frei0r-filter-quorvant-blur blur-amount=0.01 "
                      "blur-type='Sharp Diamond' control-channel=green uniform-blur-amount=false "
                      "vertical-blur-amount=0.02 ! " +
                      GstWrite("out"));
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFrames("out", image, "--amount 8 --type sharp-diamond --bcl-channel green --amount-v 16");

  const auto clip = WriteClip("clip", 3, 48, 32);
  run = Run(Gst(gst) + " " + GstRead("clip%04d.png") +
            " ! frei0r-filter-quorvant-blur blur-amount=0.0075 blur-type=spiral ! " +
            GstWrite("blurred"));
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFrames("blurred", clip, "--amount 6 --type spiral");
}

TEST_F(Frei0rHost, GStreamerMixesASecondInput) {
  QB_REQUIRE_PROGRAM(gst, "gst-launch-1.0");
  const auto clip = WriteClip("clip", 2, 48, 32);
  const auto ramps = WriteClip("ramp", 2, 48, 32, Ramp);
  const RunResult run = Run(Gst(gst) +
                            " frei0r-mixer-quorvant-blur-mixer name=mix blur-amount=0.01 "
                            "control-layer=second ! " +
                            GstWrite("out") + "  " + GstRead("clip%04d.png") + " ! mix.sink_0  " +
                            GstRead("ramp%04d.png") + " ! mix.sink_1");
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFrames("out", clip, "--amount 8", &ramps, "--bcl");
}

}  // namespace
}  // namespace frei0rtest
