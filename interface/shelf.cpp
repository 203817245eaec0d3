#include "interface/panel.h"
#include "module/services.h"

namespace vorlux {
namespace {

constexpr int kShelfQueryAnswer = 1;

bool subscribed(const FilterInstance &inst) { return hostServices.shelf && inst.shelfClient; }

}  // namespace

int shelfQuery(void *, void *) { return kShelfQueryAnswer; }

// Load errors are dropped: the panel still shows whatever the instance holds.
void shelfLoad(void *inst, const LoadState *state) {
    auto &self = *static_cast<FilterInstance *>(inst);
    instLoad(inst, state);
    if (self.panel) hostServices.panel->refresh(self.panel);
}

const char *shelfSave(void *inst, const SaveState *state) { return instSave(inst, state); }

void openShelfButton(void *panel, int) {
    const FilterInstance &inst = panelInstance(panel);
    if (subscribed(inst)) hostServices.shelf->open(inst.shelfClient);
}

void addPresetButton(void *panel, int) {
    const FilterInstance &inst = panelInstance(panel);
    if (!subscribed(inst)) return;
    const ShelfService &shelf = *hostServices.shelf;
    if (!shelf.isOpen(inst.shelfClient)) shelf.open(inst.shelfClient);
    if (void *image = makeThumbnail(inst, kThumbnailSize, kThumbnailSize)) {
        shelf.addPreset(inst.shelfClient, image, nullptr);
        hostServices.image->destroy(image);
    }
}

// The thumbnail works on its own copy of the view: writing its 128-pixel
// steps into the instance would make the next preview click move the centre
// by the thumbnail's step instead of the preview's.
void *makeThumbnail(const FilterInstance &inst, int w, int h) {
    const ImageService *images = hostServices.image;
    if (!images) return nullptr;
    void *image = images->create(w, h, kImageTypeRgbFloat);
    if (!image) return nullptr;
    ViewGeometry view = inst.view;
    applySquareSteps(view, w);
    paintRaster(w, h, view, [&](int x, int y, const float *rgb) { images->setPixel(image, x, y, rgb); });
    return image;
}

}  // namespace vorlux
