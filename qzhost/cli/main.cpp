#include <malloc.h>

#include <csignal>
#include <filesystem>
#include <iostream>

#include "qzhost/cli/commands.h"
#include "qzhost/base/error.h"
#include "qzhost/base/version.h"

int main(int argc, char **argv) {
    CLI::App app{"qzhost: a host for pixel-filter modules. It loads module files, renders scenes through\n"
                 "their filters and shows their panels. Run 'qzhost COMMAND --help' for a command's options."};
    app.set_version_flag("--version", std::string("qzhost ") + qzhost::kVersion);
    app.require_subcommand(1);
    // A reader that goes away (ffmpeg, a closed pipe) or a file size limit is
    // reported as a failed write rather than killing the host.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // Frames and their encoded copies are large and short-lived, and made on
    // different threads. A fixed threshold keeps each block of a megabyte or
    // more in a mapping of its own that goes back to the system when freed;
    // glibc's moving threshold would put them in per-thread heaps that keep
    // the space, so a long render's memory would creep up frame by frame.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    qzhost::addDescribeCommand(app);
    qzhost::addSceneCommand(app);
    qzhost::addRenderCommand(app);
    qzhost::addPresetsCommand(app);
    qzhost::addPanelCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help
        std::cerr << "qzhost: " << e.what() << " (see qzhost --help)\n";
        return qzhost::kExitBadInput;
    } catch (const qzhost::HostError &e) {
        std::cerr << "qzhost: " << e.what() << '\n';
        return e.exitCode();
    } catch (const std::filesystem::filesystem_error &e) {
        // A path the system refuses to look at (too long, a loop of links).
        std::cerr << "qzhost: " << e.what() << '\n';
        return qzhost::kExitBadInput;
    } catch (const std::exception &e) {
        // Whatever else escapes (a library's own error, memory running out)
        // is a failure of the work, told the same way.
        std::cerr << "qzhost: " << e.what() << '\n';
        return qzhost::kExitFailed;
    } catch (...) {
        std::cerr << "qzhost: an unknown error stopped the work\n";
        return qzhost::kExitFailed;
    }
    return 0;
}
