// The wavecatch Python module: a host of the add-in like the wavecatch
// program. It loads the add-in module, creates IWavecatch and drives it by
// dispatch, then hands the results to Python as NumPy arrays already scaled
// with their preambles (by the host's scaling, never a second copy of it).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <QApplication>
#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "apps/host/AddinLoader.h"
#include "apps/host/Capture.h"
#include "apps/host/CommandLine.h"
#include "apps/host/GuiApp.h"
#include "apps/host/Scaling.h"
#include "automation/ClassRegistry.h"
#include "automation/Dispatch.h"
#include "cvnWCHalv.h"
#include "support/AppKey.h"
#include "support/Error.h"
#include "support/ErrorHandler.h"
#include "support/SettingsStore.h"

namespace py = pybind11;

namespace cvn::python {

// Measurements, setup files, screen, raw SCPI and find (SessionTools.cpp).
void AddSessionTools(py::module_& m, py::object session);

namespace {

// The number a capture that delivered nothing raises with: the automation
// runtime's "cancel was selected".
constexpr int32_t kCancelled = 32755;
constexpr int32_t kNoModule = 429;

PyObject* gErrorType = nullptr;

[[noreturn]] void raise(int32_t number, const std::string& text) {
    throw Error(number, text, "wavecatch");
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The source as the add-in's settings name it: "CHAN1", "POD1", "D3", "FUNC".
std::string SourceOf(int32_t code) {
    const std::string name = host::SourceName(code);
    if (host::KindOfCode(code) == host::SourceKind::Analog && name.rfind("CH", 0) == 0)
        return "CHAN" + name.substr(2);
    return name;
}

// One "x units,y units,x description,y description" group of XYDescription.
struct AxisGroup {
    std::string xUnits, yUnits, label;
    bool used = false;
};

// The add-in appends one group per listed source, even for a source the
// scope does not show, and nothing but the comma for one it does not know.
// So groups are found by their labels, never by position, and empty fields
// between groups are skipped.
std::vector<AxisGroup> AxisGroups(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    std::vector<AxisGroup> groups;
    for (size_t i = 0; i < fields.size();) {
        if (fields[i].empty()) {
            ++i;
            continue;
        }
        if (i + 4 > fields.size()) break;
        groups.push_back({fields[i], fields[i + 1], fields[i + 3]});
        i += 4;
    }
    return groups;
}

// The key a label and a source share: "ch1"/"CHAN1" -> "chan1", "Pod1" ->
// "pod1", "D7" -> "d7"; anything else is the function's label.
std::string LabelKey(const std::string& label) {
    const std::string l = lower(label);
    auto digitsAfter = [&](size_t n) {
        return l.size() > n && std::all_of(l.begin() + static_cast<std::ptrdiff_t>(n), l.end(),
                                           [](unsigned char c) { return std::isdigit(c); });
    };
    if (l.rfind("chan", 0) == 0 && digitsAfter(4)) return l;
    if (l.rfind("ch", 0) == 0 && digitsAfter(2)) return "chan" + l.substr(2);
    if (l.rfind("pod", 0) == 0 && digitsAfter(3)) return l;
    if (l.rfind("d", 0) == 0 && digitsAfter(1)) return l;
    return "func";
}

std::pair<std::string, std::string> UnitsOf(int32_t code, std::vector<AxisGroup>& groups) {
    const std::string key = LabelKey(SourceOf(code));
    for (AxisGroup& g : groups) {
        if (!g.used && LabelKey(g.label) == key) {
            g.used = true;
            return {g.xUnits, g.yUnits};
        }
    }
    switch (host::KindOfCode(code)) {
        case host::SourceKind::Pod:
        case host::SourceKind::Bit:
            return {"sec", "byte"};
        default:
            return {"sec", "Volt"};
    }
}

py::array_t<double> ArrayOf(const std::vector<double>& v) {
    py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

struct DataSet {
    std::string source;
    int32_t code = 0;
    std::pair<std::string, std::string> units;
    py::array_t<double> time, values, raw, preamble;
};

struct Capture {
    std::vector<DataSet> datasets;
    std::optional<std::string> imagePath;
    int32_t dataType = 0;
    int32_t actionType = 0;
    std::string model;
    bool cancelled = false;
    std::string warning;
    std::string xyDescription;
};

DataSet Convert(const host::DataSet& s, std::vector<AxisGroup>& groups) {
    DataSet d;
    d.code = s.block.sourceCode;
    d.source = SourceOf(d.code);
    d.units = UnitsOf(d.code, groups);
    std::vector<double> t(s.raw.size()), v(s.raw.size());
    for (size_t i = 0; i < s.raw.size(); ++i) {
        t[i] = s.Time(i);
        v[i] = s.Value(i);
    }
    d.time = ArrayOf(t);
    d.values = ArrayOf(v);
    d.raw = ArrayOf(s.raw);
    d.preamble = ArrayOf(s.block.ToNumbers());
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
                    const std::optional<std::string>& registryKey) {
        host::CaptureRequest req;
        req.address = address_;
        req.dialog = dialog;
        req.registryKey = registryKey ? registryKey : registryKey_;
        if (!points.is_none()) req.points = py::str(points).cast<std::string>();
        prepareApplication(dialog);

        host::CaptureResult r;
        {
            // The add-in runs on this thread; other Python threads may run
            // while it waits for the scope.
            py::gil_scoped_release release;
            r = host::RunCapture(*connection_.object, req);
        }
        if (r.cancel && r.actionType == 0) {
            const std::string where = address_.empty() ? "the stored address" : address_;
            raise(kCancelled, "No data: the capture was cancelled or no scope answered at " +
                                  where + " (the add-in's messages above and its error log " +
                                  errorLog() + " say why)");
        }
        Capture c;
        c.dataType = r.dataType;
        c.actionType = r.actionType;
        c.model = r.model;
        c.cancelled = r.cancel;
        c.warning = r.warning;
        c.xyDescription = r.xyDescription;
        if ((r.actionType & 1) && !r.bmpPath.empty()) c.imagePath = r.bmpPath;
        std::vector<AxisGroup> groups = AxisGroups(r.xyDescription);
        for (const host::DataSet& s : r.sets) c.datasets.push_back(Convert(s, groups));
        return c;
    }

private:
    // Qt allows one application object per process, and only a widget
    // application can show the dialog; a silent capture without a display
    // gets the offscreen platform, where the add-in answers its own
    // message boxes (a retry prompt is answered Cancel).
    static void prepareApplication(bool dialog) {
        if (dialog && !host::CanShowWindows())
            raise(5, "dialog=True needs a display (DISPLAY or WAYLAND_DISPLAY)");
        host::EnsureGuiApplication(dialog);
        if (dialog && !qobject_cast<QApplication*>(QCoreApplication::instance()))
            raise(5,
                  "dialog=True needs the first capture of this process to show the dialog "
                  "(a silent capture before it started Qt without widgets)");
    }

    std::string errorLog() const {
        const std::string& path = connection_.module->path();
        const size_t slash = path.rfind('/');
        std::string base = path.substr(slash + 1);
        base = base.substr(0, base.find(".so"));
        return ErrorLogPath(path.substr(0, slash + 1), base);
    }

    std::string address_;
    std::optional<std::string> registryKey_;
    host::Connection connection_;
};

std::vector<std::string> SupportedInstruments(const std::optional<std::string>& module) {
    host::Connection c = host::CreateObject(CVN_PROGID_IWAVECATCH, ResolveModule(module));
    const std::string list = automation::getProperty(*c.object, "SupportedInstruments").toString();
    std::vector<std::string> models;
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::string m = list.substr(start, comma - start);
        m.erase(0, m.find_first_not_of(' '));
        m.erase(m.find_last_not_of(' ') + 1);
        if (!m.empty()) models.push_back(m);
        start = comma + 1;
    }
    return models;
}

std::string Version(const std::optional<std::string>& module) {
    std::string path = ResolveModule(module);
    if (path.empty()) path = host::RegisteredClass(CVN_PROGID_IWAVECATCH).modulePath;
    return host::AddinModule(path).version();
}

std::string Repr(const DataSet& d) {
    return "<wavecatch.DataSet " + d.source + " code=" + std::to_string(d.code) +
           " points=" + std::to_string(d.values.size()) + " units=" + d.units.first + "," +
           d.units.second + ">";
}

std::string Repr(const Capture& c) {
    std::string sources;
    for (const DataSet& d : c.datasets) sources += (sources.empty() ? "" : ",") + d.source;
    return "<wavecatch.Capture model=" + c.model + " data_type=" + std::to_string(c.dataType) +
           " action_type=" + std::to_string(c.actionType) + " datasets=[" + sources + "]" +
           (c.imagePath ? " image" : "") + (c.cancelled ? " cancelled" : "") + ">";
}

}  // namespace
}  // namespace cvn::python

PYBIND11_MODULE(wavecatch, m) {
    using namespace cvn::python;
    m.doc() =
        "Captures from Corvane Halvio Series oscilloscopes through the cvnWCHalv add-in.\n\n"
        "    s = wavecatch.Session(address=\"192.168.1.20:5025\")\n"
        "    c = s.capture()\n"
        "    for d in c.datasets: print(d.source, d.units, d.values.max())\n";
    m.attr("__version__") = CVN_PROJECT_VERSION;
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
            py::object error = py::reinterpret_borrow<py::object>(gErrorType)(e.description());
            error.attr("number") = e.number();
            error.attr("description") = e.description();
            error.attr("source") = e.source();
            PyErr_SetObject(gErrorType, error.ptr());
        }
    });

    py::class_<DataSet>(m, "DataSet", "One data set: a source's samples, scaled.")
        .def_readonly("source", &DataSet::source,
                      "\"CHAN1\"..\"CHAN4\", \"FUNC\", \"POD1\", \"D3\"")
        .def_readonly("code", &DataSet::code,
                      "source code of the preamble (1-5, 8, 16, 100+n, 200+n)")
        .def_readonly("units", &DataSet::units, "(x units, y units), e.g. (\"sec\", \"Volt\")")
        .def_readonly("time", &DataSet::time, "seconds of each sample")
        .def_readonly("values", &DataSet::values, "scaled values (volts; 0..255 for a pod)")
        .def_readonly("raw", &DataSet::raw, "raw values as delivered")
        .def_readonly("preamble", &DataSet::preamble, "the 11-number preamble block")
        .def("__len__", [](const DataSet& d) { return d.values.size(); })
        .def("__repr__", [](const DataSet& d) { return Repr(d); });

    py::class_<Capture>(m, "Capture", "What one capture delivered.")
        .def_readonly("datasets", &Capture::datasets)
        .def_readonly("image_path", &Capture::imagePath, "screen image file (BMP) or None")
        .def_readonly("data_type", &Capture::dataType, "8 one data set, 64 several, +32 image")
        .def_readonly("action_type", &Capture::actionType, "bit 4 waveform data, bit 1 image")
        .def_readonly("model", &Capture::model)
        .def_readonly("cancelled", &Capture::cancelled, "True when the results are incomplete")
        .def_readonly("warning", &Capture::warning, "raw data and preambles disagree")
        .def_readonly("xy_description", &Capture::xyDescription)
        .def("__repr__", [](const Capture& c) { return Repr(c); });

    py::class_<Session>(m, "Session",
                        "A host of the add-in. address is stored where the add-in looks for "
                        "the instrument before each capture (None: the stored one); module "
                        "is the add-in module (None: the registered one, else the installed "
                        "one); registry_key selects another settings key.")
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
             "Fetches data with the stored capture profile (or the add-in's dialog). "
             "points: a number of points or \"MAX\". Raises wavecatch.Error when nothing "
             "was captured.");
    AddSessionTools(m, m.attr("Session"));

    m.def("supported_instruments", &SupportedInstruments, py::arg("module") = py::none(),
          "The model identifiers the add-in supports.");
    m.def("version", &Version, py::arg("module") = py::none(), "The add-in module's version.");
}
