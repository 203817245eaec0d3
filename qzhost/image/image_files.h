// Frame files: PNG for viewing and sharing, OpenEXR (32-bit float RGBA,
// lossless) for compositing. Both appear whole or not at all.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "qzhost/image/frame.h"

namespace qzhost {

enum class ImageFormat { Png8, Png16, Exr };

std::optional<ImageFormat> imageFormatNamed(std::string_view name);
const char *extensionOf(ImageFormat format);

// The bytes of the 8-bit PNG file that writeImage writes for the frame.
std::vector<unsigned char> png8Bytes(const Frame &frame);

// Throws HostError when the file cannot be written.
void writeImage(const Frame &frame, const std::filesystem::path &file, ImageFormat format);

// A frame file written by writeImage, read back with the colours it holds:
// exact for 8-bit PNG and OpenEXR, to 1/65535 for 16-bit PNG. Throws
// HostError (exit code 1) when the file cannot be read.
Frame readImage(const std::filesystem::path &file, ImageFormat format);

// Whether a file is a whole frame of this format and size. PNG by a cheap
// check that reads no pixels: its header (size and depth) and the end marker
// as its last bytes, so a file cut short or of another size fails, while
// damage inside whole-looking pixel data is not found. OpenEXR, which has no
// end marker, by reading all of it.
bool isWholeFrameFile(const std::filesystem::path &file, ImageFormat format, int width, int height);

}  // namespace qzhost
