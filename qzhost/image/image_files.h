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

// Throws HostError when the file cannot be written.
void writeImage(const Frame &frame, const std::filesystem::path &file, ImageFormat format);

// A frame file written by writeImage, read back with the colours it holds:
// exact for 8-bit PNG and OpenEXR, to 1/65535 for 16-bit PNG. Throws
// HostError (exit code 1) when the file cannot be read.
Frame readImage(const std::filesystem::path &file, ImageFormat format);

}  // namespace qzhost
