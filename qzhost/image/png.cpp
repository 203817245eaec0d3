#include "qzhost/image/png.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

#include "qzhost/base/error.h"

namespace qzhost {
namespace {

// Fast zlib settings: frames are large and many, and a higher level buys
// little on images of smooth colour bands.
constexpr int kCompression = 2;
constexpr png_uint_32 kMaxDecodedSide = 8192;
// A chunk declares its own length: without a cap, a few bytes claiming two
// gigabytes of text make libpng allocate them.
constexpr png_alloc_size_t kMaxChunkBytes = 8 * 1024 * 1024;

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto *out = static_cast<std::vector<unsigned char> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

struct Reader {
    const std::vector<unsigned char> &bytes;
    size_t at;
};

void readBytes(png_structp png, png_bytep data, png_size_t length) {
    auto *reader = static_cast<Reader *>(png_get_io_ptr(png));
    if (length > reader->bytes.size() - reader->at) png_error(png, "the data ends early");
    std::memcpy(data, reader->bytes.data() + reader->at, length);
    reader->at += length;
}

// libpng reports errors by longjmp, so these two keep everything that has a
// destructor in their callers, out of the jump's reach.
bool encode(int width, int height, int bitDepth, png_bytepp rows, std::vector<png_text> &text,
            std::vector<unsigned char> &out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, appendBytes, flushNothing);
    png_set_compression_level(png, kCompression);
    png_set_filter(png, 0, PNG_FILTER_SUB);
    png_set_IHDR(png, info, width, height, bitDepth, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!text.empty()) png_set_text(png, info, text.data(), static_cast<int>(text.size()));
    png_write_info(png, info);
    if (bitDepth == 16) png_set_swap(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool decode(Reader &reader, DecodedPng &image, png_bytepp &rows) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        if (rows) png_free(png, rows);
        rows = nullptr;
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, readBytes);
    png_set_user_limits(png, kMaxDecodedSide, kMaxDecodedSide);
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_read_info(png, info);
    image.width = static_cast<int>(png_get_image_width(png, info));
    image.height = static_cast<int>(png_get_image_height(png, info));
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(image.width) * 3) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
    rows = static_cast<png_bytepp>(png_malloc(png, sizeof(png_bytep) * image.height));
    for (int y = 0; y < image.height; ++y) rows[y] = image.rgb.data() + static_cast<size_t>(y) * image.width * 3;
    png_read_image(png, rows);
    png_read_end(png, info);
    png_textp text = nullptr;
    const int count = png_get_text(png, info, &text, nullptr);
    for (int i = 0; i < count; ++i) {
        image.text[text[i].key] = std::string(text[i].text, text[i].itxt_length ? text[i].itxt_length : text[i].text_length);
    }
    png_free(png, rows);
    rows = nullptr;
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// Every chunk declares its own length, and libpng allocates what a chunk
// claims before reading it: a few bytes claiming two gigabytes would get
// them. Data held whole in memory can be checked first: no chunk may claim
// more than the bytes that follow it.
bool chunkLengthsFit(const std::vector<unsigned char> &bytes) {
    constexpr size_t kSignature = 8, kHeader = 8, kCrc = 4;
    for (size_t at = kSignature; at + kHeader <= bytes.size();) {
        const size_t length = png_get_uint_32(bytes.data() + at);
        if (length > bytes.size() - at - kHeader) return false;
        at += kHeader + length + kCrc;
    }
    return true;
}

}  // namespace

std::vector<unsigned char> encodePng(int width, int height, int bitDepth, const std::vector<const void *> &rows,
                                     const PngText &text) {
    std::vector<png_text> chunks;
    for (const auto &[key, value] : text) {
        png_text chunk{};
        chunk.compression = PNG_ITXT_COMPRESSION_NONE;
        chunk.key = const_cast<char *>(key.c_str());
        chunk.text = const_cast<char *>(value.c_str());
        chunk.itxt_length = value.size();
        chunks.push_back(chunk);
    }
    std::vector<png_bytep> rowPointers;
    for (const void *row : rows) rowPointers.push_back(static_cast<png_bytep>(const_cast<void *>(row)));
    std::vector<unsigned char> bytes;
    if (!encode(width, height, bitDepth, rowPointers.data(), chunks, bytes)) throw HostError("PNG encoding failed");
    return bytes;
}

std::vector<unsigned char> encodeRgb8(int width, int height, const std::vector<unsigned char> &rgb,
                                      const PngText &text) {
    std::vector<const void *> rows(height);
    for (int y = 0; y < height; ++y) rows[y] = &rgb[static_cast<size_t>(y) * width * 3];
    return encodePng(width, height, 8, rows, text);
}

DecodedPng decodePng(const std::vector<unsigned char> &bytes) {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) throw HostError("not a PNG image");
    if (!chunkLengthsFit(bytes)) throw HostError("the PNG data is damaged or too large");
    Reader reader{bytes, 0};
    DecodedPng image;
    png_bytepp rows = nullptr;
    if (!decode(reader, image, rows)) throw HostError("the PNG data is damaged or too large");
    return image;
}

}  // namespace qzhost
