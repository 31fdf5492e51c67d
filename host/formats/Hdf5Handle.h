// An HDF5 identifier closed by its own close function when it goes out of
// scope, so that no error path leaves a file, group or type open.
#pragma once

#include <hdf5.h>

namespace cvn::host {

class Hdf5Handle {
public:
    Hdf5Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    ~Hdf5Handle() {
        if (id_ >= 0) close_(id_);
    }
    Hdf5Handle(const Hdf5Handle&) = delete;
    Hdf5Handle& operator=(const Hdf5Handle&) = delete;
    operator hid_t() const { return id_; }  // NOLINT: used as the C API's id
    bool valid() const { return id_ >= 0; }

private:
    hid_t id_;
    herr_t (*close_)(hid_t);
};

}  // namespace cvn::host
