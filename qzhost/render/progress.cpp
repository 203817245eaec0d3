#include "qzhost/render/progress.h"

#include <cstdio>
#include <string>

namespace qzhost {
namespace {

std::string duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

double megapixelsPerSecond(const RenderProgress &p) {
    return p.pixelSeconds > 0 ? p.pixels / p.pixelSeconds / 1e6 : 0.0;
}

double secondsLeft(const RenderProgress &p) {
    const int rendered = p.done - p.skipped;
    return rendered > 0 ? p.seconds / rendered * (p.total - p.done) : 0.0;
}

class BarDisplay : public ProgressDisplay {
public:
    void update(const RenderProgress &p, const std::filesystem::path &) override {
        constexpr int kWidth = 30;
        const int filled = p.total > 0 ? kWidth * p.done / p.total : kWidth;
        std::fprintf(stderr, "\r\033[Kframe %d  [%s%s] %d/%d  %.1f Mpixels/s  %s left", p.frame,
                     std::string(filled, '#').c_str(), std::string(kWidth - filled, '.').c_str(), p.done, p.total,
                     megapixelsPerSecond(p), duration(secondsLeft(p)).c_str());
        std::fflush(stderr);
    }
    void finish(const RenderProgress &) override { std::fputs("\r\033[K", stderr); }
};

class LineDisplay : public ProgressDisplay {
public:
    void update(const RenderProgress &p, const std::filesystem::path &file) override {
        std::fprintf(stderr, "frame %d (%d of %d) %s %s, %.1f Mpixels/s, %s left\n", p.frame, p.done, p.total,
                     p.kept ? "kept" : "written to", file.c_str(), megapixelsPerSecond(p),
                     duration(secondsLeft(p)).c_str());
    }
    void finish(const RenderProgress &) override {}
};

class QuietDisplay : public ProgressDisplay {
public:
    void update(const RenderProgress &, const std::filesystem::path &) override {}
    void finish(const RenderProgress &) override {}
};

}  // namespace

std::unique_ptr<ProgressDisplay> makeProgressDisplay(ProgressStyle style) {
    switch (style) {
        case ProgressStyle::Bar: return std::make_unique<BarDisplay>();
        case ProgressStyle::Lines: return std::make_unique<LineDisplay>();
        case ProgressStyle::Quiet: break;
    }
    return std::make_unique<QuietDisplay>();
}

}  // namespace qzhost
