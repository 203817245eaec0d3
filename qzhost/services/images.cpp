#include "qzhost/services/images.h"

#include "qzhost/services/host.h"

namespace qzhost {

// The lookup gives no context, so the table's functions reach the images
// through the running host, and ignore handles it never gave out.
struct ImageCalls {
    static ImageStore &store() { return Host::current().images(); }

    static void *create(int w, int h, int type) {
        if (type != HOST_IMAGE_TYPE_RGB_FLOAT || w < 1 || h < 1 || w > ImageStore::kMaxSide || h > ImageStore::kMaxSide) {
            return nullptr;
        }
        auto image = std::make_unique<HostImage>(HostImage{w, h, std::vector<float>(static_cast<size_t>(w) * h * 3)});
        HostImage *handle = image.get();
        store().images_.emplace(handle, std::move(image));
        return handle;
    }

    static void destroy(void *handle) { store().images_.erase(static_cast<HostImage *>(handle)); }

    static void setPixel(void *handle, int x, int y, const float *rgb) {
        const auto found = store().images_.find(static_cast<HostImage *>(handle));
        if (found == store().images_.end() || !rgb) return;
        HostImage &image = *found->second;
        if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
        float *pixel = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
        pixel[0] = rgb[0];
        pixel[1] = rgb[1];
        pixel[2] = rgb[2];
    }
};

namespace {
const ImageService kImageTable{ImageCalls::create, ImageCalls::destroy, nullptr, ImageCalls::setPixel};
}  // namespace

const ImageService *ImageStore::table() const { return &kImageTable; }

const HostImage *ImageStore::find(void *handle) const {
    const auto found = images_.find(static_cast<HostImage *>(handle));
    return found == images_.end() ? nullptr : found->second.get();
}

}  // namespace qzhost
