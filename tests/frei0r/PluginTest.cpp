// The plug-ins loaded in-process, as a host loads them: what they tell a
// host, what they do with bad values and odd frames, and their frames
// against the command-line host's for every parameter.
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "frei0r/Frei0rHarness.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace frei0rtest {
namespace {

using Values = std::map<std::string, std::string>;

// The parameters as the effect registers them.
std::vector<PF_ParamDef> Registered() {
  const softhost::EffectModule module(QB_MODULE_PATH);
  softhost::Host host;
  EXPECT_EQ(host.Setup(module.Entry()), PF_Err_NONE);
  return host.Params();
}

std::string Choice(const PF_PopupDef& popup, int value) {
  std::string names = popup.u.namesptr;
  for (int i = 1; i < value; ++i) names.erase(0, names.find('|') + 1);
  return names.substr(0, names.find('|'));
}

double GetNumber(const Plugin& plugin, f0r_instance_t instance, const std::string& name) {
  double value = -1;
  plugin.get_param_value(instance, &value, plugin.Index(name));
  return value;
}

std::string GetText(const Plugin& plugin, f0r_instance_t instance, const std::string& name) {
  const char* text = nullptr;
  plugin.get_param_value(instance, &text, plugin.Index(name));
  return text ? text : "(null)";
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(Frei0rInfo, BothPluginsDescribeThemselvesAlike) {
  const Plugin filter("quorvant_blur");
  const Plugin mixer("quorvant_blur_mixer");
  ASSERT_TRUE(filter.handle && mixer.handle);
  f0r_plugin_info_t f{}, m{};
  filter.get_plugin_info(&f);
  mixer.get_plugin_info(&m);
  EXPECT_EQ(f.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(m.plugin_type, F0R_PLUGIN_TYPE_MIXER2);
  EXPECT_EQ(f.color_model, F0R_COLOR_MODEL_RGBA8888);
  EXPECT_EQ(m.color_model, F0R_COLOR_MODEL_RGBA8888);
  EXPECT_EQ(f.frei0r_version, FREI0R_MAJOR_VERSION);
  EXPECT_STRNE(f.name, m.name);  // GStreamer names its elements after them
  ASSERT_EQ(f.num_params, m.num_params);

  std::set<std::string> gstNames;
  for (int i = 0; i < f.num_params; ++i) {
    f0r_param_info_t a{}, b{};
    filter.get_param_info(&a, i);
    mixer.get_param_info(&b, i);
    EXPECT_STREQ(a.name, b.name);
    EXPECT_EQ(a.type, b.type);
    EXPECT_TRUE(a.type == F0R_PARAM_DOUBLE || a.type == F0R_PARAM_BOOL ||
                a.type == F0R_PARAM_STRING)
        << a.name;  // MLT sets no colours or positions
    EXPECT_GT(std::strlen(a.explanation), 20u) << a.name;
    // GStreamer's property names: lower case, anything else a dash.
    std::string gst = a.name;
    for (char& c : gst) c = std::isalnum(static_cast<unsigned char>(c)) ? std::tolower(c) : '-';
    EXPECT_TRUE(gstNames.insert(gst).second) << gst;
  }
}

// What get_param_value shows on a fresh instance is what the effect
// registered, and each explanation's range is the registered one.
TEST(Frei0rInfo, DefaultsAndRangesAreTheEffects) {
  const std::vector<PF_ParamDef> params = Registered();
  const Plugin plugin("quorvant_blur");
  f0r_instance_t instance = plugin.construct(64, 48);
  ASSERT_NE(instance, nullptr);
  const std::pair<const char*, ParamIndex> rows[] = {
      {"Blur Amount", ParamBlurAmount},
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
      {"Output View", ParamOutputView},
  };
  f0r_plugin_info_t info{};
  plugin.get_plugin_info(&info);
  EXPECT_EQ(info.num_params, static_cast<int>(std::size(rows)));
  for (const auto& [name, index] : rows) {
    SCOPED_TRACE(name);
    const int at = plugin.Index(name);
    ASSERT_GE(at, 0);
    const PF_ParamDef& def = params.at(index);
    f0r_param_info_t param{};
    plugin.get_param_info(&param, at);
    switch (def.param_type) {
      case PF_Param_FIX_SLIDER: {
        const double max = def.u.fd.valid_max / 65536.0;
        EXPECT_NEAR(GetNumber(plugin, instance, name) * max, def.u.fd.dephault / 65536.0, 1e-9);
        const std::string explanation = param.explanation;
        const std::string range = "0 to 1 stands for 0 to ";
        const size_t found = explanation.find(range);
        ASSERT_NE(found, std::string::npos) << explanation;
        EXPECT_EQ(std::stod(explanation.substr(found + range.size())), max) << explanation;
        break;
      }
      case PF_Param_POPUP:
        EXPECT_EQ(GetText(plugin, instance, name), Choice(def.u.pd, def.u.pd.dephault));
        break;
      case PF_Param_CHECKBOX:
        EXPECT_EQ(GetNumber(plugin, instance, name), def.u.bd.dephault ? 1.0 : 0.0);
        break;
      case PF_Param_LAYER:
        EXPECT_EQ(GetText(plugin, instance, name),
                  def.u.ld.dephault == PF_LayerDefault_MYSELF ? "input" : "none");
        break;
      case PF_Param_POINT:
        EXPECT_EQ(GetNumber(plugin, instance, name), def.u.td.x_dephault / 65536.0 / 100.0);
        break;
      default:
        ADD_FAILURE() << "unexpected parameter type " << def.param_type;
    }
  }
  plugin.destruct(instance);
}

TEST(Frei0rValues, OutOfRangeNumbersAreLimitedAndUnknownNamesGiveTheDefault) {
  const Plugin plugin("quorvant_blur");
  f0r_instance_t instance = plugin.construct(16, 16);
  ASSERT_NE(instance, nullptr);
  const int amount = plugin.Index("Blur Amount");
  const int uniform = plugin.Index("Uniform Blur Amount");
  auto set = [&](int index, double value) { plugin.set_param_value(instance, &value, index); };
  auto setText = [&](const char* name, const char* text) {
    plugin.set_param_value(instance, &text, plugin.Index(name));
  };

  ::testing::internal::CaptureStderr();
  set(amount, 2.5);
  EXPECT_EQ(GetNumber(plugin, instance, "Blur Amount"), 1.0);
  set(amount, -1);
  EXPECT_EQ(GetNumber(plugin, instance, "Blur Amount"), 0.0);
  set(amount, std::numeric_limits<double>::infinity());
  EXPECT_EQ(GetNumber(plugin, instance, "Blur Amount"), 1.0);
  set(amount, std::nan(""));
  EXPECT_EQ(GetNumber(plugin, instance, "Blur Amount"), 0.0);  // the default
  set(amount, std::nan(""));
  set(uniform, 0.2);
  EXPECT_EQ(GetNumber(plugin, instance, "Uniform Blur Amount"), 0.0);
  set(uniform, std::nan(""));
  EXPECT_EQ(GetNumber(plugin, instance, "Uniform Blur Amount"), 1.0);

  setText("Blur Type", "sharp diamond");
  EXPECT_EQ(GetText(plugin, instance, "Blur Type"), "Sharp Diamond (1D)");
  setText("Blur Type", "  STAR (2D) ");
  EXPECT_EQ(GetText(plugin, instance, "Blur Type"), "Star (2D)");
  setText("Blur Type", "blurry");
  EXPECT_EQ(GetText(plugin, instance, "Blur Type"), "Diamond (1D)");
  setText("Control Tile Mode", "Stretch To Fit");
  EXPECT_EQ(GetText(plugin, instance, "Control Tile Mode"), "Stretch To Fit");
  setText("Control Tile Mode", nullptr);
  EXPECT_EQ(GetText(plugin, instance, "Control Tile Mode"), "No Tiling");
  setText("Control Layer", "second");  // the filter has no second input
  EXPECT_EQ(GetText(plugin, instance, "Control Layer"), "input");
  setText("Control Layer", "NONE");
  EXPECT_EQ(GetText(plugin, instance, "Control Layer"), "none");

  // Nothing a host can pass may crash the plug-in.
  double value = 0.5;
  plugin.set_param_value(instance, &value, -1);
  plugin.set_param_value(instance, &value, 99);
  plugin.set_param_value(instance, nullptr, amount);
  plugin.get_param_value(instance, &value, 99);
  plugin.get_param_value(instance, nullptr, amount);
  plugin.set_param_value(nullptr, &value, amount);  // GStreamer does this
  plugin.get_param_value(nullptr, &value, amount);
  plugin.update(nullptr, 0, nullptr, nullptr);
  const std::string err = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(Count(err, "\"Blur Amount\": not a number"), 1) << err;
  EXPECT_EQ(Count(err, "\"Blur Amount\": 2.5 is outside 0 to 1"), 1) << err;
  EXPECT_EQ(Count(err, "no choice \"blurry\""), 1) << err;
  EXPECT_EQ(Count(err, "no layer \"second\""), 1) << err;
  EXPECT_EQ(Count(err, "no parameter 99"), 2) << err;  // set and get
  EXPECT_EQ(Count(err, "\n"), Count(err, "quorvant_blur: ")) << err;

  const Plugin mixer("quorvant_blur_mixer");
  f0r_instance_t mixed = mixer.construct(16, 16);
  const char* second = "Second";
  mixer.set_param_value(mixed, &second, mixer.Index("Custom Shape Layer"));
  EXPECT_EQ(GetText(mixer, mixed, "Custom Shape Layer"), "second");
  mixer.destruct(mixed);
  plugin.destruct(instance);
}

// Every parameter once, through the filter and the mixer, against the
// command-line host with the same settings.
struct RenderCase {
  const char* plugin;
  Values values;
  std::string cli;
  const char* secondOption = "";  // the mixer's second input, for the command line
};

class Frei0rRender : public Frei0rTest {};

TEST_F(Frei0rRender, EveryParameterMatchesTheCommandLine) {
  const RenderCase cases[] = {
      {"quorvant_blur", {{"Blur Amount", "0.01"}}, "--amount 8"},
      {"quorvant_blur",
       {{"Blur Amount", "0.01"},
        {"Blur Type", "Gaussian"},
        {"Uniform Blur Amount", "0"},
        {"Vertical Blur Amount", "0.0025"}},
       "--amount 8 --type gaussian --amount-v 2"},
      {"quorvant_blur",
       {{"Blur Amount", "0.0125"},
        {"Blur Type", "Box (1D)"},
        {"Control Channel", "Red"},
        {"Invert Control", "1"},
        {"Compound Shapes", "0.004"}},
       "--amount 10 --type box --bcl-channel red --invert --compound-shapes 4"},
      {"quorvant_blur",
       {{"Blur Amount", "0.01"},
        {"Blur Type", "Star"},
        {"Control Tile Mode", "Center Image"},
        {"Control Center X", "0.25"},
        {"Control Center Y", "0.75"},
        {"Control Scale X", "0.05"},
        {"Control Scale Y", "0.2"}},
       "--amount 8 --type star --tile center --bcl-center 8,18 --scale-x 50 --scale-y 200"},
      {"quorvant_blur",
       {{"Blur Amount", "0.01"}, {"Control Layer", "none"}, {"Output View", "View Kernel"}},
       "--amount 8 --bcl none --view kernel"},
      {"quorvant_blur",
       {{"Blur Amount", "0.01"},
        {"Blur Type", "Custom Shape"},
        {"Custom Shape Layer", "input"},
        {"Shape Channel", "Green"},
        {"Smooth Shape", "1"},
        {"Shape Smoothing", "0.002"}},
       "--amount 8 --type custom --shape self --shape-channel green --shape-blur 2"},
      {"quorvant_blur_mixer",
       {{"Blur Amount", "0.01"}, {"Blur Type", "Cross"}, {"Control Layer", "second"}},
       "--amount 8 --type cross",
       "--bcl"},
      {"quorvant_blur_mixer",
       {{"Blur Amount", "0.01"},
        {"Blur Type", "Custom Shape"},
        {"Custom Shape Layer", "second"},
        {"Control Layer", "none"}},
       "--amount 8 --type custom --bcl none",
       "--shape"},
  };
  const Frame input = Pattern(32, 24);
  const Frame second = Ramp(32, 24);
  int n = 0;
  for (const RenderCase& c : cases) {
    SCOPED_TRACE(c.cli);
    const bool mixed = *c.secondOption != '\0';
    const Plugin plugin(c.plugin);
    const Frame expected = CliRender("case" + std::to_string(n++), input, c.cli,
                                     mixed ? &second : nullptr, c.secondOption);
    const Frame actual = plugin.Render(c.values, input, mixed ? &second : nullptr);
    EXPECT_EQ(FirstDifference(expected, actual), "");
    EXPECT_NE(FirstDifference(input, actual), "") << "the settings left the frame as it was";
  }
}

TEST_F(Frei0rRender, OddAndTinyFramesMatchTheCommandLine) {
  const Plugin plugin("quorvant_blur");
  for (const auto& [width, height] : {std::pair{1, 1}, {2, 3}, {13, 7}, {5, 1}, {1, 9}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const Frame input = Pattern(width, height, 1);
    const Frame expected = CliRender("tiny", input, "--amount 4 --type star");
    EXPECT_EQ(
        FirstDifference(expected,
                        plugin.Render({{"Blur Amount", "0.005"}, {"Blur Type", "star"}}, input)),
        "");
  }
}

TEST(Frei0rFrames, EmptyAndOversizedFramesDoNoHarm) {
  const Plugin plugin("quorvant_blur");
  f0r_instance_t empty = plugin.construct(0, 0);
  ASSERT_NE(empty, nullptr);
  uint32_t pixel = 0x12345678;
  plugin.update(empty, 0, &pixel, &pixel);
  EXPECT_EQ(pixel, 0x12345678u);
  plugin.destruct(empty);

  // Wider than the host's 16-bit rectangles reach: passed through unblurred.
  ::testing::internal::CaptureStderr();
  const Frame wide = Pattern(40000, 1);
  Frame out(40000, 1);
  f0r_instance_t instance = plugin.construct(40000, 1);
  ASSERT_NE(instance, nullptr);
  double amount = 0.01;
  plugin.set_param_value(instance, &amount, plugin.Index("Blur Amount"));
  plugin.update(instance, 0, wide.Pixels(), out.Pixels());
  plugin.destruct(instance);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(FirstDifference(wide, out), "");
  EXPECT_NE(err.find("pass through unblurred"), std::string::npos) << err;
}

TEST(Frei0rFrames, AMixerWithoutItsSecondInputUsesNone) {
  const Plugin mixer("quorvant_blur_mixer");
  const Frame input = Pattern(24, 16);
  ::testing::internal::CaptureStderr();
  const Frame alone = mixer.Render({{"Blur Amount", "0.01"}, {"Control Layer", "second"}}, input);
  const std::string err = ::testing::internal::GetCapturedStderr();
  const Frame none = mixer.Render({{"Blur Amount", "0.01"}, {"Control Layer", "none"}}, input);
  EXPECT_EQ(FirstDifference(none, alone), "");
  EXPECT_NE(err.find("the host gave none"), std::string::npos) << err;
}

// Hosts render several frames at once, each instance on its own thread.
TEST(Frei0rThreads, InstancesRenderAtOnceAsTheyDoOneAfterAnother) {
  const Plugin plugin("quorvant_blur");
  const std::vector<Values> settings = {
      {{"Blur Amount", "0.01"}},
      {{"Blur Amount", "0.006"}, {"Blur Type", "Star"}},
      {{"Blur Amount", "0.008"}, {"Blur Type", "Gaussian"}, {"Control Layer", "none"}},
      {{"Blur Amount", "0.005"}, {"Blur Type", "Spiral"}, {"Invert Control", "1"}},
  };
  const Frame input = Pattern(40, 28, 2);
  std::vector<Frame> expected;
  for (const Values& values : settings) expected.push_back(plugin.Render(values, input));

  std::vector<std::string> differences(settings.size());
  std::vector<std::thread> threads;
  for (size_t t = 0; t < settings.size(); ++t) {
    threads.emplace_back([&, t] {
      f0r_instance_t instance = plugin.construct(input.width, input.height);
      plugin.Set(instance, settings[t]);
      Frame out(input.width, input.height);
      for (int round = 0; round < 4 && differences[t].empty(); ++round) {
        plugin.update(instance, round / 25.0, input.Pixels(), out.Pixels());
        differences[t] = FirstDifference(expected[t], out);
      }
      plugin.destruct(instance);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t t = 0; t < settings.size(); ++t) EXPECT_EQ(differences[t], "") << "thread " << t;
}

// MLT's "threads" property hands one instance the strips of a frame, with
// the frame's time, from several threads at once.
TEST(Frei0rThreads, StripsOfOneFrameAreReported) {
  const Plugin plugin("quorvant_blur");
  const Frame input = Pattern(32, 32);
  Frame out(32, 32);
  const size_t half = input.rgba.size() / 8;  // in pixels
  f0r_instance_t instance = plugin.construct(32, 16);
  ASSERT_NE(instance, nullptr);
  plugin.Set(instance, {{"Blur Amount", "0.01"}});

  ::testing::internal::CaptureStderr();
  plugin.update(instance, 0.04, input.Pixels(), out.Pixels());
  plugin.update(instance, 0.08, input.Pixels(), out.Pixels());  // a new frame: no strip
  plugin.update(instance, 0.12, input.Pixels() + half, out.Pixels() + half);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  ::testing::internal::CaptureStderr();
  for (int frame = 0; frame < 3; ++frame) {
    std::thread top([&] { plugin.update(instance, frame, input.Pixels(), out.Pixels()); });
    std::thread bottom(
        [&] { plugin.update(instance, frame, input.Pixels() + half, out.Pixels() + half); });
    top.join();
    bottom.join();
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("\"threads\""), std::string::npos) << err;
  plugin.destruct(instance);
}

}  // namespace
}  // namespace frei0rtest
