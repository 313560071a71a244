// Renders one frame: the chosen view of the request into its output, whose
// every pixel it writes (the Normal view leaves transparent black outside
// the blurred region). The pixel format is the output's, chosen here once;
// the engine, instruction set and what the output holds are decided here
// once and handed down. Every failure is raised (AEException,
// std::out_of_range, std::bad_alloc), for the entry point to report.
#pragma once

#include "render/RenderRequest.h"

void RenderFrame(const RenderRequest& request);
