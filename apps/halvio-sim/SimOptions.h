// Command line of halvio-sim.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/instrument/ScopeState.h"

namespace cvn::sim {

struct SimOptions {
    uint16_t port = 5025;
    std::string bind = "127.0.0.1";
    std::string model;  // empty: ModelInfo::DefaultId()
    std::string serial = "CVN40517263";
    std::string idn;  // non-empty: the whole identification reply
    FaultConfig faults;
    SignalConfig signal[ScopeState::kMaxChannels] = {DefaultSignal(1), DefaultSignal(2),
                                                     DefaultSignal(3), DefaultSignal(4)};
    PodConfig pod[ScopeState::kPods] = {DefaultPod(1), DefaultPod(2)};
    bool vxi11 = false;      // also serve VXI-11 (portmapper on port 111)
    uint16_t vxi11Port = 0;  // VXI-11 core channel; 0 picks a free port
    bool pty = false;        // also serve on a pseudo-terminal (a serial line)
    std::string ptyLink;     // non-empty: a symbolic link that names the current line
    int baud = 9600;         // that line's speed
    bool paced = false;      // replies on the line no faster than the baud rate allows
    bool help = false;
};

// Parses the arguments (without the program name). Throws
// std::invalid_argument naming the offending option.
SimOptions ParseSimOptions(const std::vector<std::string>& args);
std::string SimUsage();

}  // namespace cvn::sim
