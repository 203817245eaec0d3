#pragma once

#include <stdexcept>
#include <string>

namespace qzhost {

// Exit codes: 1 when the work fails (a module reports a failure of its own,
// or output cannot be written), 2 for bad input (files, options, modules that
// are not what they claim to be).
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadInput = 2;

// The one family of errors in the host: whatever fails throws a HostError
// (or one of its kinds: BadRequest below, StateError and BlockError beside
// the code that throws them), and main turns it into one line
// on stderr and the exit code it carries.
class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string &message, int exitCode = kExitBadInput)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

// A request that names something the host does not have (a control, a
// preset, a shelf); nothing was changed. The web page gets it as a 400.
struct BadRequest : HostError {
    explicit BadRequest(const std::string &message) : HostError(message) {}
};

}  // namespace qzhost
