// Serial front of the simulator: a pseudo-terminal pair whose client end
// (/dev/pts/N) a program opens as if it were the scope's RS-232 port. Served
// as a byte stream like a TCP connection (ServeByteStream): the same SCPI
// and faults as over TCP, with a real line's settings and, when paced, a
// real line's speed. A client whose end runs at another speed or
// framing gets no answer: the scope hears only noise then. A fault that
// ends the connection closes the pty like a pulled cable; a new pair (a new
// path) then takes its place.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "sim/instrument/Instrument.h"

namespace cvn::sim {

class PtyServer {
public:
    // Told the client path of every new pair (the first one included).
    using OnPath = std::function<void(const std::string&)>;

    // Opens the first pair at once, with the slave in raw mode, 8N1, no flow
    // control, at `baud`. Throws std::system_error when that fails, and
    // std::invalid_argument for a baud rate the line does not have.
    // With a `link` path, a symbolic link there always names the current
    // pair's client end: the new pair is linked before the old one hangs
    // up, so a client that opens the link again finds the line plugged back
    // in, as a real port keeps its name.
    PtyServer(Instrument& instrument, int baud, bool paced, OnPath onPath = {},
              std::string link = {});
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // The client end of the current pair.
    std::string path() const;

    void start();
    // Stops serving, closes the pair and joins the thread.
    void stop();

private:
    class Line;  // the line as the serving routine sees it

    struct Pair {
        int master = -1;
        int slave = -1;
        std::string path;
    };
    Pair OpenPair();
    // Serves `pair` from now on; gives the previous one back.
    Pair Adopt(Pair pair);
    static void Close(Pair& pair);
    void Run();
    // Serves until the server stops or a fault ends the line; true when the
    // line must be pulled (a new pair follows).
    bool Serve();
    // Sends bytes the way the line carries them; false when the line is to
    // be dropped (stopping) .
    bool Send(const char* data, size_t size);
    bool Pause(int ms);
    // Whether the client end runs at our speed and framing.
    bool LineMatches();

    Instrument& instrument_;
    const int baud_;
    const bool paced_;
    OnPath onPath_;
    std::string link_;
    int master_ = -1;
    int slave_ = -1;  // held open so the line never hangs up between clients
    bool mismatchReported_ = false;
    mutable std::mutex pathMutex_;
    std::string path_;
    std::atomic<bool> stopping_{false};
    std::mutex pauseMutex_;
    std::condition_variable wake_;
    int wakePipe_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace cvn::sim
