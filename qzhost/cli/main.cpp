#include <csignal>
#include <iostream>

#include "qzhost/cli/commands.h"
#include "qzhost/error.h"
#include "qzhost/version.h"

int main(int argc, char **argv) {
    CLI::App app{"qzhost: a host for pixel-filter modules. It loads module files, renders scenes through\n"
                 "their filters and shows their panels. Run 'qzhost COMMAND --help' for a command's options."};
    app.set_version_flag("--version", std::string("qzhost ") + qzhost::kVersion);
    app.require_subcommand(1);
    // A reader that goes away (ffmpeg, a closed pipe) or a file size limit is
    // reported as a failed write rather than killing the host.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
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
    }
    return 0;
}
