#include "qzhost/image/image_files.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>

#include <cstdint>
#include <vector>

#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/image/png.h"

namespace qzhost {
namespace {

template <typename Sample>
void writePng(const Frame &frame, const std::filesystem::path &file) {
    const std::vector<Sample> samples = rgbSamples<Sample>(frame);
    std::vector<const void *> rows(frame.height);
    for (int y = 0; y < frame.height; ++y) rows[y] = &samples[static_cast<size_t>(y) * frame.width * 3];
    const std::vector<unsigned char> png = encodePng(frame.width, frame.height, 8 * sizeof(Sample), rows);
    writeFileAtomically(file, png);
}

void writeExr(const Frame &frame, const std::filesystem::path &file) {
    PendingFile pending(file);
    try {
        Imf::Header header(frame.width, frame.height);
        header.compression() = Imf::ZIP_COMPRESSION;
        Imf::FrameBuffer buffer;
        const size_t xStride = 4 * sizeof(float);
        const size_t yStride = xStride * frame.width;
        const char *names[] = {"R", "G", "B", "A"};
        for (int c = 0; c < 4; ++c) {
            header.channels().insert(names[c], Imf::Channel(Imf::FLOAT));
            char *base = reinterpret_cast<char *>(const_cast<float *>(frame.rgba.data() + c));
            buffer.insert(names[c], Imf::Slice(Imf::FLOAT, base, xStride, yStride));
        }
        Imf::OutputFile out(pending.temporaryPath().c_str(), header, 1);
        out.setFrameBuffer(buffer);
        out.writePixels(frame.height);
    } catch (const std::exception &e) {
        throw HostError("cannot write '" + file.string() + "': " + e.what(), kExitFailed);
    }
    pending.commit();
}

}  // namespace

std::optional<ImageFormat> imageFormatNamed(std::string_view name) {
    if (name == "png") return ImageFormat::Png8;
    if (name == "png16") return ImageFormat::Png16;
    if (name == "exr") return ImageFormat::Exr;
    return std::nullopt;
}

const char *extensionOf(ImageFormat format) { return format == ImageFormat::Exr ? "exr" : "png"; }

void writeImage(const Frame &frame, const std::filesystem::path &file, ImageFormat format) {
    switch (format) {
        case ImageFormat::Png8: return writePng<uint8_t>(frame, file);
        case ImageFormat::Png16: return writePng<uint16_t>(frame, file);
        case ImageFormat::Exr: return writeExr(frame, file);
    }
}

}  // namespace qzhost
