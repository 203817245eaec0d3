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

}  // namespace qzhost
