#include <gtest/gtest.h>

#include "shapes/ShapesSupport.h"
#include "shell/EntryPoint.h"
#include "shell/ParamIndices.h"

namespace {

using shapestest::FillSparse;

struct RenderCase {
  const char* name;
  int32_t blurType;  // 1-based popup value
  int32_t view;      // 1-based popup value
  bool deep;
};

// Custom shape and control layer chosen, over every two-dimensional shape
// and the cross, in the three views.
const RenderCase kRenders[] = {
    {"custom deep", 8, 1, true},
    {"custom bcl view", 8, 3, true},
    {"cross", 7, 1, false},
    {"star kernel", 5, 2, true},
};

struct Fault {
  const char* name;
  void (*apply)(softhost::HostFaults&);
};

const Fault kFaults[] = {
    {"none", [](softhost::HostFaults&) {}},
    {"first new world", [](softhost::HostFaults& f) { f.failNewWorldAt = 0; }},
    {"area sample", [](softhost::HostFaults& f) { f.failAreaSampleAt = 3; }},
    {"iterate", [](softhost::HostFaults& f) { f.failIterateAt = 1; }},
    {"fill", [](softhost::HostFaults& f) { f.failFillAt = 1; }},
    {"abort later", [](softhost::HostFaults& f) { f.abortAfterPolls = 40; }},
};

// Whatever the render does or fails at, both chosen layers go back to the
// host and every world the effect asked for is disposed.
TEST(LayerCheckin, ChosenLayersComeBackOnEveryPath) {
  for (const RenderCase& r : kRenders) {
    for (const Fault& f : kFaults) {
      SCOPED_TRACE(testing::Message() << r.name << ", fault: " << f.name);
      softhost::Host host;
      ASSERT_EQ(host.Setup(&EffectMain), PF_Err_NONE);
      softhost::SoftWorld input(24, 18, r.deep), output(24, 18, r.deep);
      softhost::SoftWorld shape(16, 16, false), control(20, 20, r.deep);
      FillSparse(input.World(), 1, 4);
      FillSparse(shape.World(), 2, 1);
      FillSparse(control.World(), 3, 1);
      host.SetInput(input.World());
      host.SetLayer(ParamShapeLayer, {softhost::LayerChoice::Image, shape.World()});
      host.SetLayer(ParamBCLLayer, {softhost::LayerChoice::Image, control.World()});
      auto& params = host.Params();
      params[ParamOutputView].u.pd.value = r.view;
      params[ParamBlurType].u.pd.value = r.blurType;
      params[ParamBlurAmount].u.fd.value = 6 << 16;
      params[ParamShapeSmooth].u.bd.value = 1;
      params[ParamBCLCompoundShapes].u.fd.value = 4 << 16;
      f.apply(host.Faults());
      host.ResetFaultCounters();

      const PF_Err err = host.Render(&EffectMain, output.World());
      if (&f == &kFaults[0]) {
        EXPECT_EQ(err, PF_Err_NONE);
      }
      EXPECT_EQ(host.CheckedOutLayers(), 0);
      EXPECT_EQ(host.LiveWorlds(), 0);
    }
  }
}

}  // namespace
