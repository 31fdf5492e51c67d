// Starts the halvio-sim executable as a child process for tests and
// benchmarks, learns the port it listens on, and stops it again.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace cvn::sim {

// One running simulator. The executable comes from the environment variable
// HALVIO_SIM when set, otherwise it is the halvio-sim beside the running
// program, the one the build made, or the installed one, the first that
// exists.
// "--port 0" is always added, so every instance gets its own free port.
// The constructor blocks until the simulator prints its listening line and
// throws std::runtime_error when it cannot start or stays silent for 10 s.
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
    bool running() const { return pid_ > 0; }
    // Stops (SIGTERM, then SIGKILL after 5 s) and reaps the process; safe to
    // call more than once. Gives the wait status, or -1 when nothing ran.
    int stop();

    // Path of the executable that a new SimProcess would start.
    static std::string ExecutablePath();

private:
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    uint16_t port_ = 0;
    std::string address_;
};

}  // namespace cvn::sim
