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

// Reads "WxH" (or "WXH") of two whole numbers from 1 to maxSide; throws
// HostError naming the option and the problem otherwise.
Size parseSize(std::string_view text, int maxSide, const std::string &option);

}  // namespace qzhost
