#include "qzhost/cluster/chunks.h"

#include <algorithm>

namespace qzhost {

std::string FrameRange::text() const {
    return first == last ? std::to_string(first) : std::to_string(first) + "-" + std::to_string(last);
}

std::vector<FrameRange> splitFrames(FrameRange whole, int size) {
    std::vector<FrameRange> chunks;
    for (long long first = whole.first; first <= whole.last; first += size) {
        const int start = static_cast<int>(first);
        chunks.push_back({start, static_cast<int>(std::min<long long>(first + size - 1, whole.last))});
    }
    return chunks;
}

int defaultChunkSize(int frames, int nodes) {
    const int chunks = 2 * std::max(1, nodes);
    return std::max(1, (frames + chunks - 1) / chunks);
}

}  // namespace qzhost
