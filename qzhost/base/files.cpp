#include "qzhost/base/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "qzhost/base/error.h"

namespace qzhost {
namespace {

HostError writeError(const std::filesystem::path &file, const std::string &why) {
    return HostError("cannot write '" + file.string() + "': " + why, kExitFailed);
}

}  // namespace

PendingFile::PendingFile(std::filesystem::path target) : target_(std::move(target)) {
    // The leading dot keeps readers that list the folder from taking it for
    // a finished file.
    std::string hidden = target_.filename().string();
    hidden.insert(0, 1, '.').append(".XXXXXX");
    std::string pattern = (target_.parent_path() / hidden).string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw writeError(target_, std::strerror(errno));
    temporary_ = pattern;
    stream_ = fdopen(fd, "wb");
    if (!stream_) {
        const int error = errno;
        close(fd);
        std::filesystem::remove(temporary_);
        throw writeError(target_, std::strerror(error));
    }
}

PendingFile::~PendingFile() {
    if (stream_) std::fclose(stream_);
    if (!committed_) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

void PendingFile::commit() {
    // mkstemp makes the file private to its owner; finished files get the
    // usual mode.
    const bool written = std::fflush(stream_) == 0 && fchmod(fileno(stream_), 0644) == 0 && fsync(fileno(stream_)) == 0;
    const int error = errno;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!written || !closed) throw writeError(target_, std::strerror(written ? errno : error));
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) throw writeError(target_, std::strerror(errno));
    committed_ = true;
}

void writeFileAtomically(const std::filesystem::path &file, std::string_view content) {
    PendingFile pending(file);
    if (std::fwrite(content.data(), 1, content.size(), pending.stream()) != content.size()) {
        throw writeError(file, std::strerror(errno));
    }
    pending.commit();
}

}  // namespace qzhost
