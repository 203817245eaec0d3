#include "qzhost/presets/preset_file.h"

#include "qzhost/base/error.h"
#include "qzhost/image/png.h"
#include "qzhost/presets/preset_name.h"

namespace qzhost {
namespace {

constexpr const char *kChunk = "qzhost-preset";
constexpr const char *kFormat = "qzhost-preset";
constexpr int kVersion = 1;
constexpr int kMaxThumbnailSide = 1024;

std::string requiredText(const Json &document, const char *field, const std::string &source) {
    if (!document.contains(field) || !document[field].is_string()) {
        throw HostError(source + ": the preset has no text field '" + field + "'");
    }
    return document[field].get<std::string>();
}

}  // namespace

std::vector<unsigned char> presetFileOf(const Preset &preset) {
    const DecodedPng thumbnail = decodePng(preset.thumbnail);
    const Json document{{"format", kFormat},        {"version", kVersion},         {"class", preset.className},
                        {"server", preset.server},  {"name", preset.name},         {"created", preset.created},
                        {"settings", preset.settings}};
    return encodeRgb8(thumbnail.width, thumbnail.height, thumbnail.rgb, {{kChunk, document.dump()}});
}

Preset presetFromFile(const std::vector<unsigned char> &bytes, const std::string &source) {
    DecodedPng image;
    try {
        image = decodePng(bytes);
    } catch (const HostError &e) {
        throw HostError(source + ": " + e.what());
    }
    if (image.width > kMaxThumbnailSide || image.height > kMaxThumbnailSide) {
        throw HostError(source + ": the thumbnail is larger than " + std::to_string(kMaxThumbnailSide) + " pixels");
    }
    const auto chunk = image.text.find(kChunk);
    if (chunk == image.text.end()) throw HostError(source + ": the image carries no preset");
    const Json document = parseLimitedJson(chunk->second, source + ": the preset's settings");
    if (!document.is_object()) throw HostError(source + ": the preset's settings are not valid JSON");
    if (requiredText(document, "format", source) != kFormat || !document.contains("version") ||
        document["version"] != kVersion) {
        throw HostError(source + ": not a preset of version " + std::to_string(kVersion));
    }
    Preset preset;
    preset.className = requiredText(document, "class", source);
    preset.server = requiredText(document, "server", source);
    preset.name = requiredText(document, "name", source);
    try {
        if (!preset.name.empty()) preset.name = presetName(preset.name);
    } catch (const BadRequest &e) {
        throw HostError(source + ": " + e.what());
    }
    preset.created = requiredText(document, "created", source);
    if (preset.className.empty() || preset.server.empty()) throw HostError(source + ": the preset names no plug-in");
    const Json &settings = document.contains("settings") ? document["settings"] : Json();
    if (!settings.is_array()) throw HostError(source + ": the preset's settings are not a list of blocks");
    for (const Json &block : settings) {
        if (!block.is_object()) throw HostError(source + ": a block of the preset's settings is not an object");
        preset.settings.push_back(block);
    }
    preset.thumbnail = encodeRgb8(image.width, image.height, image.rgb);
    return preset;
}

}  // namespace qzhost
