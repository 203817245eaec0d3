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

// Where a write to the path lands: renaming onto a symbolic link would
// replace the link, so it goes to the file the link names (which may not
// exist yet), through any chain of links.
std::filesystem::path followLinks(std::filesystem::path file) {
    constexpr int kMostLinks = 40;  // as the kernel allows, before ELOOP
    std::error_code error;
    for (int links = 0; std::filesystem::is_symlink(std::filesystem::symlink_status(file, error)); ++links) {
        if (links == kMostLinks) throw writeError(file, std::strerror(ELOOP));
        const std::filesystem::path named = std::filesystem::read_symlink(file, error);
        if (error) throw writeError(file, error.message());
        file = file.parent_path() / named;  // an absolute name replaces the folder
    }
    return file;
}

// A file that is replaced keeps its mode; a new one gets the usual mode.
mode_t finishedMode(const std::filesystem::path &file) {
    struct stat existing {};
    return stat(file.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0644;
}

}  // namespace

PendingFile::PendingFile(std::filesystem::path target) : target_(followLinks(std::move(target))) {
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
    // mkstemp makes the file private to its owner.
    const bool written = std::fflush(stream_) == 0 && fchmod(fileno(stream_), finishedMode(target_)) == 0 &&
                         fsync(fileno(stream_)) == 0;
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
