// The simulated scope on USB, as the kernel's usbtmc driver shows such an
// instrument to a program: ports (one per open of the device node) whose
// read(), write() and USBTMC_IOCTL_* calls behave as the driver documents
// them, answered by the shared Instrument with the same faults as over TCP.
//
// What the emulation does, call by call:
//  - write(): bytes up to a write with EOM enabled form one message; it is
//    run at once, and its reply is queued as one message (EOM on its last
//    byte).
//  - read(n): waits (up to the port's time-out, else ETIMEDOUT) for a reply,
//    then returns at most n bytes of it, fewer when the device ends its
//    transfer (maxTransfer), at the term char when that is enabled, or at
//    the message end. USBTMC_IOCTL_MSG_IN_ATTR then reports bit 0 (EOM) set
//    exactly when the last byte of the message went out, whatever n was.
//  - USBTMC_IOCTL_ABORT_BULK_IN drops the reply in progress, _ABORT_BULK_OUT
//    a half-written message, _CLEAR both and every queued reply.
//  - an unplugged device fails every call of every port with ENODEV; a port
//    opened after that is a device plugged in again.
// Faults that close or reset a TCP connection unplug the device at that
// byte, as a pulled cable would; "#0" blocks and a block's late line feed
// come as over TCP, the late line feed after a pause within the message.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "io/UsbtmcPort.h"
#include "sim/instrument/Instrument.h"

namespace cvn::sim {

class UsbtmcEmulation {
public:
    explicit UsbtmcEmulation(Instrument& instrument);
    ~UsbtmcEmulation();

    // One open of the device node.
    std::unique_ptr<io::UsbtmcPort> open();

    // The device ends each transfer after at most this many bytes (0: as
    // many as the read asks for), short and without EOM.
    void setMaxTransfer(size_t bytes);
    // The next reply stops after this many bytes and sends nothing more
    // until it is aborted.
    void stallNextReplyAfter(size_t bytes);
    // Unplugs the device now.
    void unplug();
    // A driver from before USBTMC_IOCTL_MSG_IN_ATTR: the ioctl fails ENOTTY.
    void setOldDriver(bool old);
    // How often a transfer was aborted or the device cleared.
    int aborts() const;

    struct Device;

private:
    Instrument& instrument_;
    std::shared_ptr<Device> device_;
    mutable std::mutex mutex_;  // guards device_ (replaced on replug)
};

}  // namespace cvn::sim
