// Preset files are imported from anywhere: any bytes must end in a preset or
// a HostError.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qzhost/base/error.h"
#include "qzhost/presets/preset_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    try {
        qzhost::presetFromFile(std::vector<unsigned char>(data, data + size), "fuzz.png");
    } catch (const qzhost::HostError &) {
    }
    return 0;
}
