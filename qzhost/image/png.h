// PNG encoding and decoding in memory, with text chunks, over libpng.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qzhost {

using PngText = std::map<std::string, std::string>;

// RGB rows from the top, 8-bit samples or 16-bit ones in host byte order.
// Throws HostError when libpng fails.
std::vector<unsigned char> encodePng(int width, int height, int bitDepth, const std::vector<const void *> &rows,
                                     const PngText &text = {});

// The same for packed 8-bit RGB.
std::vector<unsigned char> encodeRgb8(int width, int height, const std::vector<unsigned char> &rgb,
                                      const PngText &text = {});

struct DecodedPng {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // 8-bit, rows from the top
    PngText text;
};

// Any PNG up to 8192 pixels a side, converted to 8-bit RGB. Throws HostError
// saying what is wrong with the data.
DecodedPng decodePng(const std::vector<unsigned char> &bytes);

}  // namespace qzhost
