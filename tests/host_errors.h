// What the tests read back from the host: the message of an error it threw,
// the bytes of a file it wrote, and how many entries a folder it wrote holds.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "qzhost/base/error.h"

namespace qzhost {

// The message of the HostError the action threw, "no error" when it threw
// none; with an exit code given, the error must carry that code.
inline std::string errorOf(const std::function<void()> &action, std::optional<int> exitCode = std::nullopt) {
    try {
        action();
    } catch (const HostError &e) {
        if (exitCode) {
            EXPECT_EQ(e.exitCode(), *exitCode) << e.what();
        }
        return e.what();
    }
    return "no error";
}

inline std::string contentOf(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline long filesIn(const std::filesystem::path &folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

}  // namespace qzhost
