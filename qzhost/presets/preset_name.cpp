#include "qzhost/presets/preset_name.h"

#include <optional>
#include <string_view>

#include "qzhost/base/error.h"

namespace qzhost {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The character that starts at text[at], advancing past it; nullopt (and no
// advance) when the bytes there are not the shortest UTF-8 form of a
// character, surrogates included.
std::optional<char32_t> nextCharacter(std::string_view text, size_t &at) {
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || text.size() - at < length) return std::nullopt;
    char32_t character = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        character = character << 6 | (next & 0x3F);
    }
    if (character < kSmallest[length] || character > 0x10FFFF || (character >= 0xD800 && character <= 0xDFFF)) {
        return std::nullopt;
    }
    at += length;
    return character;
}

bool isControl(char32_t character) { return character < 0x20 || (character >= 0x7F && character <= 0x9F); }

}  // namespace

std::string presetName(const std::string &given) {
    const auto first = given.find_first_not_of(" \t");
    const std::string name =
        first == std::string::npos ? "" : given.substr(first, given.find_last_not_of(" \t") + 1 - first);
    size_t characters = 0;
    for (size_t at = 0; at < name.size(); ++characters) {
        const std::optional<char32_t> character = nextCharacter(name, at);
        if (!character) throw BadRequest("a preset name must be UTF-8 text");
        if (isControl(*character)) throw BadRequest("a preset name may not hold control characters (line breaks, tabs, escapes)");
    }
    if (characters == 0 || characters > kMaxPresetName) {
        throw BadRequest("a preset name must be 1 to " + std::to_string(kMaxPresetName) + " characters");
    }
    return name;
}

std::string printableText(const std::string &text) {
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        const size_t start = at;
        const std::optional<char32_t> character = nextCharacter(text, at);
        if (character && !isControl(*character)) {
            shown.append(text, start, at - start);
        } else {
            shown += kReplacement;
            if (!character) ++at;
        }
    }
    return shown;
}

}  // namespace qzhost
