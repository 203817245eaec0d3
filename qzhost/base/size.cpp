#include "qzhost/base/size.h"

#include <cctype>
#include <charconv>

#include "qzhost/base/error.h"

namespace qzhost {
namespace {

// A whole number of digits only, at the start of the text: no sign and no
// spaces, which from_chars alone would partly take.
bool readSide(const char *&at, const char *end, int &side) {
    if (at == end || !std::isdigit(static_cast<unsigned char>(*at))) return false;
    const auto [after, error] = std::from_chars(at, end, side);
    at = after;
    return error == std::errc();
}

}  // namespace

Size parseSize(std::string_view text, int maxSide, const std::string &option) {
    Size size;
    const char *at = text.data();
    const char *end = at + text.size();
    const bool parsed = readSide(at, end, size.width) && at != end && (*at == 'x' || *at == 'X') &&
                        readSide(++at, end, size.height) && at == end;
    const std::string quoted = option + " '" + std::string(text) + "'";
    if (!parsed) throw HostError(quoted + " is not WIDTHxHEIGHT");
    if (size.width < 1 || size.height < 1 || size.width > maxSide || size.height > maxSide) {
        throw HostError(quoted + ": each side must be from 1 to " + std::to_string(maxSide));
    }
    return size;
}

void checkFramePixels(Size size, const std::string &what) {
    const long long pixels = static_cast<long long>(size.width) * size.height;
    if (pixels > kMaxFramePixels) {
        throw HostError(what + " " + std::to_string(size.width) + "x" + std::to_string(size.height) + " has " +
                        std::to_string(pixels) + " pixels; a frame may have at most " +
                        std::to_string(kMaxFramePixels) + " (16384x16384), whose two frame buffers take 8 GiB");
    }
}

}  // namespace qzhost
