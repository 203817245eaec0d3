// "Image Utility": images of RGB floats that a module fills pixel by pixel.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "host/abi.h"

namespace qzhost {

struct HostImage {
    int width;
    int height;
    std::vector<float> rgb;  // rows from the top
};

class ImageStore {
public:
    static constexpr int kMaxSide = 4096;

    const ImageService *table() const;
    // The image behind a handle the service gave out, or null.
    const HostImage *find(void *handle) const;
    size_t liveCount() const { return images_.size(); }

private:
    friend struct ImageCalls;
    std::unordered_map<HostImage *, std::unique_ptr<HostImage>> images_;
};

}  // namespace qzhost
