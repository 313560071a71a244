// The plug-ins loaded in-process, as a host loads them: what they tell a
// host, what they do with bad values and odd frames, and their frames
// against the command-line host's for every parameter.
#include <set>
#include <sstream>
#include <thread>

#include "frei0r/Frei0rHarness.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace frei0rtest {
namespace {

// What get_param_value shows: text, or a number as `<<` writes it.
std::string Get(const Plugin& plugin, f0r_instance_t instance, const std::string& name) {
  f0r_param_info_t param{};
  plugin.get_param_info(&param, plugin.Index(name));
  if (param.type == F0R_PARAM_STRING) {
    const char* text = nullptr;
    plugin.get_param_value(instance, &text, plugin.Index(name));
    return text ? text : "(null)";
  }
  double value = -1;
  plugin.get_param_value(instance, &value, plugin.Index(name));
  std::ostringstream text;
  text << value;
  return text.str();
}

// Both plug-ins show the effect's parameters in its order, with its
// defaults and ranges, under names GStreamer can tell apart.
TEST(Frei0rInfo, ParametersAreTheEffects) {
  const softhost::EffectModule module(QB_MODULE_PATH);
  softhost::Host host;
  ASSERT_EQ(host.Setup(module.Entry()), PF_Err_NONE);
  const std::vector<PF_ParamDef> params = host.Params();
  const Plugin filter("quorvant_blur"), mixer("quorvant_blur_mixer");
  f0r_plugin_info_t f{}, m{};
  filter.get_plugin_info(&f);
  mixer.get_plugin_info(&m);
  EXPECT_EQ(f.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(m.plugin_type, F0R_PLUGIN_TYPE_MIXER2);
  EXPECT_STRNE(f.name, m.name);  // GStreamer names its elements after them
  const std::pair<const char*, ParamIndex> rows[] = {{"Blur Amount", ParamBlurAmount},
                                                     {"Blur Type", ParamBlurType},
                                                     {"Uniform Blur Amount", ParamUniformAmount},
                                                     {"Vertical Blur Amount", ParamVerticalAmount},
                                                     {"Control Layer", ParamBCLLayer},
                                                     {"Control Channel", ParamBCLChannel},
                                                     {"Control Tile Mode", ParamBCLTileMode},
                                                     {"Control Center X", ParamBCLCenter},
                                                     {"Control Center Y", ParamBCLCenter},
                                                     {"Control Scale X", ParamBCLScaleX},
                                                     {"Control Scale Y", ParamBCLScaleY},
                                                     {"Invert Control", ParamBCLInvert},
                                                     {"Compound Shapes", ParamBCLCompoundShapes},
                                                     {"Custom Shape Layer", ParamShapeLayer},
                                                     {"Shape Channel", ParamShapeChannel},
                                                     {"Smooth Shape", ParamShapeSmooth},
                                                     {"Shape Smoothing", ParamShapeSmoothAmount},
                                                     {"Output View", ParamOutputView}};
  ASSERT_EQ(f.num_params, int(std::size(rows)));
  ASSERT_EQ(m.num_params, f.num_params);
  f0r_instance_t instance = filter.construct(64, 48);
  std::set<std::string> gstNames;
  for (int i = 0; i < f.num_params; ++i) {
    const auto& [name, index] = rows[i];
    f0r_param_info_t param{};
    filter.get_param_info(&param, i);
    EXPECT_STREQ(param.name, name);
    std::string gst = name;  // lower case, anything else a dash
    for (char& c : gst) c = std::isalnum(static_cast<unsigned char>(c)) ? std::tolower(c) : '-';
    EXPECT_TRUE(gstNames.insert(gst).second) << gst;

    // Sliders show 0 to 1 for 0 to their maximum, points a fraction of the
    // frame, layers "input" for the effect's own layer.
    const PF_ParamDef& def = params.at(index);
    std::ostringstream expected;
    if (def.param_type == PF_Param_FIX_SLIDER) {
      expected << double(def.u.fd.dephault) / def.u.fd.valid_max;
    } else if (def.param_type == PF_Param_CHECKBOX) {
      expected << (def.u.bd.dephault ? 1 : 0);
    } else if (def.param_type == PF_Param_POINT) {
      expected << def.u.td.x_dephault / 65536.0 / 100.0;
    } else if (def.param_type == PF_Param_LAYER) {
      expected << (def.u.ld.dephault == PF_LayerDefault_MYSELF ? "input" : "none");
    } else {
      std::string choices = def.u.pd.u.namesptr;
      for (int n = 1; n < def.u.pd.dephault; ++n) choices.erase(0, choices.find('|') + 1);
      expected << choices.substr(0, choices.find('|'));
    }
    EXPECT_EQ(Get(filter, instance, name), expected.str()) << name;
  }
  filter.destruct(instance);
}

TEST(Frei0rValues, BadValuesAreLimitedOrGiveTheDefaultAndNeverCrash) {
  const Plugin plugin("quorvant_blur");
  f0r_instance_t instance = plugin.construct(16, 16);
  const std::pair<const char*, const char*> rows[] = {
      {"Blur Amount=2.5", "1"},
      {"Blur Amount=-1", "0"},
      {"Blur Amount=inf", "1"},
      {"Blur Amount=nan", "0"},
      {"Blur Amount=nan", "0"},  // said once only: hosts set every frame
      {"Uniform Blur Amount=0.2", "0"},
      {"Uniform Blur Amount=nan", "1"},
      {"Blur Type=sharp diamond", "Sharp Diamond (1D)"},
      {"Blur Type=  STAR (2D) ", "Star (2D)"},
      {"Blur Type=blurry", "Diamond (1D)"},
      {"Control Tile Mode=Stretch To Fit", "Stretch To Fit"},
      {"Control Layer=second", "input"},  // the filter has no second input
      {"Control Layer=NONE", "none"}};
  ::testing::internal::CaptureStderr();
  for (const auto& [setting, expected] : rows) {
    plugin.Set(instance, setting);
    const std::string name = std::string(setting).substr(0, std::string(setting).find('='));
    EXPECT_EQ(Get(plugin, instance, name), expected) << setting;
  }
  const char* none = nullptr;
  plugin.set_param_value(instance, &none, plugin.Index("Control Tile Mode"));
  EXPECT_EQ(Get(plugin, instance, "Control Tile Mode"), "No Tiling");

  double value = 0.5;
  plugin.set_param_value(instance, &value, -1);
  plugin.set_param_value(instance, &value, 99);
  plugin.set_param_value(instance, nullptr, 0);
  plugin.get_param_value(instance, &value, 99);
  plugin.get_param_value(instance, nullptr, 0);
  plugin.set_param_value(nullptr, &value, 0);  // GStreamer does this
  plugin.get_param_value(nullptr, &value, 0);
  plugin.update(nullptr, 0, nullptr, nullptr);
  const std::string err = ::testing::internal::GetCapturedStderr();
  for (const char* said : {"\"Blur Amount\": 2.5 is outside 0 to 1", "no choice \"blurry\"",
                           "no layer \"second\"", "no parameter 99"}) {
    EXPECT_NE(err.find(said), std::string::npos) << said << "\n" << err;
  }
  const std::string nan = "\"Blur Amount\": not a number";
  EXPECT_EQ(err.find(nan, err.find(nan) + 1), std::string::npos) << err;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);)
    EXPECT_EQ(line.rfind("quorvant_blur: ", 0), 0u);
  plugin.destruct(instance);

  const Plugin mixer("quorvant_blur_mixer");
  f0r_instance_t mixed = mixer.construct(16, 16);
  mixer.Set(mixed, "Custom Shape Layer=Second");
  EXPECT_EQ(Get(mixer, mixed, "Custom Shape Layer"), "second");
  mixer.destruct(mixed);
}

// Every parameter once, through the filter and the mixer, and frames of odd
// sizes, against the command-line host with the same settings.
TEST_F(Frei0rTest, EveryParameterMatchesTheCommandLine) {
  struct {
    const char* plugin;
    const char* settings;
    std::string cli;
    const char* secondOption = "";  // the mixer's second input, for the command line
  } const cases[] = {
      {"quorvant_blur", "Blur Amount=0.01", "--amount 8"},
      {"quorvant_blur",
       "Blur Amount=0.01; Blur Type=Gaussian; Uniform Blur Amount=0; Vertical Blur Amount=0.0025",
       "--amount 8 --type gaussian --amount-v 2"},
      {"quorvant_blur",
       "Blur Amount=0.0125; Blur Type=Box (1D); Control Channel=Red; Invert Control=1; "
       "Compound Shapes=0.004",
       "--amount 10 --type box --bcl-channel red --invert --compound-shapes 4"},
      {"quorvant_blur",
       "Blur Amount=0.01; Blur Type=Star; Control Tile Mode=Center Image; Control Center X=0.25; "
       "Control Center Y=0.75; Control Scale X=0.05; Control Scale Y=0.2",
       "--amount 8 --type star --tile center --bcl-center 8,18 --scale-x 50 --scale-y 200"},
      {"quorvant_blur", "Blur Amount=0.01; Control Layer=none; Output View=View Kernel",
       "--amount 8 --bcl none --view kernel"},
      {"quorvant_blur",
       "Blur Amount=0.01; Blur Type=Custom Shape; Custom Shape Layer=input; Shape Channel=Green; "
       "Smooth Shape=1; Shape Smoothing=0.002",
       "--amount 8 --type custom --shape self --shape-channel green --shape-blur 2"},
      {"quorvant_blur_mixer", "Blur Amount=0.01; Blur Type=Cross; Control Layer=second",
       "--amount 8 --type cross", "--bcl"},
      {"quorvant_blur_mixer",
       "Blur Amount=0.01; Blur Type=Custom Shape; Custom Shape Layer=second; Control Layer=none",
       "--amount 8 --type custom --bcl none", "--shape"}};
  const Frame input = Pattern(32, 24), second = Ramp(32, 24);
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cli);
    const Frame* other = *c.secondOption ? &second : nullptr;
    const Frame expected =
        CliRender("case" + std::to_string(n++), input, c.cli, other, c.secondOption);
    const Frame actual = Plugin(c.plugin).Render(c.settings, input, other);
    EXPECT_EQ(FirstDifference(expected, actual), "");
    EXPECT_NE(FirstDifference(input, actual), "") << "the settings left the frame as it was";
  }
  for (const auto& [width, height] : {std::pair{1, 1}, {2, 3}, {13, 7}, {5, 1}, {1, 9}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const Frame odd = Pattern(width, height, 1);
    EXPECT_EQ(
        FirstDifference(CliRender("odd", odd, "--amount 4 --type star"),
                        Plugin("quorvant_blur").Render("Blur Amount=0.005; Blur Type=star", odd)),
        "");
  }
}

TEST(Frei0rFrames, EmptyOversizedAndMissingFramesDoNoHarm) {
  const Plugin plugin("quorvant_blur");
  f0r_instance_t empty = plugin.construct(0, 0);
  uint32_t pixel = 0x12345678;
  plugin.update(empty, 0, &pixel, &pixel);
  EXPECT_EQ(pixel, 0x12345678u);
  plugin.destruct(empty);

  // Wider than the host's 16-bit rectangles reach: passed through unblurred.
  ::testing::internal::CaptureStderr();
  const Frame wide = Pattern(40000, 1);
  EXPECT_EQ(FirstDifference(wide, plugin.Render("Blur Amount=0.01", wide)), "");
  // A mixer whose host gives no second input blurs as with none.
  const Plugin mixer("quorvant_blur_mixer");
  const Frame input = Pattern(24, 16);
  EXPECT_EQ(FirstDifference(mixer.Render("Blur Amount=0.01; Control Layer=none", input),
                            mixer.Render("Blur Amount=0.01; Control Layer=second", input)),
            "");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("pass through unblurred"), std::string::npos) << err;
  EXPECT_NE(err.find("the host gave none"), std::string::npos) << err;
}

// MLT's "threads" property hands one instance the strips of a frame, with
// the frame's time, from several threads at once; one thread's frames, or
// another part of a frame at another time, are no strips.
TEST(Frei0rThreads, StripsOfOneFrameAreReported) {
  const Plugin plugin("quorvant_blur");
  const Frame input = Pattern(32, 32);
  Frame out(32, 32);
  f0r_instance_t instance = plugin.construct(32, 16);
  plugin.Set(instance, "Blur Amount=0.01");
  const auto strip = [&](double time, size_t at) {  // at: in pixels
    plugin.update(instance, time, input.Pixels() + at, out.Pixels() + at);
  };
  ::testing::internal::CaptureStderr();
  strip(0.04, 0), strip(0.08, 0), strip(0.12, 512);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ::testing::internal::CaptureStderr();
  for (int frame = 0; frame < 3; ++frame) {
    std::thread top(strip, frame, 0);
    strip(frame, 512);
    top.join();
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("\"threads\""), std::string::npos) << err;
  plugin.destruct(instance);
}

}  // namespace
}  // namespace frei0rtest
