#include "filter/render.h"

#include "filter/instance.h"

namespace vorlux {

const char *renderInit(void *inst, int) {
    auto &self = *static_cast<FilterInstance *>(inst);
    const auto *scene = static_cast<const SceneInfo *>(self.handles.global(HOST_SCENE_INFO, 0));
    if (!scene) return kNoSceneInfo;
    self.frame.width = scene->frameWidth;
    self.frame.height = scene->frameHeight;
    self.frame.pixelAspect = scene->pixelAspect;
    return nullptr;
}

void renderCleanup(void *) {}

const char *renderNewTime(void *inst, int, double time) {
    auto &self = *static_cast<FilterInstance *>(inst);
    sampleParams(self, time);
    RenderFrame &frame = self.frame;
    frame.view = self.preview.view;
    applyRenderSteps(frame.view, frame.width, frame.pixelAspect);
    return nullptr;
}

void evaluatePixel(void *inst, const PixelAccess *access) {
    const RenderFrame &frame = static_cast<const FilterInstance *>(inst)->frame;
    float rgba[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    pointColour(access->x, access->y, frame.width, frame.height, frame.view, rgba);
    access->setColour(rgba);
}

unsigned int filterFlags(void *) { return 0; }

}  // namespace vorlux
