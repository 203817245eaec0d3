#include "interface/shelf.h"

#include "filter/host_services.h"
#include "interface/panel.h"

namespace vorlux {
namespace {

bool subscribed(const FilterInstance &inst) { return hostServices.shelf && inst.handles.shelfClient; }

}  // namespace

int shelfQuery(void *, void *) { return HOST_SHELF_QUERY_ANSWER; }

// Load errors are dropped: the panel still shows whatever the instance holds.
void shelfLoad(void *inst, const LoadState *state) {
    auto &self = *static_cast<FilterInstance *>(inst);
    instLoad(inst, state);
    if (self.handles.panel) hostServices.panel->refresh(self.handles.panel);
}

const char *shelfSave(void *inst, const SaveState *state) { return instSave(inst, state); }

void openShelfButton(void *panel, int) {
    const FilterInstance &inst = panelInstance(panel);
    if (subscribed(inst)) hostServices.shelf->open(inst.handles.shelfClient);
}

void addPresetButton(void *panel, int) {
    const FilterInstance &inst = panelInstance(panel);
    if (!subscribed(inst)) return;
    const ShelfService &shelf = *hostServices.shelf;
    if (!shelf.isOpen(inst.handles.shelfClient)) shelf.open(inst.handles.shelfClient);
    if (void *image = makeThumbnail(inst, kThumbnailSize, kThumbnailSize)) {
        shelf.addPreset(inst.handles.shelfClient, image, nullptr);
        hostServices.image->destroy(image);
    }
}

// The thumbnail works on its own copy of the view: writing its 128-pixel
// steps into the instance would make the next preview click move the centre
// by the thumbnail's step instead of the preview's.
void *makeThumbnail(const FilterInstance &inst, int w, int h) {
    const ImageService *images = hostServices.image;
    if (!images) return nullptr;
    void *image = images->create(w, h, HOST_IMAGE_TYPE_RGB_FLOAT);
    if (!image) return nullptr;
    ViewGeometry view = inst.preview.view;
    applySquareSteps(view, w);
    paintRaster(w, h, view, [&](int x, int y, const float *rgb) { images->setPixel(image, x, y, rgb); });
    return image;
}

}  // namespace vorlux
