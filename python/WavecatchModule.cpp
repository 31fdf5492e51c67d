// The wavecatch Python module: a host of the add-in like the wavecatch
// program. It loads the add-in module, creates IWavecatch and drives it by
// dispatch, then hands the results to Python as NumPy arrays already scaled
// with their preambles (by the host's scaling, never a second copy of it).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "automation/ClassRegistry.h"
#include "automation/Dispatch.h"
#include "cvnVersion.h"
#include "cvnWCHalv.h"
#include "host/AddinLoader.h"
#include "host/AxisLabels.h"
#include "host/Capture.h"
#include "host/ReplyText.h"
#include "host/Scaling.h"
#include "host/TransferProgress.h"
#include "host/bench/CaptureExtras.h"
#include "host/bench/ModelCheck.h"
#include "host/formats/SaveCapture.h"
#include "host/qt/GuiApp.h"
#include "python/Notebook.h"
#include "support/AppKey.h"
#include "support/Error.h"
#include "support/ErrorHandler.h"
#include "support/SettingsStore.h"
#include "support/Text.h"

namespace py = pybind11;

namespace cvn::python {

// Measurements, setup files, screen, raw SCPI and find (BenchSession.cpp).
void AddBenchMethods(py::module_& m, py::object session);
// A Capture object (the type Session.capture returns) holding r.
py::object CaptureObject(host::CaptureResult r);

namespace {

// The number a capture that delivered nothing raises with: the automation
// runtime's "cancel was selected".
constexpr int32_t kCancelled = 32755;
// The number a failed data set raises with when its data is asked for:
// the automation runtime's "device I/O error".
constexpr int32_t kFailedSet = 57;
constexpr int32_t kNoModule = kCannotCreateObject;

PyObject* gErrorType = nullptr;

[[noreturn]] void raise(int32_t number, const std::string& text) {
    throw Error(number, text, "wavecatch");
}

py::array_t<double> ArrayOf(const std::vector<double>& v) {
    py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

// The raw values as a read-only NumPy array over the add-in's own array:
// the capsule keeps that array alive as long as NumPy needs it.
py::array RawView(const host::RawSamples& raw) {
    auto* keep = new host::RawSamples(raw);
    py::capsule owner(keep, [](void* p) { delete static_cast<host::RawSamples*>(p); });
    py::array a = keep->visit([&](auto span) {
        using T = std::remove_const_t<typename decltype(span)::element_type>;
        return py::array(py::dtype::of<T>(), {static_cast<py::ssize_t>(span.size())},
                         {static_cast<py::ssize_t>(sizeof(T))}, span.data(), owner);
    });
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
}

// One data set: the raw values stay as delivered; times and scaled values
// are computed when first asked for, so a capture of millions of points
// costs its raw size until then.
struct DataSet {
    std::string source;
    int32_t code = 0;
    std::pair<std::string, std::string> units;
    host::DataSet set;
    py::array raw;
    py::array_t<double> preamble;
    std::optional<py::array_t<double>> time, values;
    std::string error;  // a set that failed: why; its data is nobody's for certain

    bool ok() const { return error.empty(); }
    // A failed set hands out no numbers at all.
    void mustBeOk() const {
        if (!ok()) raise(kFailedSet, source + ": " + error);
    }
    const py::array& rawArray() const {
        mustBeOk();
        return raw;
    }
    const py::array_t<double>& preambleArray() const {
        mustBeOk();
        return preamble;
    }
    const py::array_t<double>& timeArray() {
        mustBeOk();
        if (!time) {
            py::array_t<double> t(static_cast<py::ssize_t>(set.raw.size()));
            double* out = t.mutable_data();
            for (size_t i = 0; i < set.raw.size(); ++i) out[i] = set.Time(i);
            time = std::move(t);
        }
        return *time;
    }
    const py::array_t<double>& valueArray() {
        mustBeOk();
        if (!values) {
            py::array_t<double> v(static_cast<py::ssize_t>(set.raw.size()));
            double* out = v.mutable_data();
            const host::PreambleBlock& b = set.block;
            set.raw.visit([&](auto raw) {
                for (size_t i = 0; i < raw.size(); ++i)
                    out[i] = b.Value(static_cast<double>(raw[i]));
            });
            values = std::move(v);
        }
        return *values;
    }
};

struct Capture {
    std::shared_ptr<const host::CaptureResult> result;
    py::list datasets;
    py::list failed;
    std::optional<std::string> imagePath;
    int32_t dataType = 0;
    int32_t actionType = 0;
    std::string model;
    bool cancelled = false;
    std::string warning;
    std::string xyDescription;

    // The formats' files in folder, as the capture command writes them.
    // Files of an earlier capture there that this one does not write are
    // refused, or with force kept as they are.
    std::vector<std::string> save(const std::string& folder, const std::string& format,
                                  bool force) const {
        const std::optional<host::FormatSet> formats = host::ParseFormats(format);
        if (!formats)
            raise(kInvalidCall, "format takes a list of " + host::FormatIds() + ": " + format);
        host::WrittenFiles w;
        {
            py::gil_scoped_release release;
            w = host::SaveFormats(*result, folder, *formats, force);
        }
        // A file the capture cannot fill truthfully is an error, as in the
        // command; the files that could be written stay.
        if (!w.skipped.empty()) {
            std::string text;
            for (const std::string& s : w.skipped) text += (text.empty() ? "" : "; ") + s;
            raise(kPathError, text);
        }
        return w.files;
    }
};

// Capture.save's documentation, with the formats of the capture command's
// list.
const std::string& SaveDoc() {
    static const std::string kDoc =
        "Writes the capture into the folder path in the formats of the comma-separated "
        "list, as 'wavecatch capture --format' does, files only for the sets that arrived; "
        "returns the files written. Files of an earlier capture in path that this one does "
        "not write raise wavecatch.Error, unless force keeps them. Raises wavecatch.Error "
        "when a format cannot hold the capture truthfully (sr and vcd state the sample rate "
        "in whole hertz only), after writing the other files. Formats:\n" +
        host::FormatsHelp("  ");
    return kDoc;
}

std::shared_ptr<DataSet> Convert(const host::DataSet& s, std::vector<host::AxisGroup>& groups) {
    auto d = std::make_shared<DataSet>();
    d->code = s.block.sourceCode;
    d->source = host::SettingsSourceName(d->code);
    const host::AxisGroup axis = host::AxisGroupFor(d->code, groups);
    d->units = {host::Utf8Text(axis.xUnits), host::Utf8Text(axis.yUnits)};
    d->set = s;
    d->raw = RawView(s.raw);
    d->preamble = ArrayOf(s.block.ToNumbers());
    return d;
}

std::shared_ptr<DataSet> Convert(const host::FailedSet& f, std::vector<host::AxisGroup>& groups) {
    auto d = std::make_shared<DataSet>();
    d->code = f.code;
    d->source = host::SettingsSourceName(f.code);
    const host::AxisGroup axis = host::AxisGroupFor(d->code, groups);
    d->units = {axis.xUnits, axis.yUnits};
    d->error = f.why;
    return d;
}

// The module to load: the given one, else the registered one (empty: the
// loader follows the registration), else the one installed or built beside
// this Python module.
std::string ResolveModule(const std::optional<std::string>& module) {
    if (module && !module->empty()) return host::AbsoluteModulePath(*module);
    if (automation::LookUpClass(CVN_PROGID_IWAVECATCH)) return "";
    std::string path = host::DefaultModulePath();
    if (path.empty())
        raise(kNoModule,
              "The add-in is not registered (run 'wavecatch register') and no module was found "
              "beside the wavecatch Python module; pass module=PATH");
    return path;
}

// The Python view of a capture's result: its data sets in the add-in's
// order, the failed ones marked among the others.
Capture CaptureOf(host::CaptureResult r) {
    Capture c;
    c.result = std::make_shared<const host::CaptureResult>(r);
    c.dataType = r.dataType;
    c.actionType = r.actionType;
    // The scope's words, as str whatever their bytes.
    c.model = host::Utf8Text(r.model);
    c.cancelled = r.cancel || !r.failed.empty();
    c.warning = host::Utf8Text(r.warning);
    c.xyDescription = host::Utf8Text(r.xyDescription);
    if ((r.actionType & 1) && !r.bmpPath.empty()) c.imagePath = r.bmpPath;
    // In the add-in's order, the failed sets marked among the others.
    std::vector<host::AxisGroup> groups = host::AxisGroups(r.xyDescription);
    size_t good = 0;
    for (size_t b = 0, f = 0; good < r.sets.size() || f < r.failed.size(); ++b) {
        if (f < r.failed.size() && r.failed[f].block == b) {
            py::object d = py::cast(Convert(r.failed[f++], groups));
            c.datasets.append(d);
            c.failed.append(d);
        } else if (good < r.sets.size()) {
            c.datasets.append(py::cast(Convert(r.sets[good++], groups)));
        }
    }
    return c;
}

class Session {
public:
    Session(std::optional<std::string> address, std::optional<std::string> module,
            std::optional<std::string> registryKey)
        : address_(address.value_or("")), registryKey_(std::move(registryKey)) {
        connection_ = host::CreateObject(CVN_PROGID_IWAVECATCH, ResolveModule(module));
    }

    const std::string& address() const { return address_; }
    void setAddress(std::string a) { address_ = std::move(a); }
    const std::string& modulePath() const { return connection_.module->path(); }
    const std::optional<std::string>& registryKey() const { return registryKey_; }

    // The capture profile the add-in's dialog stores, for silent captures
    // on a machine where the dialog never ran.
    std::string setting(const std::string& name) const {
        return GetSetting(host::SettingsKeyFor(registryKey_), kSettingsSection, name);
    }
    void setSetting(const std::string& name, const std::string& value) {
        SaveSetting(host::SettingsKeyFor(registryKey_), kSettingsSection, name, value);
    }

    Capture capture(bool dialog, const py::object& points,
                    const std::optional<std::string>& registryKey, const py::object& progress,
                    bool extras) {
        host::CaptureRequest req;
        req.address = address_;
        req.dialog = dialog;
        req.registryKey = registryKey ? registryKey : registryKey_;
        if (!points.is_none()) req.points = pointsChoice(points);
        prepareApplication(dialog);

        // The callback runs inside the add-in's read. Ctrl-C (or another
        // signal handler that raises) is taken there, at the next progress
        // step of a transfer: Python only runs its handlers between steps of
        // its own. The first exception, the user's callback's included,
        // cancels the transfers and is raised once the add-in has returned.
        std::optional<py::error_already_set> failed;
        const std::shared_ptr<host::AddinModule> module = connection_.module;
        const host::ProgressCallback report = [&](const std::string& source, size_t received,
                                                  size_t total) {
            py::gil_scoped_acquire gil;
            if (!failed) {
                try {
                    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                    if (!progress.is_none()) progress(source, received, total);
                } catch (py::error_already_set& e) {
                    failed = std::move(e);
                }
            }
            if (failed) module->cancelTransfer();
        };
        req.progress = report;
        host::CaptureResult r;
        std::vector<std::string> missing;
        {
            // The add-in runs on this thread; other Python threads may run
            // while it waits for the scope.
            py::gil_scoped_release release;
            const host::CaptureExtras start = host::StartExtras(req);
            r = host::RunCapture(connection_, req);
            // The scope is stopped now: its setup and measurements are the
            // captured acquisition's.
            if (extras && !failed && !r.cancel && !start.address.empty())
                missing = host::ReadCaptureExtras(r, start);
        }
        if (failed) throw std::move(*failed);
        for (const std::string& m : missing)
            if (PyErr_WarnEx(PyExc_RuntimeWarning,
                             ("wavecatch: the capture is without its " + m).c_str(), 1) < 0)
                throw py::error_already_set();
        if (r.cancel && r.actionType == 0) {
            const std::string where = address_.empty() ? "the stored address" : address_;
            raise(kCancelled, "No data: the capture was cancelled or no scope answered at " +
                                  where + " (" + whyText() + ")");
        }
        return CaptureOf(std::move(r));
    }

private:
    // A number of points or "MAX", checked as the capture command checks
    // --points: nothing the add-in would store as an unknown choice.
    static std::string pointsChoice(const py::object& points) {
        std::optional<std::string> choice;
        if (!py::isinstance<py::bool_>(points) &&
            (py::isinstance<py::int_>(points) || py::isinstance<py::str>(points)))
            choice = host::PointsChoice(py::str(points).cast<std::string>());
        if (!choice)
            raise(kInvalidCall, std::string("points ") + host::kPointsRule + ", not " +
                                    py::repr(points).cast<std::string>());
        return *choice;
    }

    // Qt allows one application object per process, and only a widget
    // application can show the dialog; a silent capture without a display
    // gets the offscreen platform, where the add-in answers its own
    // message boxes (a retry prompt is answered Cancel).
    static void prepareApplication(bool dialog) {
        if (dialog && !host::CanShowWindows())
            raise(kInvalidCall, "dialog=True needs a display (DISPLAY or WAYLAND_DISPLAY)");
        host::EnsureGuiApplication(dialog);
        if (dialog && !host::HaveWidgetApplication())
            raise(kInvalidCall,
                  "dialog=True needs the first capture of this process to show the dialog "
                  "(a silent capture before it started Qt without widgets)");
    }

    // Where to read why: the add-in's messages, and its error log when it
    // has written one (it logs only some failures, so a path that does not
    // exist would send the reader looking for nothing).
    std::string whyText() const {
        const std::string& path = connection_.module->path();
        const size_t slash = path.rfind('/');
        std::string base = path.substr(slash + 1);
        base = base.substr(0, base.find(".so"));
        const std::string log = ErrorLogPath(path.substr(0, slash + 1), base);
        if (::access(log.c_str(), F_OK) == 0)
            return "the add-in's messages above and its error log " + log + " say why";
        return "the add-in's messages above say why";
    }

    std::string address_;
    std::optional<std::string> registryKey_;
    host::Connection connection_;
};

std::vector<std::string> SupportedInstruments(const std::optional<std::string>& module) {
    host::Connection c = host::CreateObject(CVN_PROGID_IWAVECATCH, ResolveModule(module));
    const std::string list = automation::getProperty(*c.object, "SupportedInstruments").toString();
    std::vector<std::string> models;
    for (const std::string& id : host::ModelsOfList(list)) models.push_back(host::Utf8Text(id));
    return models;
}

std::string Version(const std::optional<std::string>& module) {
    std::string path = ResolveModule(module);
    if (path.empty()) path = host::RegisteredClass(CVN_PROGID_IWAVECATCH).modulePath;
    return host::AddinModule(path).version();
}

std::string Repr(const DataSet& d) {
    if (!d.ok())
        return "<wavecatch.DataSet " + d.source + " code=" + std::to_string(d.code) +
               " failed: " + d.error + ">";
    return "<wavecatch.DataSet " + d.source + " code=" + std::to_string(d.code) +
           " points=" + std::to_string(d.set.raw.size()) + " units=" + d.units.first + "," +
           d.units.second + ">";
}

std::string Html(const Capture& c) {
    std::vector<SourceRow> rows;
    for (const py::handle& h : c.datasets) {
        const DataSet& d = h.cast<const DataSet&>();
        SourceRow r{d.source, d.set.raw.size(), d.set.block.xIncrement, 0,
                    0,        d.units.first,    d.units.second,         d.error};
        if (d.ok() && !d.set.raw.empty()) {
            const auto [lo, hi] = d.set.raw.visit([](auto raw) {
                const auto [a, b] = std::minmax_element(raw.begin(), raw.end());
                return std::pair<double, double>(*a, *b);
            });
            r.yLow = std::min(d.set.block.Value(lo), d.set.block.Value(hi));
            r.yHigh = std::max(d.set.block.Value(lo), d.set.block.Value(hi));
        }
        rows.push_back(std::move(r));
    }
    return CaptureHtml(c.model, rows);
}

std::string Repr(const Capture& c) {
    std::string sources;
    for (const py::handle& d : c.datasets)
        sources += (sources.empty() ? "" : ",") + d.cast<const DataSet&>().source;
    return "<wavecatch.Capture model=" + c.model + " data_type=" + std::to_string(c.dataType) +
           " action_type=" + std::to_string(c.actionType) + " datasets=[" + sources + "]" +
           (c.imagePath ? " image" : "") + (c.cancelled ? " cancelled" : "") + ">";
}

}  // namespace

py::object CaptureObject(host::CaptureResult r) {
    return py::cast(CaptureOf(std::move(r)));
}

}  // namespace cvn::python

PYBIND11_MODULE(wavecatch, m) {
    using namespace cvn::python;
    m.doc() =
        "Captures from Corvane Halvio Series oscilloscopes through the cvnWCHalv add-in.\n\n"
        "    s = wavecatch.Session(address=\"192.168.1.20:5025\")\n"
        "    c = s.capture()\n"
        "    for d in c.datasets: print(d.source, d.units, d.values.max())\n";
    m.attr("__version__") = CVN_VERSION;
    m.attr("CANCELLED") = kCancelled;

    // wavecatch.Error(message) with .number, .description and .source.
    gErrorType = PyErr_NewExceptionWithDoc(
        "wavecatch.Error",
        "A failure of the add-in, the I/O library or the capture. .number is the "
        "system's error number (429: module not found, 50xx: I/O, 32755: nothing "
        "captured); .description its message; .source the component.",
        PyExc_RuntimeError, nullptr);
    m.attr("Error") = py::handle(gErrorType);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const cvn::Error& e) {
            // Descriptions may quote the scope's bytes.
            const std::string description = cvn::host::Utf8Text(e.description());
            py::object error = py::reinterpret_borrow<py::object>(gErrorType)(description);
            error.attr("number") = e.number();
            error.attr("description") = description;
            error.attr("source") = cvn::host::Utf8Text(e.source());
            PyErr_SetObject(gErrorType, error.ptr());
        }
    });

    py::class_<DataSet, std::shared_ptr<DataSet>>(m, "DataSet",
                                                  "One data set: a source's samples, scaled.")
        .def_readonly("source", &DataSet::source,
                      "\"CHAN1\"..\"CHAN4\", \"FUNC\", \"POD1\", \"D3\"")
        .def_readonly("code", &DataSet::code,
                      "source code of the preamble (1-5, 8, 16, 100+n, 200+n)")
        .def_readonly("units", &DataSet::units, "(x units, y units), e.g. (\"sec\", \"Volt\")")
        .def_property_readonly("time", &DataSet::timeArray,
                               "seconds of each sample (float64, computed on first use)")
        .def_property_readonly("values", &DataSet::valueArray,
                               "scaled values (volts; 0..255 for a pod; float64, computed on "
                               "first use)")
        .def_property_readonly("raw", &DataSet::rawArray,
                               "raw values as delivered (int16 words or uint8 bytes), a "
                               "read-only view of the add-in's array")
        .def_property_readonly("preamble", &DataSet::preambleArray, "the 11-number preamble block")
        .def_property_readonly("ok", &DataSet::ok,
                               "False when the transfer failed or the data cannot be told to "
                               "be this source's: time, values, raw and preamble then raise "
                               "wavecatch.Error")
        .def_readonly("error", &DataSet::error, "why the set failed (\"\" when ok)")
        .def("__len__", [](const DataSet& d) { return d.set.raw.size(); })
        .def("__repr__", [](const DataSet& d) { return Repr(d); });

    py::class_<Capture>(m, "Capture", "What one capture delivered.")
        .def_readonly("datasets", &Capture::datasets,
                      "every data set in the add-in's order, failed ones marked (ok False)")
        .def_readonly("failed", &Capture::failed,
                      "the data sets that failed, which hand out no data")
        .def_readonly("image_path", &Capture::imagePath,
                      "screen image file (BMP) in the temporary folder, or None; it is "
                      "removed when the Capture is collected, so copy it to keep it")
        .def_readonly("data_type", &Capture::dataType, "8 one data set, 64 several, +32 image")
        .def_readonly("action_type", &Capture::actionType, "bit 4 waveform data, bit 1 image")
        .def_readonly("model", &Capture::model)
        .def_readonly("cancelled", &Capture::cancelled,
                      "True when the results are incomplete (the add-in cancelled, or a data "
                      "set failed)")
        .def_readonly("warning", &Capture::warning, "raw data and preambles disagree")
        .def_readonly("xy_description", &Capture::xyDescription)
        .def("save", &Capture::save, py::arg("path"), py::arg("format") = "csv,json",
             py::arg("force") = false, SaveDoc().c_str())
        .def(
            "_repr_png_", [](const Capture& c) { return CapturePng(*c.result); },
            "the plot of the sources, as PNG bytes (the capture command's plot.png); None "
            "without data")
        .def("_repr_html_", &Html,
             "a table of the sources: points, x increment, sample rate, "
             "y range in its unit")
        .def("__repr__", [](const Capture& c) { return Repr(c); });

    py::class_<Session>(m, "Session",
                        "A host of the add-in. address is stored where the add-in looks for "
                        "the instrument before each capture (None: the stored one); module "
                        "is the add-in module (None: the registered one, else the installed "
                        "one); registry_key selects another settings key. capture() goes through "
                        "that module by dispatch (GetDataFromInstrument), as the wavecatch "
                        "capture command does; measure, save_setup, restore_setup, screen, "
                        "query, write and query_block run the add-in's own routines linked "
                        "into this Python module (the bench half), on one shared connection; "
                        "each method's documentation names its backend.")
        .def(py::init<std::optional<std::string>, std::optional<std::string>,
                      std::optional<std::string>>(),
             py::arg("address") = py::none(), py::arg("module") = py::none(),
             py::arg("registry_key") = py::none())
        .def_property("address", &Session::address, &Session::setAddress)
        .def_property_readonly("module_path", &Session::modulePath)
        .def_property_readonly("registry_key", &Session::registryKey, "the settings key given")
        .def("setting", &Session::setting, py::arg("name"),
             "A value of the stored capture profile (\"\" when unset).")
        .def("set_setting", &Session::setSetting, py::arg("name"), py::arg("value"),
             "Stores a value of the capture profile, as the dialog would: ActiveChannels "
             "(\"CHAN1,CHAN2,POD1\"), Screen, Waveform, D0D7, D8D15, MakeNewAcquisition "
             "(\"1\" or \"0\").")
        .def("capture", &Session::capture, py::arg("dialog") = false,
             py::arg("points") = py::none(), py::arg("registry_key") = py::none(),
             py::arg("progress") = py::none(), py::arg("extras") = true,
             "Fetches data with the stored capture profile (or the add-in's dialog). "
             "extras: afterwards read from the stopped scope its identification, setup and 24 "
             "quick measurements, kept with the screen image, start time and profile for "
             "save(format=\"h5\") (an extra the scope does not give is a RuntimeWarning). "
             "points: the add-in's points choice, a whole number or \"MAX\" (anything else "
             "raises wavecatch.Error); it is not the record length, which is set on the scope "
             "(query/write, e.g. \":ACQuire:POINts 1000000\"). A scope whose identification "
             "names no supported model is refused. progress: called as progress(source, "
             "received, total) while each source's data arrives (bytes; the last call has "
             "received == total). Ctrl-C stops a transfer at its next progress step and "
             "raises KeyboardInterrupt. Raises wavecatch.Error when nothing was captured. "
             "Backend: the loaded add-in module, by dispatch.");
    AddBenchMethods(m, m.attr("Session"));

    m.def("supported_instruments", &SupportedInstruments, py::arg("module") = py::none(),
          "The model identifiers the add-in supports.");
    m.def("version", &Version, py::arg("module") = py::none(), "The add-in module's version.");
}
