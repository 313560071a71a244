#include <cstring>
#include <functional>
#include <stdexcept>

#include "HostTestSupport.h"

using namespace softhost;
using namespace softhost_test;

namespace {

// Tests play the effect: the entry point runs whatever the test scripts.
using Script =
    std::function<PF_Err(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*)>;
Script gScript;
PF_Err ScriptEntry(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                   PF_LayerDef* output, void* extra) {
  return gScript(cmd, in, out, params, output, extra);
}

PF_Err AddParam(PF_InData* in, PF_ParamType type, A_long layerDefault = 0) {
  PF_ParamDef def{};
  def.param_type = type;
  if (type == PF_Param_LAYER) def.u.ld.dephault = layerDefault;
  if (type == PF_Param_POINT) {
    def.u.td.x_dephault = 50 << 16;
    def.u.td.y_dephault = 25 << 16;
  }
  in->utils->ansi.strcpy(def.name, "P");
  return in->inter.add_param(in->effect_ref, -1, &def);
}

TEST(Call, FillsInDataFromTheConfigAndPassesParamsAndExtra) {
  Host host;
  host.Config().applId = 0x4B657947;
  host.Config().majorVersion = 11;
  SoftWorld input(7, 5, false), output(7, 5, false);
  host.SetInput(input.World());

  bool ran = false;
  PF_UserChangedParamExtra extra{3};
  gScript = [&](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef** params, PF_LayerDef* out,
                void* x) -> PF_Err {
    ran = true;
    EXPECT_EQ(cmd, PF_Cmd_USER_CHANGED_PARAM);
    EXPECT_EQ(in->appl_id, 0x4B657947);
    EXPECT_EQ(in->version.major, 11);
    EXPECT_EQ(in->extent_hint.bottom, 5);
    EXPECT_EQ(in->extent_hint.right, 7);
    EXPECT_EQ(in->effect_ref, Ref(host));
    EXPECT_EQ(params[0]->u.ld.data, input.World()->data);
    EXPECT_EQ(params[0]->u.ld.world_flags & PF_WorldFlag_WRITEABLE, 0);
    EXPECT_EQ(out, output.World());
    EXPECT_EQ(static_cast<PF_UserChangedParamExtra*>(x)->param_index, 3);
    return PF_Err_NONE;
  };
  EXPECT_EQ(host.Call(&ScriptEntry, PF_Cmd_USER_CHANGED_PARAM, output.World(), &extra),
            PF_Err_NONE);
  EXPECT_TRUE(ran);

  host.Config().extentHintSet = true;
  host.Config().extentHint = HostRect(1, 2, 3, 4);
  host.Faults().noBasicSuite = true;
  gScript = [&](PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) -> PF_Err {
    EXPECT_EQ(in->extent_hint.left, 1);
    EXPECT_EQ(in->extent_hint.bottom, 4);
    EXPECT_EQ(in->pica_basicP, nullptr);
    return PF_Err_OUT_OF_MEMORY;
  };
  EXPECT_EQ(host.Render(&ScriptEntry, output.World()), PF_Err_OUT_OF_MEMORY);
}

TEST(AddParam, AppendsRefusesTheNthAndPlacesPointDefaults) {
  Host host;
  host.Faults().refuseParamAt = 2;
  host.Faults().failCode = PF_Err_OUT_OF_MEMORY;
  gScript = [](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*,
               void*) -> PF_Err {
    if (cmd != PF_Cmd_PARAMS_SETUP) return PF_Err_NONE;
    for (PF_ParamType type : {PF_Param_SLIDER, PF_Param_POINT, PF_Param_CHECKBOX}) {
      if (const PF_Err err = AddParam(in, type)) return err;
    }
    return PF_Err_NONE;
  };
  EXPECT_EQ(host.Setup(&ScriptEntry), PF_Err_OUT_OF_MEMORY);
  ASSERT_EQ(host.Params().size(), 3u);  // input, slider, point
  EXPECT_STREQ(host.Params()[1].name, "P");
  EXPECT_EQ(host.Params()[2].u.td.x_value, 0);  // no layer yet to place it on

  SoftWorld input(20, 10, false);
  host.SetInput(input.World());
  EXPECT_EQ(host.Params()[2].u.td.x_value, 10 << 16);
  EXPECT_EQ(host.Params()[2].u.td.y_value, (10 << 16) / 4);
}

TEST(Checkout, ServesLayersByChoiceAndCountsCheckins) {
  Host host;
  SoftWorld input(4, 4, false), other(3, 2, true);
  host.SetInput(input.World());
  gScript = [](PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) -> PF_Err {
    AddParam(in, PF_Param_LAYER, PF_LayerDefault_NONE);    // 1
    AddParam(in, PF_Param_LAYER, PF_LayerDefault_MYSELF);  // 2
    AddParam(in, PF_Param_LAYER, PF_LayerDefault_NONE);    // 3
    AddParam(in, PF_Param_SLIDER);                         // 4
    return PF_Err_NONE;
  };
  ASSERT_EQ(host.Call(&ScriptEntry, PF_Cmd_PARAMS_SETUP), PF_Err_NONE);
  host.SetLayer(3, LayerChoice{LayerChoice::Image, other.World()});
  host.Params()[4].u.sd.value = 77;

  PF_InteractCallbacks& inter = host.InData()->inter;
  struct Case {
    PF_ParamIndex index;
    const void* data;
  } cases[] = {
      {0, input.World()->data}, {1, nullptr}, {2, input.World()->data}, {3, other.World()->data}};
  PF_ParamDef defs[4];
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(inter.checkout_param(Ref(host), cases[i].index, 0, 1, 30, &defs[i]), PF_Err_NONE);
    EXPECT_EQ(defs[i].u.ld.data, cases[i].data) << "index " << cases[i].index;
    EXPECT_EQ(defs[i].u.ld.world_flags & PF_WorldFlag_WRITEABLE, 0);
  }
  EXPECT_EQ(defs[3].u.ld.width, 3);
  EXPECT_NE(defs[3].u.ld.world_flags & PF_WorldFlag_DEEP, 0);
  EXPECT_EQ(host.CheckedOutLayers(), 4);

  PF_ParamDef slider{};
  ASSERT_EQ(inter.checkout_param(Ref(host), 4, 0, 1, 30, &slider), PF_Err_NONE);
  EXPECT_EQ(slider.u.sd.value, 77);
  EXPECT_EQ(host.CheckedOutLayers(), 4);
  EXPECT_EQ(inter.checkin_param(Ref(host), &slider), PF_Err_NONE);

  for (PF_ParamDef& def : defs) EXPECT_EQ(inter.checkin_param(Ref(host), &def), PF_Err_NONE);
  EXPECT_EQ(host.CheckedOutLayers(), 0);
  EXPECT_NE(inter.checkin_param(Ref(host), &defs[0]), PF_Err_NONE);
  EXPECT_NE(inter.checkout_param(Ref(host), 9, 0, 1, 30, &slider), PF_Err_NONE);

  host.ResetFaultCounters();
  host.Faults().failCheckoutAt = 0;
  EXPECT_EQ(inter.checkout_param(Ref(host), 1, 0, 1, 30, &slider), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(host.CheckedOutLayers(), 0);
}

TEST(Suites, ParamUtilsIsServedCountedAndRecordsUpdates) {
  Host host;
  gScript = [](PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) -> PF_Err {
    return AddParam(in, PF_Param_SLIDER);
  };
  ASSERT_EQ(host.Call(&ScriptEntry, PF_Cmd_PARAMS_SETUP), PF_Err_NONE);

  gScript = [&host](PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef** params, PF_LayerDef*,
                    void*) -> PF_Err {
    SPBasicSuite* basic = in->pica_basicP;
    const void* suite = nullptr;
    EXPECT_NE(basic->AcquireSuite("PF Param Utils Suite", 2, &suite), 0);
    EXPECT_NE(basic->AcquireSuite("PF World Suite", 1, &suite), 0);
    EXPECT_EQ(suite, nullptr);
    const SPErr err = basic->AcquireSuite(kPFParamUtilsSuite, 1, &suite);
    if (err != 0) return static_cast<PF_Err>(err);
    EXPECT_EQ(host.SuitesHeld(), 1);
    PF_ParamDef def = *params[1];
    std::strcpy(def.name, "Renamed");
    def.ui_flags = PF_PUI_DISABLED;
    const auto* utils = static_cast<const PF_ParamUtilsSuite1*>(suite);
    EXPECT_EQ(utils->PF_UpdateParamUI(in->effect_ref, 1, &def), PF_Err_NONE);
    EXPECT_NE(utils->PF_UpdateParamUI(in->effect_ref, 5, &def), PF_Err_NONE);
    EXPECT_EQ(basic->ReleaseSuite(kPFParamUtilsSuite, 1), 0);
    return PF_Err_NONE;
  };
  ASSERT_EQ(host.Call(&ScriptEntry, PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
  EXPECT_EQ(host.SuitesHeld(), 0);
  ASSERT_EQ(host.UIUpdates().size(), 1u);
  EXPECT_EQ(host.UIUpdates()[0].index, 1);
  EXPECT_EQ(host.UIUpdates()[0].name, "Renamed");
  EXPECT_EQ(host.UIUpdates()[0].uiFlags, PF_PUI_DISABLED);
  EXPECT_STREQ(host.Params()[1].name, "Renamed");
  EXPECT_EQ(host.Params()[1].ui_flags, PF_PUI_DISABLED);

  host.Faults().noParamUtilsSuite = true;
  EXPECT_NE(host.Call(&ScriptEntry, PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
  EXPECT_EQ(host.SuitesHeld(), 0);
}

TEST(EffectModule, LoadsTheModuleAndExplainsFailures) {
  try {
    EffectModule missing("/nonexistent/NoSuchEffect.so");
    FAIL() << "loading a missing module succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/NoSuchEffect.so"), std::string::npos);
  }
  EffectModule module(QB_MODULE_PATH);
  ASSERT_NE(module.Entry(), nullptr);
  Host host;
  EXPECT_EQ(host.Call(module.Entry(), PF_Cmd_ABOUT), PF_Err_NONE);
  EXPECT_NE(host.OutData()->return_msg[0], '\0');
}

}  // namespace
