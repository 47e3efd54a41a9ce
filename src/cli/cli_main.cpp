// rompush-cli: RomPush from a terminal, for production lines and scripts. The same procedures
// as the window run on a console platform; what the window would show is printed. Several
// --port options serve several devices at once, each port in a process of its own (the
// program's state describes one device), and a summary table follows.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_result.h"
#include "cli/port_run.h"
#include "core/state.h"

namespace {

namespace fs = std::filesystem;
using namespace rompush::cli;

volatile sig_atomic_t gStopRequested = 0;

void OnStop(int) {
    gStopRequested = 1;
}

void PrintOutcome(const Options& o, const Result& r) {
    std::FILE* human = o.json ? stderr : stdout;
    const std::string name = r.portName.empty() ? r.port : r.portName;
    if (r.Ok()) {
        std::fprintf(human, "%s: %s OK (%.1f s)\n", name.c_str(), r.command.c_str(), r.seconds);
    } else {
        std::fprintf(human, "%s: %s FAILED: %s\n", name.c_str(), r.command.c_str(),
                     r.problem.c_str());
    }
    std::fflush(human);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every port in a child process of its own, all at once; the results are collected at the end.
int RunParallel(const Options& o) {
    std::string pattern = (fs::temp_directory_path() / "rompush-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("rompush-cli: temporary folder");
        return kExitMixed;
    }
    const std::string work = pattern;
    struct sigaction stop {};
    stop.sa_handler = OnStop;  // not ignored: a handler does not outlive exec in the children
    ::sigaction(SIGINT, &stop, nullptr);
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGHUP, &stop, nullptr);

    std::fflush(nullptr);
    std::vector<pid_t> children;
    std::vector<std::string> resultFiles;
    for (std::size_t k = 0; k < o.ports.size(); ++k) {
        resultFiles.push_back(work + "/result-" + std::to_string(k));
        std::vector<std::string> args = ChildArguments(o, o.ports[k], resultFiles.back());
        args.insert(args.begin(), "rompush-cli");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execv("/proc/self/exe", argv.data());
            std::perror("rompush-cli: exec");
            ::_exit(127);
        }
        children.push_back(pid);
    }

    std::vector<int> statuses(children.size(), -1);
    std::size_t running = 0;
    for (pid_t pid : children)
        running += pid > 0 ? 1 : 0;
    bool forwarded = false;
    while (running > 0) {
        int status = 0;
        const pid_t ended = ::waitpid(-1, &status, 0);
        if (ended < 0) {
            if (errno != EINTR)
                break;
            if (gStopRequested && !forwarded) {
                // Each child gives its port (and the keyboard controller) back before it ends.
                for (pid_t pid : children) {
                    if (pid > 0)
                        ::kill(pid, SIGTERM);
                }
                forwarded = true;
            }
            continue;
        }
        for (std::size_t k = 0; k < children.size(); ++k) {
            if (children[k] == ended) {
                statuses[k] = status;
                --running;
            }
        }
    }

    std::vector<Result> results;
    for (std::size_t k = 0; k < children.size(); ++k) {
        Result r;
        if (!Result::Deserialise(ReadFile(resultFiles[k]), r)) {
            r = Result{};
            r.port = o.ports[k];
            r.command = o.commandName;
            r.exitStatus = kExitMixed;
            const int s = statuses[k];
            r.problem = children[k] <= 0 ? "could not start a process for this port"
                        : s >= 0 && WIFSIGNALED(s)
                            ? "ended by signal " + std::to_string(WTERMSIG(s))
                            : "ended without a result";
        }
        results.push_back(r);
    }
    std::error_code ignored;
    fs::remove_all(work, ignored);

    std::FILE* human = o.json ? stderr : stdout;
    std::fputs(("\n" + SummaryTable(results)).c_str(), human);
    std::fflush(human);
    if (o.json) {
        for (const Result& r : results)
            std::printf("%s\n", r.Json().c_str());
    }
    return OverallExitStatus(results);
}

}  // namespace

int main(int argc, char** argv) {
    std::string problem;
    const auto options = ParseOptions(argc, argv, problem);
    if (!options) {
        std::fprintf(stderr, "rompush-cli: %s\n(rompush-cli --help lists the commands)\n",
                     problem.c_str());
        return kExitUsage;
    }
    const Options& o = *options;
    if (o.version) {
        std::printf("rompush-cli %s%s\n", rompush::kProgramName, rompush::kVersion);
        return kExitOk;
    }
    if (o.help) {
        std::fputs(HelpText(o.command).c_str(), stdout);
        return kExitOk;
    }
    problem = CheckOptionValues(o);
    if (!problem.empty()) {
        std::fprintf(stderr, "rompush-cli: %s\n", problem.c_str());
        return kExitUsage;
    }
    // Whole lines at a time, so that the lines of several ports do not mix.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    if (o.command == Command::Ports)
        return ListPorts(o);
    if (o.ports.size() > 1)
        return RunParallel(o);

    const Result r = RunPort(o, o.ports.front());
    if (!o.resultFile.empty()) {
        std::ofstream(o.resultFile, std::ios::binary) << r.Serialise();
        PrintOutcome(o, r);
        return r.exitStatus;
    }
    PrintOutcome(o, r);
    if (o.json)
        std::printf("%s\n", r.Json().c_str());
    return r.exitStatus;
}
