// Scene files are outside input: any bytes must end in a scene or a HostError.
#include <cstddef>
#include <cstdint>
#include <string>

#include "qzhost/base/error.h"
#include "qzhost/scene/scene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    try {
        const qzhost::SceneDocument scene =
            qzhost::parseScene(std::string(reinterpret_cast<const char *>(data), size), "fuzz.json");
        qzhost::sceneToJson(scene).dump();
    } catch (const qzhost::HostError &) {
    }
    return 0;
}
