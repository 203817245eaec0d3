#pragma once

#include <stdexcept>
#include <string>

namespace qzhost {

// Exit codes: 1 when the work fails (a module reports a failure of its own,
// or output cannot be written), 2 for bad input (files, options, modules that
// are not what they claim to be).
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadInput = 2;

// A failure that reaches the user as one line and an exit code.
class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string &message, int exitCode = kExitBadInput)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

}  // namespace qzhost
