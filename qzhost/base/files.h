// Files that appear whole or not at all: written under a temporary name in
// their final folder, flushed to disk, then renamed into place. A path that
// is a symbolic link writes the file it links to; a file replaced keeps its
// mode. And files a user names, read whole within a limit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qzhost {

class PendingFile {
public:
    // Throws HostError when the folder cannot take the file. The target is
    // the file at the end of any symbolic links.
    explicit PendingFile(std::filesystem::path target);
    // Removes the temporary file unless it was committed.
    ~PendingFile();
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    FILE *stream() { return stream_; }
    const std::filesystem::path &temporaryPath() const { return temporary_; }
    const std::filesystem::path &target() const { return target_; }

    // Flushes, syncs and renames; throws HostError on any failure.
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    FILE *stream_ = nullptr;
    bool committed_ = false;
};

void writeFileAtomically(const std::filesystem::path &file, std::string_view content);

// The file that `file` would become if it is named as PendingFile names its
// temporary files (".NAME.XXXXXX" beside NAME).
std::optional<std::filesystem::path> pendingFileTarget(const std::filesystem::path &file);

// Removes a temporary file of PendingFile's whose writer has gone (a process
// killed before it committed). A writer holds a lock on its temporary file
// while it lives, so one still being written is left alone. Returns whether
// the file was removed.
bool removeAbandonedPendingFile(const std::filesystem::path &file);

// Where qzhost keeps the user's own data (the preset shelf, modules):
// $XDG_DATA_HOME/qzhost, by default ~/.local/share/qzhost.
std::filesystem::path userDataFolder();

// The largest file a user may hand qzhost to read (a scene, a preset file).
inline constexpr std::uintmax_t kMaxInputFileBytes = 16u << 20;

// The whole content of a file a user named, described as `what` ("scene") in
// errors. Only regular files are read, so that a device or pipe can neither
// hang the reader nor feed it without end. Throws HostError (exit code 2):
// "WHAT 'FILE': cannot be read (reason)", "... is a folder, not a file",
// "... is not a regular file", "... is larger than 16 MiB".
std::string readInputFile(const std::filesystem::path &file, const std::string &what);

// The same for bytes, such as an encoded image.
inline void writeFileAtomically(const std::filesystem::path &file, const std::vector<unsigned char> &bytes) {
    writeFileAtomically(file, std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

}  // namespace qzhost
