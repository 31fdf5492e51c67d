// Starts the halvio-sim executable as a child process for tests and
// benchmarks, learns the port it listens on, and stops it again.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace cvn::sim {

// One running simulator. The executable comes from the environment variable
// HALVIO_SIM when set, otherwise it is the halvio-sim beside the running
// program, the one the build made, or the installed one, the first that
// exists.
// "--port 0" is always added, so every instance gets its own free port.
// The constructor blocks until the simulator prints its listening line (and,
// with "--pty" or "--pty-link", the path of its serial line) and throws std::runtime_error
// when it cannot start or stays silent for 10 s.
// The destructor stops the process (SIGTERM, then SIGKILL) and reaps it.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    uint16_t port() const { return port_; }
    // "127.0.0.1:<port>" (the host part as the simulator printed it).
    std::string address() const { return address_; }
    pid_t pid() const { return pid_; }
    // With "--pty": the client end of the serial line the simulator serves
    // now ("/dev/pts/N"), as it last printed it.
    std::string ptyPath();
    // Waits until the simulator offers a line other than `old` (after a
    // pulled cable) and returns its path; throws std::runtime_error when
    // none comes within `limit`.
    std::string waitNewPtyPath(const std::string& old, std::chrono::milliseconds limit);
    bool running() const { return pid_ > 0; }
    // Stops (SIGTERM, then SIGKILL after 5 s) and reaps the process; safe to
    // call more than once. Gives the wait status, or -1 when nothing ran.
    int stop();

    // Path of the executable that a new SimProcess would start.
    static std::string ExecutablePath();

private:
    // One line of the simulator's output without its line feed; false when
    // none is complete by the deadline or the output ended.
    bool readLine(std::string& line, std::chrono::steady_clock::time_point deadline);
    // Takes every complete line already printed, noting serial paths.
    void takePrintedLines();

    pid_t pid_ = -1;
    std::string pending_;  // output read but not yet split into lines
    std::string ptyPath_;
    int stdoutFd_ = -1;
    uint16_t port_ = 0;
    std::string address_;
};

}  // namespace cvn::sim
