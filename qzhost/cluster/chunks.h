// A render split into chunks of consecutive frames, one scheduler task each.
#pragma once

#include <string>
#include <vector>

namespace qzhost {

struct FrameRange {
    int first = 0;
    int last = 0;

    int count() const { return last - first + 1; }
    std::string text() const;  // "30-59", or "30" for one frame
};

// Ranges of `size` frames from the first frame on; the last one ends at the
// whole range's last frame exactly, and may be shorter.
std::vector<FrameRange> splitFrames(FrameRange whole, int size);

// The chunk size when none is asked for: about two chunks per node, so that
// a node that finishes early takes another while the slow ones catch up.
int defaultChunkSize(int frames, int nodes);

}  // namespace qzhost
