#include "qzhost/image/image_files.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfOutputFile.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "qzhost/base/error.h"
#include "qzhost/base/files.h"
#include "qzhost/image/png.h"

#include <png.h>

namespace qzhost {
namespace {

template <typename Sample>
std::vector<unsigned char> pngBytes(const Frame &frame) {
    const std::vector<Sample> samples = rgbSamples<Sample>(frame);
    std::vector<const void *> rows(frame.height);
    for (int y = 0; y < frame.height; ++y) rows[y] = &samples[static_cast<size_t>(y) * frame.width * 3];
    return encodePng(frame.width, frame.height, 8 * sizeof(Sample), rows);
}

constexpr const char *kExrChannels[] = {"R", "G", "B", "A"};

// The frame's interleaved floats as the file's four channels. The pixel at
// the corner of the file's data window is the frame's first; OpenEXR reaches
// the others from a base that may lie before the buffer.
Imf::FrameBuffer exrSlices(const Frame &frame, const Imath::V2i &corner = {0, 0}) {
    const std::ptrdiff_t xStride = 4 * sizeof(float), yStride = xStride * frame.width;
    Imf::FrameBuffer buffer;
    for (int c = 0; c < 4; ++c) {
        char *first = reinterpret_cast<char *>(const_cast<float *>(frame.rgba.data() + c));
        buffer.insert(kExrChannels[c], Imf::Slice(Imf::FLOAT, first - corner.x * xStride - corner.y * yStride,
                                                  xStride, yStride));
    }
    return buffer;
}

void writeExr(const Frame &frame, const std::filesystem::path &file) {
    PendingFile pending(file);
    try {
        Imf::Header header(frame.width, frame.height);
        header.compression() = Imf::ZIP_COMPRESSION;
        for (const char *name : kExrChannels) header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        Imf::OutputFile out(pending.temporaryPath().c_str(), header, 1);
        out.setFrameBuffer(exrSlices(frame));
        out.writePixels(frame.height);
    } catch (const std::exception &e) {
        throw HostError("cannot write '" + file.string() + "': " + e.what(), kExitFailed);
    }
    pending.commit();
}

[[noreturn]] void cannotRead(const std::filesystem::path &file, const std::string &why) {
    throw HostError("cannot read '" + file.string() + "': " + why, kExitFailed);
}

// Samples of either depth, scaled back to 0..1. The simplified libpng reader
// leaves 8-bit samples and linear 16-bit ones as they are stored.
template <typename Sample>
Frame readPng(const std::filesystem::path &file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str())) cannotRead(file, image.message);
    image.format = sizeof(Sample) == 1 ? PNG_FORMAT_RGB : PNG_FORMAT_LINEAR_RGB;
    std::vector<Sample> samples(PNG_IMAGE_SIZE(image) / sizeof(Sample));
    if (!png_image_finish_read(&image, nullptr, samples.data(), 0, nullptr)) cannotRead(file, image.message);
    constexpr float maximum = (1u << (8 * sizeof(Sample))) - 1;
    Frame frame;
    frame.resize(image.width, image.height);
    for (size_t pixel = 0, n = samples.size() / 3; pixel < n; ++pixel) {
        for (int c = 0; c < 3; ++c) frame.rgba[pixel * 4 + c] = samples[pixel * 3 + c] / maximum;
    }
    return frame;
}

Frame readExr(const std::filesystem::path &file) {
    try {
        Imf::InputFile in(file.c_str());
        const Imath::Box2i window = in.header().dataWindow();
        Frame frame;
        frame.resize(window.max.x - window.min.x + 1, window.max.y - window.min.y + 1);
        in.setFrameBuffer(exrSlices(frame, window.min));
        in.readPixels(window.min.y, window.max.y);
        return frame;
    } catch (const std::exception &e) {
        cannotRead(file, e.what());
    }
}

uint32_t bigEndian32(const unsigned char *bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

// The signature, then IHDR as the first chunk (its data: width, height, bit
// depth), and the empty IEND chunk with its CRC as the very last bytes.
bool isWholePng(const std::filesystem::path &file, int bitDepth, int width, int height) {
    constexpr unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    constexpr unsigned char kEnd[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    std::ifstream in(file, std::ios::binary);
    std::array<unsigned char, 25> head{};
    std::array<unsigned char, sizeof kEnd> tail{};
    if (!in.read(reinterpret_cast<char *>(head.data()), head.size())) return false;
    if (!in.seekg(-static_cast<std::streamoff>(tail.size()), std::ios::end)) return false;
    if (!in.read(reinterpret_cast<char *>(tail.data()), tail.size())) return false;
    return std::memcmp(head.data(), kSignature, sizeof kSignature) == 0 && std::memcmp(&head[12], "IHDR", 4) == 0 &&
           bigEndian32(&head[16]) == static_cast<uint32_t>(width) &&
           bigEndian32(&head[20]) == static_cast<uint32_t>(height) && head[24] == bitDepth &&
           std::memcmp(tail.data(), kEnd, sizeof kEnd) == 0;
}

// OpenEXR has no end marker, and a file cut short may keep a whole table of
// pixel blocks; only reading every block tells.
bool isWholeExr(const std::filesystem::path &file, int width, int height) {
    try {
        const Frame frame = readExr(file);
        return frame.width == width && frame.height == height;
    } catch (const HostError &) {
        return false;
    }
}

}  // namespace

std::optional<ImageFormat> imageFormatNamed(std::string_view name) {
    if (name == "png") return ImageFormat::Png8;
    if (name == "png16") return ImageFormat::Png16;
    if (name == "exr") return ImageFormat::Exr;
    return std::nullopt;
}

const char *extensionOf(ImageFormat format) { return format == ImageFormat::Exr ? "exr" : "png"; }

std::vector<unsigned char> png8Bytes(const Frame &frame) { return pngBytes<uint8_t>(frame); }

void writeImage(const Frame &frame, const std::filesystem::path &file, ImageFormat format) {
    switch (format) {
        case ImageFormat::Png8: return writeFileAtomically(file, png8Bytes(frame));
        case ImageFormat::Png16: return writeFileAtomically(file, pngBytes<uint16_t>(frame));
        case ImageFormat::Exr: return writeExr(frame, file);
    }
}

Frame readImage(const std::filesystem::path &file, ImageFormat format) {
    switch (format) {
        case ImageFormat::Png8: return readPng<uint8_t>(file);
        case ImageFormat::Png16: return readPng<uint16_t>(file);
        case ImageFormat::Exr: return readExr(file);
    }
    cannotRead(file, "unknown format");
}

bool isWholeFrameFile(const std::filesystem::path &file, ImageFormat format, int width, int height) {
    switch (format) {
        case ImageFormat::Png8: return isWholePng(file, 8, width, height);
        case ImageFormat::Png16: return isWholePng(file, 16, width, height);
        case ImageFormat::Exr: return isWholeExr(file, width, height);
    }
    return false;
}

}  // namespace qzhost
