// Child-process launcher for the simulator: fork/exec with the child's stdout
// on a pipe, from which the listening line (and so the port) is read.
#include "sim/launch/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#ifndef HALVIO_SIM_PATH
#define HALVIO_SIM_PATH "halvio-sim"
#endif
#ifndef HALVIO_SIM_INSTALLED_PATH
#define HALVIO_SIM_INSTALLED_PATH "/usr/bin/halvio-sim"
#endif

namespace cvn::sim {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopGrace = std::chrono::seconds(5);
constexpr const char* kListenPrefix = "halvio-sim listening on ";
constexpr const char* kSerialPrefix = "halvio-sim serial on ";

std::string DescribeStatus(int status) {
    if (WIFEXITED(status)) return "exited with code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "ended";
}

// Waits for the child to end for at most `grace`; true when it was reaped.
bool ReapWithin(pid_t pid, std::chrono::milliseconds grace, int* status) {
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (;;) {
        const pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

std::string SimProcess::ExecutablePath() {
    const char* env = std::getenv("HALVIO_SIM");
    if (env != nullptr && *env != '\0') return env;
    // An installed (or unpacked) wavecatch finds the simulator installed with
    // it; the build path compiled in serves the build tree and its tests.
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string beside(self, static_cast<size_t>(n));
        beside.erase(beside.rfind('/') + 1);
        beside += "halvio-sim";
        if (access(beside.c_str(), X_OK) == 0) return beside;
    }
    for (const char* path : {HALVIO_SIM_PATH, HALVIO_SIM_INSTALLED_PATH})
        if (access(path, X_OK) == 0) return path;
    return HALVIO_SIM_PATH;
}

SimProcess::SimProcess(std::vector<std::string> args) {
    const std::string exe = ExecutablePath();
    std::vector<std::string> all;
    all.push_back(exe);
    all.insert(all.end(), args.begin(), args.end());
    all.push_back("--port");
    all.push_back("0");
    // argv is built before fork: only async-signal-safe calls may follow it.
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("SimProcess: pipe failed: ") + std::strerror(errno));
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        const int err = errno;
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error(std::string("SimProcess: fork failed: ") + std::strerror(err));
    }
    if (pid == 0) {
        // A test binary that dies must not leave simulators behind. The
        // signal is tied to the forking thread, which is the test's thread.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        dup2(fds[1], STDOUT_FILENO);
        execv(exe.c_str(), argv.data());
        const char msg[] = "SimProcess: cannot execute the simulator\n";
        [[maybe_unused]] auto n = write(STDERR_FILENO, msg, sizeof msg - 1);
        _exit(127);
    }
    close(fds[1]);
    pid_ = pid;
    stdoutFd_ = fds[0];

    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    std::string failure;
    std::string line;
    if (!readLine(line, deadline)) {
        int status = 0;
        if (std::chrono::steady_clock::now() >= deadline) {
            failure = "no listening line within 10 s";
        } else if (ReapWithin(pid_, std::chrono::seconds(2), &status)) {
            pid_ = -1;
            failure = "simulator " + DescribeStatus(status) + " before listening";
        } else {
            failure = "simulator closed its output before listening";
        }
    }
    if (failure.empty()) {
        const size_t at = line.find(kListenPrefix);
        const size_t colon = line.rfind(':');
        if (at != 0 || colon == std::string::npos || colon < std::strlen(kListenPrefix)) {
            failure = "unexpected first line \"" + line + "\"";
        } else {
            address_ = line.substr(std::strlen(kListenPrefix));
            const long port = std::strtol(line.c_str() + colon + 1, nullptr, 10);
            if (port <= 0 || port > 65535) {
                failure = "bad port in \"" + line + "\"";
            } else {
                port_ = static_cast<uint16_t>(port);
            }
        }
    }
    const bool pty = std::any_of(args.begin(), args.end(), [](const std::string& a) {
        return a == "--pty" || a == "--pty-link";
    });
    while (failure.empty() && pty && ptyPath_.empty()) {
        if (!readLine(line, deadline)) {
            failure = "no serial line printed within 10 s";
        } else if (line.rfind(kSerialPrefix, 0) == 0) {
            ptyPath_ = line.substr(std::strlen(kSerialPrefix));
        }
    }
    if (!failure.empty()) {
        stop();
        throw std::runtime_error("SimProcess: " + failure + " (executable " + exe + ")");
    }
}

bool SimProcess::readLine(std::string& line, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const size_t eol = pending_.find('\n');
        if (eol != std::string::npos) {
            line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            return true;
        }
        if (stdoutFd_ < 0) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{stdoutFd_, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0)));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        char buf[256];
        const ssize_t n = read(stdoutFd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pending_.append(buf, static_cast<size_t>(n));
    }
}

void SimProcess::takePrintedLines() {
    std::string line;
    while (readLine(line, std::chrono::steady_clock::now())) {
        if (line.rfind(kSerialPrefix, 0) == 0) ptyPath_ = line.substr(std::strlen(kSerialPrefix));
    }
}

std::string SimProcess::ptyPath() {
    takePrintedLines();
    return ptyPath_;
}

std::string SimProcess::waitNewPtyPath(const std::string& old, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    takePrintedLines();
    std::string line;
    while (ptyPath_ == old) {
        if (!readLine(line, deadline)) {
            throw std::runtime_error("SimProcess: no new serial line within " +
                                     std::to_string(limit.count()) + " ms");
        }
        if (line.rfind(kSerialPrefix, 0) == 0) ptyPath_ = line.substr(std::strlen(kSerialPrefix));
    }
    return ptyPath_;
}

SimProcess::~SimProcess() {
    stop();
}

int SimProcess::stop() {
    int status = -1;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        if (!ReapWithin(pid_, kStopGrace, &status)) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }
    if (stdoutFd_ >= 0) {
        close(stdoutFd_);
        stdoutFd_ = -1;
    }
    return status;
}

}  // namespace cvn::sim
