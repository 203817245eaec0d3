#include "interface/preview.h"

#include <algorithm>
#include <cstdlib>

#include "filter/host_services.h"
#include "interface/panel.h"

namespace vorlux {
namespace {

// A box of this many pixels or fewer in either direction is a click.
constexpr int kClickSlack = 2;

int toByte(float component) { return static_cast<int>(component * 255); }

}  // namespace

void previewDraw(void *panel, unsigned long, void *region, int w, int h) {
    PreviewState &preview = panelInstance(panel).preview;
    preview.width = w;
    preview.height = h;
    applySquareSteps(preview.view, w);
    const DrawingTable &drawing = *hostServices.panel->drawing;
    paintRaster(w, h, preview.view, [&](int x, int y, const float *rgb) {
        drawing.drawPixel(region, toByte(rgb[0]), toByte(rgb[1]), toByte(rgb[2]), x, y);
    });
}

void previewZoom(void *panel, unsigned long, int x, int y, int *region, int) {
    FilterInstance &inst = panelInstance(panel);
    PreviewState &preview = inst.preview;
    ViewGeometry &view = preview.view;
    // The offset from the preview centre is in the pixels of the preview that
    // was showing, so it is converted with the steps of that preview, also
    // when a box has just changed them.
    const ViewGeometry shown = view;
    if (region) {
        const int x0 = region[0], y0 = region[1], x1 = region[2], y1 = region[3];
        const int bw = std::abs(x1 - x0) + 1;
        const int bh = std::abs(y1 - y0) + 1;
        if (bw > kClickSlack && bh > kClickSlack) {
            const double span = bh < bw ? view.stepX * bw : (-bh) * view.stepY;
            view.zoom = kViewSpan / span;
            view.stepX = span / preview.width;
            view.stepY = -view.stepX;
            x = std::min(x0, x1) + bw / 2;
            y = std::min(y0, y1) + bh / 2;
            setParamValue(inst.handles.zoomParam, view.zoom);
        }
    }
    const PlanePoint centre = planePoint(x, y, preview.width, preview.height, shown);
    view.centerX = centre.cr;
    view.centerY = centre.ci;
    setParamValue(inst.handles.centerXParam, view.centerX);
    setParamValue(inst.handles.centerYParam, view.centerY);
    hostServices.panel->refresh(panel);
}

}  // namespace vorlux
