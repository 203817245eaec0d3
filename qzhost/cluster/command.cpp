#include "qzhost/cluster/command.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char **environ;

namespace qzhost {
namespace {

// Reads both pipes as the program fills them, so that neither can block it.
void drain(int outFd, int errFd, std::string &out, std::string &err) {
    pollfd fds[2] = {{.fd = outFd, .events = POLLIN, .revents = 0}, {.fd = errFd, .events = POLLIN, .revents = 0}};
    std::string *sinks[2] = {&out, &err};
    for (int open = 2; open > 0;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) {
                sinks[i]->append(buffer, n);
                continue;
            }
            fds[i].fd = -1;
            --open;
        }
    }
}

}  // namespace

CommandResult runCommand(const std::vector<std::string> &argv) {
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);

    CommandResult result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        result.startError = errno;
        return result;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        result.startError = errno;
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    pid_t pid = -1;
    result.startError = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (result.startError == 0) drain(outPipe[0], errPipe[0], result.out, result.err);
    close(outPipe[0]);
    close(errPipe[0]);
    if (result.startError != 0) return result;

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

}  // namespace qzhost
