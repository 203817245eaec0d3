#include "qzhost/cluster/slurm.h"

#include <cerrno>
#include <cstring>
#include <regex>
#include <sstream>

#include "qzhost/cluster/command.h"
#include "qzhost/base/error.h"

namespace qzhost {
namespace {

CommandResult runSlurmTool(const std::vector<std::string> &argv) {
    CommandResult result = runCommand(argv);
    if (result.startError == ENOENT) {
        throw HostError("--slurm needs Slurm's client tools (sbatch, squeue, sinfo, scancel; Debian's slurm-client), "
                        "and '" + argv[0] + "' is not on the PATH");
    }
    if (result.startError != 0) throw HostError("cannot run " + argv[0] + ": " + std::strerror(result.startError));
    return result;
}

std::string joined(const std::vector<std::string> &items, const std::string &separator) {
    std::string text;
    for (const std::string &item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

// A tool's complaint on one line: its lines without the "sbatch: error: " prefixes.
std::string oneLine(const std::string &said, int exitCode) {
    std::istringstream lines(said);
    std::vector<std::string> parts;
    for (std::string line; std::getline(lines, line);) {
        line = std::regex_replace(line, std::regex(R"(^\w+: (error|fatal): )"), "");
        if (!line.empty()) parts.push_back(line);
    }
    return parts.empty() ? "exit code " + std::to_string(exitCode) : joined(parts, "; ");
}

}  // namespace

std::string submitJob(const BatchJob &job) {
    std::vector<std::string> argv{"sbatch", "--parsable"};
    argv.insert(argv.end(), job.options.begin(), job.options.end());
    argv.push_back("--wrap=" + job.script);
    const CommandResult result = runSlurmTool(argv);
    // --parsable answers "ID" or "ID;CLUSTER".
    std::smatch id;
    if (result.exitCode != 0 || !std::regex_search(result.out, id, std::regex(R"(^(\d+)(;\S*)?\s*$)"))) {
        throw HostError("sbatch refused the job: " + oneLine(result.err + result.out, result.exitCode));
    }
    return id[1];
}

bool hasEnded(const std::string &state) {
    static const char *const ended[] = {"COMPLETED", "FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL",
                                        "BOOT_FAIL", "DEADLINE", "OUT_OF_MEMORY", "PREEMPTED"};
    for (const char *name : ended) {
        if (state == name) return true;
    }
    return false;
}

std::optional<std::vector<TaskState>> jobStates(const std::vector<std::string> &jobs) {
    const CommandResult result = runSlurmTool({"squeue", "--noheader", "--array", "--states=all",
                                               "--jobs=" + joined(jobs, ","), "--format=%F|%K|%T"});
    if (result.exitCode != 0) {
        if (result.err.find("Invalid job id") != std::string::npos) return std::vector<TaskState>{};
        return std::nullopt;
    }
    std::vector<TaskState> states;
    std::istringstream lines(result.out);
    const std::regex pattern(R"((\d+)\|(\d+|N/A)\|(\w+))");
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (!std::regex_match(line, match, pattern)) continue;
        states.push_back({match[1], match[2] == "N/A" ? -1 : std::stoi(match[2]), match[3]});
    }
    return states;
}

int nodeCount(const std::string &partition) {
    const CommandResult result = runSlurmTool({"sinfo", "--noheader", "--format=%P|%D"});
    int nodes = 0;
    std::istringstream lines(result.out);
    const std::regex pattern(R"((\S+?)(\*?)\|(\d+))");
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (!std::regex_match(line, match, pattern)) continue;
        const bool wanted = partition.empty() ? match[2] == "*" : match[1] == partition;
        if (wanted) nodes += std::stoi(match[3]);
    }
    return std::max(1, nodes);
}

std::string cancelJobs(const std::vector<std::string> &jobs) {
    std::vector<std::string> argv{"scancel"};
    argv.insert(argv.end(), jobs.begin(), jobs.end());
    const CommandResult result = runSlurmTool(argv);
    return result.exitCode == 0 ? "" : oneLine(result.err, result.exitCode);
}

}  // namespace qzhost
