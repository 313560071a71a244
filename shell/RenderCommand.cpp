#include "shell/RenderCommand.h"

#include "image/AEException.h"
#include "image/AEWorld.h"
#include "render/RenderDriver.h"
#include "shell/ParamIndices.h"
#include "shell/RenderSettings.h"

namespace {

// The definitions the host passed in params[], borrowed.
class ListedParams : public ParamValues {
 public:
  explicit ListedParams(PF_ParamDef* const* list) : params(list) {}
  const PF_ParamDef& operator[](ParamIndex index) const override { return *params[index]; }

 private:
  PF_ParamDef* const* params;
};

// The layer held by a checked-out wrapper, or null when the parameter names
// no layer.
PF_EffectWorld* LayerOrNull(const AEWorld& layer) {
  PF_EffectWorld* world = layer.RawWorld();
  if (world != nullptr && layer.InData() == nullptr) {
    throw AEException(1, "AEWorld not initialized");
  }
  return world;
}

}  // namespace

void RenderCommand(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output,
                   const HostFacts& host) {
  AEWorld outWorld(in_data, output, false);
  AEWorld inWorld(in_data, &params[ParamInput]->u.ld, false);

  AEWorld bclLayer(in_data);
  bclLayer.CheckoutLayer(ParamBCLLayer);
  AEWorld shapeLayer(in_data);
  shapeLayer.CheckoutLayer(ParamShapeLayer);

  RenderRequest request;
  request.inData = in_data;
  request.input = inWorld.World();
  request.output = outWorld.World();
  request.bclLayer = LayerOrNull(bclLayer);
  request.extent = in_data->extent_hint;
  ReadRenderSettings(in_data, ListedParams(params), host, LayerOrNull(shapeLayer), request);
  RenderFrame(request);
}
