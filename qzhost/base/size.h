// Picture sizes, and "WIDTHxHEIGHT" as the command line and the web page
// write them.
#pragma once

#include <string>
#include <string_view>

namespace qzhost {

struct Size {
    int width = 0;
    int height = 0;
};

// The most pixels a rendered frame may have. A render holds two frames of
// four floats a pixel (one being rendered, one being written): 8 GiB at
// this size, e.g. 16384x16384.
inline constexpr long long kMaxFramePixels = 1LL << 28;

// Throws HostError when a frame of this size has more than kMaxFramePixels,
// naming `what` ("--size '...'", "the scene's frame size").
void checkFramePixels(Size size, const std::string &what);

// Reads "WxH" (or "WXH") of two whole numbers from 1 to maxSide; throws
// HostError naming the option and the problem otherwise.
Size parseSize(std::string_view text, int maxSide, const std::string &option);

}  // namespace qzhost
