// The panel's live preview: drawn in square pixels through the fractal
// colouring, re-centred by a click and zoomed into a dragged box.
#pragma once

namespace vorlux {

void previewDraw(void *panel, unsigned long id, void *region, int w, int h);
void previewZoom(void *panel, unsigned long id, int x, int y, int *region, int clear);

}  // namespace vorlux
