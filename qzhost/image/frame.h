// A rendered frame in memory, and its colours as integer samples.
#pragma once

#include <cstddef>
#include <vector>

namespace qzhost {

// One frame as the filters wrote it: red, green, blue and a fourth value per
// pixel, rows from the top.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;

    // Every pixel is overwritten by the filters, so a frame of the same size
    // is reused as it is.
    void resize(int w, int h);
    const float *pixel(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};

// A colour component as an integer of so many levels above 0, rounded.
unsigned quantise(float component, unsigned maximum);

// The frame's colours as RGB samples of 8 or 16 bits, rows from the top.
template <typename Sample>
std::vector<Sample> rgbSamples(const Frame &frame) {
    constexpr unsigned maximum = (1u << (8 * sizeof(Sample))) - 1;
    std::vector<Sample> samples(static_cast<size_t>(frame.width) * frame.height * 3);
    for (size_t pixel = 0, n = samples.size() / 3; pixel < n; ++pixel) {
        for (int c = 0; c < 3; ++c) samples[pixel * 3 + c] = static_cast<Sample>(quantise(frame.rgba[pixel * 4 + c], maximum));
    }
    return samples;
}

}  // namespace qzhost
