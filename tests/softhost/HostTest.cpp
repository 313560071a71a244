#include <functional>
#include <string>

#include "HostTestSupport.h"

using namespace softhost;
using namespace softhost_test;

namespace {

// The test plays the effect: the entry point runs whatever the test scripts.
using Script = std::function<PF_Err(PF_Cmd, PF_InData*, PF_ParamDef**, PF_LayerDef*, void*)>;
Script gScript;
PF_Err ScriptEntry(PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef* params[],
                   PF_LayerDef* output, void* extra) {
  return gScript(cmd, in, params, output, extra);
}

PF_Err AddParam(PF_InData* in, PF_ParamType type, A_long layerDefault = 0) {
  PF_ParamDef def{};
  def.param_type = type;
  def.u.ld.dephault = layerDefault;
  if (type == PF_Param_POINT) {
    def.u.td.x_dephault = 50 << 16;
    def.u.td.y_dephault = 25 << 16;
  }
  return in->inter.add_param(in->effect_ref, -1, &def);
}

TEST(Call, FillsInDataFromTheConfigAndPassesEverythingThrough) {
  Host host;
  host.Config().applId = 0x4B657947;
  host.Config().majorVersion = 11;
  SoftWorld input(7, 5, false), output(7, 5, false);
  host.SetInput(input.World());
  PF_UserChangedParamExtra extra{3};
  gScript = [&](PF_Cmd cmd, PF_InData* in, PF_ParamDef** params, PF_LayerDef* out, void* x) {
    EXPECT_EQ(cmd, PF_Cmd_USER_CHANGED_PARAM);
    EXPECT_EQ(in->appl_id, 0x4B657947);
    EXPECT_EQ(in->version.major, 11);
    EXPECT_EQ(in->extent_hint.right, 7);
    EXPECT_EQ(in->extent_hint.bottom, 5);
    EXPECT_EQ(params[0]->u.ld.data, input.World()->data);
    EXPECT_EQ(params[0]->u.ld.world_flags & PF_WorldFlag_WRITEABLE, 0);
    EXPECT_EQ(out, output.World());
    EXPECT_EQ(static_cast<PF_UserChangedParamExtra*>(x)->param_index, 3);
    return PF_Err_OUT_OF_MEMORY;
  };
  EXPECT_EQ(host.Call(&ScriptEntry, PF_Cmd_USER_CHANGED_PARAM, output.World(), &extra),
            PF_Err_OUT_OF_MEMORY);
}

// Layers 1 and 3 are set to None by default, 2 to the effect's own layer;
// point defaults are percentages until a layer gives them pixels.
TEST(Params, LayerChoicesPointDefaultsAndCheckoutCounting) {
  Host host;
  gScript = [](PF_Cmd, PF_InData* in, PF_ParamDef**, PF_LayerDef*, void*) {
    AddParam(in, PF_Param_LAYER, PF_LayerDefault_NONE);
    AddParam(in, PF_Param_LAYER, PF_LayerDefault_MYSELF);
    AddParam(in, PF_Param_LAYER, PF_LayerDefault_NONE);
    return AddParam(in, PF_Param_POINT);
  };
  ASSERT_EQ(host.Call(&ScriptEntry, PF_Cmd_PARAMS_SETUP), PF_Err_NONE);
  SoftWorld input(20, 10, false), other(3, 2, true);
  host.SetInput(input.World());
  host.SetLayer(3, LayerChoice{LayerChoice::Image, other.World()});
  EXPECT_EQ(host.Params()[4].u.td.x_value, 10 << 16);
  EXPECT_EQ(host.Params()[4].u.td.y_value, (10 << 16) / 4);

  PF_InteractCallbacks& inter = host.InData()->inter;
  const void* expected[] = {input.World()->data, nullptr, input.World()->data, other.World()->data};
  PF_ParamDef defs[4];
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(inter.checkout_param(Ref(host), i, 0, 1, 30, &defs[i]), PF_Err_NONE);
    EXPECT_EQ(defs[i].u.ld.data, expected[i]) << "index " << i;
    EXPECT_EQ(defs[i].u.ld.world_flags & PF_WorldFlag_WRITEABLE, 0);
  }
  EXPECT_NE(defs[3].u.ld.world_flags & PF_WorldFlag_DEEP, 0);
  EXPECT_EQ(host.CheckedOutLayers(), 4);
  for (PF_ParamDef& def : defs) EXPECT_EQ(inter.checkin_param(Ref(host), &def), PF_Err_NONE);
  EXPECT_EQ(host.CheckedOutLayers(), 0);
  EXPECT_NE(inter.checkin_param(Ref(host), &defs[0]), PF_Err_NONE);
}

TEST(Suites, ParamUtilsIsCountedWhileHeldAndChecksIndexAndVersion) {
  Host host;
  gScript = [&host](PF_Cmd cmd, PF_InData* in, PF_ParamDef** params, PF_LayerDef*,
                    void*) -> PF_Err {
    if (cmd == PF_Cmd_PARAMS_SETUP) return AddParam(in, PF_Param_SLIDER);
    const void* suite = nullptr;
    EXPECT_NE(in->pica_basicP->AcquireSuite(kPFParamUtilsSuite, 2, &suite), 0);
    if (const SPErr err = in->pica_basicP->AcquireSuite(kPFParamUtilsSuite, 1, &suite)) return err;
    EXPECT_EQ(host.SuitesHeld(), 1);
    const auto* utils = static_cast<const PF_ParamUtilsSuite1*>(suite);
    EXPECT_EQ(utils->PF_UpdateParamUI(in->effect_ref, 1, params[1]), PF_Err_NONE);
    EXPECT_NE(utils->PF_UpdateParamUI(in->effect_ref, 5, params[1]), PF_Err_NONE);
    return in->pica_basicP->ReleaseSuite(kPFParamUtilsSuite, 1);
  };
  ASSERT_EQ(host.Call(&ScriptEntry, PF_Cmd_PARAMS_SETUP), PF_Err_NONE);
  ASSERT_EQ(host.Call(&ScriptEntry, PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
  EXPECT_EQ(host.SuitesHeld(), 0);
  EXPECT_EQ(host.UIUpdates().size(), 1u);
}

}  // namespace
