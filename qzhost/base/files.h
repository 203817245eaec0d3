// Files that appear whole or not at all: written under a temporary name in
// their final folder, flushed to disk, then renamed into place. A path that
// is a symbolic link writes the file it links to; a file replaced keeps its
// mode.
#pragma once

#include <cstdio>
#include <filesystem>
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

// The same for bytes, such as an encoded image.
inline void writeFileAtomically(const std::filesystem::path &file, const std::vector<unsigned char> &bytes) {
    writeFileAtomically(file, std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

}  // namespace qzhost
