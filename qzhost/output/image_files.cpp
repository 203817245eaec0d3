#include "qzhost/output/image_files.h"

#include <png.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>

#include <csetjmp>
#include <cstdint>
#include <vector>

#include "qzhost/error.h"
#include "qzhost/files.h"

namespace qzhost {
namespace {

// Fast zlib settings: frames are large and many, and a level above this buys
// little on images of smooth colour bands.
constexpr int kPngCompression = 2;

// libpng reports errors by longjmp, so the rows are made before and nothing
// with a destructor lives inside the jump's reach.
bool encodePng(FILE *out, int width, int height, int bitDepth, png_bytepp rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, out);
    png_set_compression_level(png, kPngCompression);
    png_set_filter(png, 0, PNG_FILTER_SUB);
    png_set_IHDR(png, info, width, height, bitDepth, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (bitDepth == 16) png_set_swap(png);  // rows are in host order; PNG stores big-endian
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

template <typename Sample>
std::vector<Sample> rgbSamples(const Frame &frame) {
    constexpr unsigned maximum = (1u << (8 * sizeof(Sample))) - 1;
    std::vector<Sample> samples(static_cast<size_t>(frame.width) * frame.height * 3);
    for (size_t pixel = 0, n = samples.size() / 3; pixel < n; ++pixel) {
        for (int c = 0; c < 3; ++c) samples[pixel * 3 + c] = static_cast<Sample>(quantise(frame.rgba[pixel * 4 + c], maximum));
    }
    return samples;
}

template <typename Sample>
void writePng(const Frame &frame, const std::filesystem::path &file) {
    std::vector<Sample> samples = rgbSamples<Sample>(frame);
    std::vector<png_bytep> rows(frame.height);
    for (int y = 0; y < frame.height; ++y) {
        rows[y] = reinterpret_cast<png_bytep>(&samples[static_cast<size_t>(y) * frame.width * 3]);
    }
    PendingFile pending(file);
    if (!encodePng(pending.stream(), frame.width, frame.height, 8 * sizeof(Sample), rows.data())) {
        throw HostError("cannot write '" + file.string() + "': PNG encoding failed");
    }
    pending.commit();
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
        throw HostError("cannot write '" + file.string() + "': " + e.what());
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

unsigned quantise(float component, unsigned maximum) {
    if (!(component > 0.0f)) return 0;  // also NaN
    if (component >= 1.0f) return maximum;
    return static_cast<unsigned>(component * maximum + 0.5f);
}

std::vector<unsigned char> rgb8(const Frame &frame) { return rgbSamples<unsigned char>(frame); }

void writeImage(const Frame &frame, const std::filesystem::path &file, ImageFormat format) {
    switch (format) {
        case ImageFormat::Png8: return writePng<uint8_t>(frame, file);
        case ImageFormat::Png16: return writePng<uint16_t>(frame, file);
        case ImageFormat::Exr: return writeExr(frame, file);
    }
}

}  // namespace qzhost
