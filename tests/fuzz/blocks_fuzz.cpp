// Parameter blocks arrive from scene files and presets: any JSON must end in
// an animation that saves back to an equal block, or in a BlockError.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "qzhost/services/params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const qzhost::Json block = qzhost::Json::parse(data, data + size, nullptr, false);
    if (block.is_discarded()) return 0;
    try {
        qzhost::AnimatedParam param{"Zoom", nullptr, qzhost::fromBlock(block, "Zoom")};
        for (double t : {-1.0, 0.0, 0.5, 3.0, 1e300}) param.animation.valueAt(t);
        if (qzhost::fromBlock(qzhost::toBlock(param), "Zoom") != param.animation) std::abort();
    } catch (const qzhost::BlockError &) {
    }
    return 0;
}
