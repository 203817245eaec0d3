// The callbacks the host's renderer drives: once per render, once per frame
// and once per pixel.
#pragma once

#include "host/abi.h"

namespace vorlux {

inline constexpr const char *kNoSceneInfo = "Couldn't get image dimensions.";

const char *renderInit(void *inst, int mode);
void renderCleanup(void *inst);
const char *renderNewTime(void *inst, int frame, double time);
void evaluatePixel(void *inst, const PixelAccess *access);
unsigned int filterFlags(void *inst);

}  // namespace vorlux
