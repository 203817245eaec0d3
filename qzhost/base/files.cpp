#include "qzhost/base/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "qzhost/base/error.h"

namespace qzhost {
namespace {

HostError writeError(const std::filesystem::path &file, const std::string &why) {
    return HostError("cannot write '" + file.string() + "': " + why, kExitFailed);
}

constexpr std::string_view kPendingSuffix = ".XXXXXX";

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
    hidden.insert(0, 1, '.').append(kPendingSuffix);
    std::string pattern = (target_.parent_path() / hidden).string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw writeError(target_, std::strerror(errno));
    // Held until the file is closed, by commit or by the end of the process:
    // it tells a temporary file being written from one left by a killed run.
    flock(fd, LOCK_EX);
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

std::optional<std::filesystem::path> pendingFileTarget(const std::filesystem::path &file) {
    const std::string name = file.filename().string();
    if (name.size() <= kPendingSuffix.size() + 1 || name[0] != '.' ||
        name[name.size() - kPendingSuffix.size()] != '.') {
        return std::nullopt;
    }
    return file.parent_path() / name.substr(1, name.size() - 1 - kPendingSuffix.size());
}

bool removeAbandonedPendingFile(const std::filesystem::path &file) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat status {};
    const bool abandoned = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0;
    const bool removed = abandoned && unlink(file.c_str()) == 0;
    close(fd);
    return removed;
}

std::filesystem::path userDataFolder() {
    const char *data = std::getenv("XDG_DATA_HOME");
    if (data && *data) return std::filesystem::path(data) / "qzhost";
    const char *home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local" / "share" / "qzhost";
}

std::string readInputFile(const std::filesystem::path &file, const std::string &what) {
    const auto refuse = [&](const std::string &problem) {
        return HostError(what + " '" + file.string() + "' " + problem);
    };
    // Without O_NONBLOCK, opening a pipe would wait for a writer before the
    // check below could refuse it.
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw refuse(std::string("cannot be read (") + std::strerror(errno) + ")");
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat status {};
    if (fstat(fd, &status) != 0) throw refuse(std::string("cannot be read (") + std::strerror(errno) + ")");
    if (S_ISDIR(status.st_mode)) throw refuse("is a folder, not a file");
    if (!S_ISREG(status.st_mode)) throw refuse("is not a regular file (a device, pipe or socket)");
    const std::string tooLarge = "is larger than " + std::to_string(kMaxInputFileBytes >> 20) + " MiB";
    if (static_cast<std::uintmax_t>(status.st_size) > kMaxInputFileBytes) throw refuse(tooLarge);
    // The file may grow while it is read: read at most one byte past the limit.
    std::string content(static_cast<size_t>(status.st_size) + 1, '\0');
    size_t length = 0;
    while (true) {
        if (length == content.size()) {
            if (length > kMaxInputFileBytes) throw refuse(tooLarge);
            content.resize(std::min<size_t>(content.size() * 2, kMaxInputFileBytes + 1));
        }
        const ssize_t got = read(fd, content.data() + length, content.size() - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw refuse(std::string("cannot be read (") + std::strerror(errno) + ")");
        if (got == 0) break;
        length += static_cast<size_t>(got);
    }
    content.resize(length);
    return content;
}

}  // namespace qzhost
