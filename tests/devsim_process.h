// Runs rompush-devsim as a separate process for end-to-end tests of the real serial code.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace rompush::testing {

inline std::int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Runs rompush-devsim and reads its ready line; stops it at the end.
class DevSim {
  public:
    DevSim(const std::string& program, const std::vector<std::string>& args) {
        int out[2];
        if (::pipe(out) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        // The ready line, with a time limit.
        const auto start = std::chrono::steady_clock::now();
        char c;
        while (MsSince(start) < 5000) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            if (::read(out[0], &c, 1) != 1 || c == '\n')
                break;
            line_.push_back(c);
        }
        ::close(out[0]);
    }
    ~DevSim() { Stop(); }
    int Stop() {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    const std::string& Line() const { return line_; }
    // The process, for the signals it takes (SIGUSR1 power-cycles a serial-menu product).
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    std::string line_;
};

inline std::string DevSimProgram() {
    const char* path = std::getenv("ROMPUSH_DEVSIM");
    if (path && std::filesystem::exists(path))
        return path;
    const std::filesystem::path beside =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "rompush-devsim";
    return std::filesystem::exists(beside) ? beside.string() : "";
}

}  // namespace rompush::testing
