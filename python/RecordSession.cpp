// Session.record: the unattended recorder as a Python generator of captures,
// with the record command's files and retention when out is given.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "host/ConsoleUi.h"
#include "host/bench/Recorder.h"
#include "host/formats/Recording.h"
#include "support/Error.h"

namespace py = pybind11;

namespace cvn::python {

py::object CaptureObject(host::CaptureResult r);

namespace {

[[noreturn]] void invalid(const std::string& why) {
    throw Error(kInvalidCall, why, "wavecatch");
}

// Runs Python's signal handlers; true when they raised KeyboardInterrupt,
// which ends the recording (and is taken back). Any other exception they
// raise goes on.
bool interrupted() {
    if (PyErr_CheckSignals() == 0) return false;
    if (!PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) throw py::error_already_set();
    PyErr_Clear();
    return true;
}

class Recording {
public:
    Recording(host::RecordRequest request, std::optional<uint64_t> count,
              std::optional<double> duration, std::optional<host::RecordFile> file)
        : count_(count), duration_(duration), file_(std::move(file)) {
        py::gil_scoped_release release;
        recorder_ = std::make_unique<host::Recorder>(std::move(request));
        start_ = std::chrono::steady_clock::now();
    }

    py::object next() {
        if (done_ || !recorder_ || (count_ && taken_ >= *count_) || timeUp()) {
            close();
            throw py::stop_iteration();
        }
        std::optional<host::Acquisition> a;
        {
            py::gil_scoped_release release;
            a = recorder_->Next([this] {
                py::gil_scoped_acquire gil;
                done_ = done_ || interrupted();
                return done_ || timeUp();
            });
            if (a && file_) file_->append(a->sequence, a->triggerTime, a->result);
        }
        if (!a) {
            close();
            throw py::stop_iteration();
        }
        ++taken_;
        // Ctrl-C during the transfer ends the recording after this one.
        done_ = done_ || interrupted();
        return CaptureObject(std::move(a->result));
    }

    void close() {
        done_ = true;
        recorder_.reset();
    }
    size_t kept() const { return file_ ? file_->kept() : 0; }
    std::optional<std::string> path() const {
        return file_ ? std::optional<std::string>(file_->path()) : std::nullopt;
    }

private:
    bool timeUp() const {
        return duration_ &&
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count() >=
                   *duration_;
    }

    std::optional<uint64_t> count_;
    std::optional<double> duration_;
    std::optional<host::RecordFile> file_;
    std::unique_ptr<host::Recorder> recorder_;
    std::chrono::steady_clock::time_point start_;
    uint64_t taken_ = 0;
    bool done_ = false;
};

std::shared_ptr<Recording> record(const py::object& self, std::optional<int64_t> count,
                                  std::optional<double> duration, std::optional<std::string> out,
                                  const std::string& format, std::optional<int64_t> keep,
                                  const py::object& maxSize,
                                  std::optional<std::vector<std::string>> sources,
                                  double triggerTimeout, bool force) {
    if (count && *count < 1) invalid("count takes a whole number from 1");
    if (duration && !(*duration > 0)) invalid("duration takes seconds above 0");
    if (format != "h5" && format != "sr") invalid("format takes \"h5\" or \"sr\"");
    if (!(triggerTimeout > 0) || triggerTimeout > 1e6)
        invalid("trigger_timeout takes seconds above 0");
    host::Retention retention;
    if (keep) {
        if (*keep < 1) invalid("keep takes a whole number from 1");
        retention.keep = static_cast<size_t>(*keep);
    }
    if (!maxSize.is_none()) {
        std::optional<uint64_t> bytes;
        if (py::isinstance<py::int_>(maxSize) && !py::isinstance<py::bool_>(maxSize)) {
            const int64_t n = maxSize.cast<int64_t>();
            if (n > 0) bytes = static_cast<uint64_t>(n);
        } else if (py::isinstance<py::str>(maxSize)) {
            bytes = host::ParseByteSize(maxSize.cast<std::string>());
        }
        if (!bytes)
            invalid("max_size takes bytes or a size such as \"500M\", not " +
                    py::repr(maxSize).cast<std::string>());
        retention.maxBytes = *bytes;
    }
    if (!out && (keep || retention.maxBytes)) invalid("keep and max_size need out");
    host::RecordRequest request;
    request.target.address = self.attr("address").cast<std::string>();
    const py::object key = self.attr("registry_key");
    if (!key.is_none()) request.target.registryKey = key.cast<std::string>();
    if (sources) {
        std::string list;
        for (const std::string& s : *sources) list += (list.empty() ? "" : ",") + s;
        request.sources = host::ParseSourceList(list);
    }
    request.triggerTimeout =
        std::chrono::milliseconds(static_cast<int64_t>(std::llround(triggerTimeout * 1000)));
    std::optional<host::RecordFile> file;
    if (out)
        file.emplace(format == "h5" ? host::RecordFormat::H5 : host::RecordFormat::Sr,
                     host::AbsolutePath(*out), retention, force);
    return std::make_shared<Recording>(
        std::move(request),
        count ? std::optional<uint64_t>(static_cast<uint64_t>(*count)) : std::nullopt, duration,
        std::move(file));
}

}  // namespace

void AddRecordMethod(py::module_& m, py::object session) {
    py::class_<Recording, std::shared_ptr<Recording>>(
        m, "Recording", "The acquisitions of Session.record, one Capture each.")
        .def("__iter__", [](const std::shared_ptr<Recording>& r) { return r; })
        .def("__next__", &Recording::next)
        .def("close", &Recording::close, "ends the recording; the files stay as written")
        .def_property_readonly("kept", &Recording::kept, "acquisitions the output keeps")
        .def_property_readonly("path", &Recording::path, "the output, or None");
    session.attr("record") = py::cpp_function(
        &record, py::name("record"), py::is_method(session), py::arg("count") = py::none(),
        py::arg("duration") = py::none(), py::arg("out") = py::none(), py::arg("format") = "h5",
        py::arg("keep") = py::none(), py::arg("max_size") = py::none(),
        py::arg("sources") = py::none(), py::arg("trigger_timeout") = 30.0,
        py::arg("force") = false,
        "record(count=None, duration=None, out=None, format=\"h5\", keep=None, max_size=None, "
        "sources=None, trigger_timeout=30.0, force=False) -> iterator of Capture\n\n"
        "Takes acquisitions one after another as 'wavecatch record' does: arms the scope "
        "(:SINGle), waits until it stops (bit 3 of :OPER? clear, at most trigger_timeout "
        "seconds), reads the sources (a list such as [\"CHAN1\", \"POD1\"]; default the "
        "stored ActiveChannels) and yields one Capture per acquisition, until count "
        "acquisitions or duration seconds. With out, each is also written: h5 one file with "
        "a group per acquisition (/acq-000001 ...), sr one session per acquisition in the "
        "folder out; keep and max_size (bytes, or \"500M\") keep only the newest there. An "
        "existing output is refused unless force. Ctrl-C (KeyboardInterrupt) ends the loop "
        "after the acquisition being read, with every file valid. A scope that does not "
        "trigger or stops answering raises wavecatch.Error. Backend: the add-in's per-source "
        "transfer linked into this Python module (bench half), on its one shared "
        "connection, without the retrieval's settle wait; not the module given as module=.");
}

}  // namespace cvn::python
