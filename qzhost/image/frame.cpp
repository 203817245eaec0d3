#include "qzhost/image/frame.h"

namespace qzhost {

void Frame::resize(int w, int h) {
    if (w == width && h == height) return;
    width = w;
    height = h;
    rgba.assign(static_cast<size_t>(w) * h * 4, 0.0f);
}

unsigned quantise(float component, unsigned maximum) {
    if (!(component > 0.0f)) return 0;  // also NaN
    if (component >= 1.0f) return maximum;
    return static_cast<unsigned>(component * maximum + 0.5f);
}

}  // namespace qzhost
