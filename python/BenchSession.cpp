// The bench half of the wavecatch Python module: measurements, setup files,
// the screen image, raw SCPI and the instrument search, with the add-in's own
// routines (the ones the dialog's tabs run), like the wavecatch commands.
// Message boxes those routines would show become the text of wavecatch.Error.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/ConsoleUi.h"
#include "host/ReplyText.h"
#include "host/bench/Bench.h"
#include "host/bench/CaptureExtras.h"
#include "host/bench/Scpi.h"
#include "host/formats/Hdf5Reader.h"
#include "io/IoSession.h"
#include "python/Notebook.h"
#include "scope/Connection.h"
#include "support/Error.h"

namespace py = pybind11;

namespace cvn::python {

// Session.record (RecordSession.cpp).
void AddRecordMethod(py::module_& m, py::object session);

namespace {

host::BenchTarget targetOf(const py::object& self) {
    host::BenchTarget t;
    t.address = self.attr("address").cast<std::string>();
    const py::object key = self.attr("registry_key");
    if (!key.is_none()) t.registryKey = key.cast<std::string>();
    return t;
}

// Runs f with the add-in's message boxes collected; a failure carries what
// they said.
template <typename F>
auto withConsole(F&& f) {
    host::ConsoleUiScope console(nullptr);
    try {
        return f();
    } catch (const Error& e) {
        // What the boxes said and the failure does not say already.
        std::string shown;
        for (const std::string& m : console.ui().messages())
            if (e.description().find(m) == std::string::npos)
                shown += (shown.empty() ? "" : "; ") + m;
        if (shown.empty()) throw;
        throw Error(e.number(), e.description() + " (" + shown + ")", e.source());
    }
}

// Raw SCPI goes over the add-in's shared session, which the measurements
// and setup files use too: one connection to the scope, so what one call
// sent has arrived before the next call asks (and scopes that take only one
// client at a time are served). Opened again after a failure left it out
// of step, by the same rule as the add-in's connection check.
io::IoSession& rawSession(const py::object& self) {
    const std::string address = host::ResolveAddress(targetOf(self));
    return SharedSession(address);
}

std::vector<host::MeasureRow> measure(const py::object& self, std::optional<std::string> source,
                                      std::optional<std::string> source2, bool newAcquisition,
                                      const py::object& only) {
    host::MeasureRequest req;
    req.source1 = std::move(source);
    req.source2 = std::move(source2);
    if (req.source2 && !req.source1)
        throw Error(host::kBenchFailed, "source2 needs source", "wavecatch");
    req.newAcquisition = newAcquisition;
    if (py::isinstance<py::str>(only))
        req.only.push_back(only.cast<std::string>());
    else if (!only.is_none())
        req.only = only.cast<std::vector<std::string>>();
    for (const std::string& name : req.only)
        if (!host::FindMeasurement(name))
            throw Error(host::kBenchFailed, "no measurement is called '" + name + "'", "wavecatch");
    const host::BenchTarget target = targetOf(self);
    return withConsole([&] {
        py::gil_scoped_release release;
        host::OpenScope(target);
        return host::RunMeasurements(req).rows;
    });
}

std::string saveSetup(const py::object& self, const std::string& path) {
    const std::string file = host::AbsolutePath(path);
    const host::BenchTarget target = targetOf(self);
    withConsole([&] {
        py::gil_scoped_release release;
        host::OpenScope(target);
        host::SaveSetup(file);
        return 0;
    });
    return file;
}

void restoreSetup(const py::object& self, const std::string& path) {
    const std::string file = host::AbsolutePath(path);
    const host::BenchTarget target = targetOf(self);
    withConsole([&] {
        py::gil_scoped_release release;
        // A capture.h5 sends the setup it keeps, checked before the scope
        // is asked anything and then as a setup file is.
        if (host::IsHdf5File(file)) {
            const std::string kept = host::CaptureSetupFile(file);
            host::OpenScope(target);
            host::RestoreSetupBytes(kept, file);
        } else {
            host::OpenScope(target);
            host::RestoreSetup(file);
        }
        return 0;
    });
}

// With a path the file, as the screen command writes it; without one the
// image itself, for a notebook to show.
py::object screen(const py::object& self, const std::optional<std::string>& path, bool invert) {
    const host::BenchTarget target = targetOf(self);
    if (!path) {
        ScreenImage image;
        image.data = withConsole([&] {
            py::gil_scoped_release release;
            return host::ReadScreen(host::ResolveAddress(target), invert);
        });
        image.format = host::ScreenImageFormat(image.data);
        return py::cast(std::move(image));
    }
    const std::string file = host::AbsolutePath(*path);
    withConsole([&] {
        py::gil_scoped_release release;
        return host::SaveScreen(host::ResolveAddress(target), invert, file);
    });
    return py::str(file);
}

std::string query(const py::object& self, const std::string& command) {
    const host::ScpiReply r = host::ScpiQuery(rawSession(self), command);
    if (r.block)
        throw Error(host::kBenchFailed,
                    command + " answered with a binary block of " + std::to_string(r.data.size()) +
                        " bytes; use query_block",
                    "wavecatch");
    std::string text = r.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return host::Utf8Text(text);
}

void write(const py::object& self, const std::string& command) {
    rawSession(self).Output(command);
}

py::object queryBlock(const py::object& self, const std::string& command, const py::object& dtype) {
    const host::ScpiReply r = host::ScpiQuery(rawSession(self), command);
    if (!r.block)
        throw Error(host::kBenchFailed, command + " did not answer with a binary block",
                    "wavecatch");
    py::bytes bytes(r.data);
    if (dtype.is_none()) return bytes;
    return py::module_::import("numpy").attr("frombuffer")(bytes, dtype).attr("copy")();
}

std::vector<host::FoundInstrument> find(bool usb, bool serial,
                                        const std::vector<std::string>& hosts, bool lan) {
    host::FindRequest req;
    req.usb = usb;
    req.serial = serial;
    req.hosts = hosts;
    req.lan = lan;
    py::gil_scoped_release release;
    return host::FindInstruments(req);
}

void addMethod(py::object& cls, const char* name, py::cpp_function f) {
    cls.attr(name) = f;
}

}  // namespace

// Adds the bench methods to Session and the bench functions and types to m.
void AddBenchMethods(py::module_& m, py::object session) {
    AddNotebookTypes(m);
    m.doc() = py::str(m.doc()).cast<std::string>() +
              "\n"
              "The whole bench, with the add-in's own routines (the same commands, texts and\n"
              "files as its dialog):\n\n"
              "    s = wavecatch.Session(address=\"192.168.1.20:5025\")\n"
              "    for m in s.measure(source=\"CHAN1\"):      # the Measurement tab\n"
              "        print(m.name, m.text, m.value, m.unit)  # Freqeuncy +1.00000kHz 1000.0 Hz\n"
              "    s.save_setup(\"bench.scp\")                # the Scope Settings tab\n"
              "    s.restore_setup(\"bench.scp\")\n"
              "    s.screen(\"screen.png\")                   # the screen image (no path: shown)\n"
              "    s.query(\"*IDN?\"); s.write(\":RUN\")        # raw SCPI\n"
              "    s.query_block(\":DISPlay:DATA? BMP, SCReen\")\n"
              "    wavecatch.find(hosts=[\"192.168.1.20\"])    # Find Instrument\n\n"
              "Session: capture, record, measure, save_setup, restore_setup, screen, query, write,\n"
              "query_block, setting, set_setting. Functions: find, supported_instruments,\n"
              "version. Failures raise wavecatch.Error with the system's text, for example\n"
              "\"Not a compatible file\" or \"No connection.\".\n";
    // Every text an instrument had a say in goes to Python as str, whatever
    // its bytes (Utf8Text: a byte that is not UTF-8 is read as Latin-1).
    const auto text = [](std::string host::MeasureRow::*field) {
        return [field](const host::MeasureRow& r) { return host::Utf8Text(r.*field); };
    };
    const auto found = [](std::string host::FoundInstrument::*field) {
        return [field](const host::FoundInstrument& f) { return host::Utf8Text(f.*field); };
    };
    py::class_<host::MeasureRow>(m, "Measurement",
                                 "One quick measurement, as the Measurement tab shows it.")
        .def_readonly("name", &host::MeasureRow::caption,
                      "the tab's name for it (\"Duty Cycle\", \"Freqeuncy\", \"RMS\")")
        .def_readonly("row", &host::MeasureRow::name, "the short row name (\"Freq\", \"P2P\")")
        .def_property_readonly("text", text(&host::MeasureRow::text),
                               "the text the tab shows: \"+1.00000kHz\", \"50%\", \"No edges\"")
        .def_readonly("value", &host::MeasureRow::value,
                      "the value in SI base units (Hz, s, V, %, degrees); None for \"No "
                      "edges\" and for a reply whose number cannot be read whole")
        .def_readonly("unit", &host::MeasureRow::unit, "\"Hz\", \"s\", \"V\", \"%\" or \"°\"")
        .def("__repr__", [](const host::MeasureRow& r) {
            return host::Utf8Text("<wavecatch.Measurement " + r.caption + " " + r.text + ">");
        });

    py::class_<host::FoundInstrument>(m, "Instrument", "An instrument the search asked.")
        .def_readonly("address", &host::FoundInstrument::address, "its I/O address")
        .def_property_readonly("maker", found(&host::FoundInstrument::maker))
        .def_property_readonly("model", found(&host::FoundInstrument::model))
        .def_property_readonly("serial_number", found(&host::FoundInstrument::serialNumber))
        .def_readonly("supported", &host::FoundInstrument::supported,
                      "True when the add-in supports it: its identification names one of the "
                      "supported models, the answer capture gives")
        .def_readonly("answered", &host::FoundInstrument::answered,
                      "False when it did not answer *IDN? (error says why)")
        .def_property_readonly("error", found(&host::FoundInstrument::error))
        .def("__repr__", [](const host::FoundInstrument& f) {
            return host::Utf8Text("<wavecatch.Instrument " + f.address + " " + f.maker + " " +
                                  f.model + (f.supported ? " supported" : "") + ">");
        });

    addMethod(session, "measure",
              py::cpp_function(&measure, py::name("measure"), py::is_method(session),
                               py::sibling(py::getattr(session, "measure", py::none())),
                               py::arg("source") = py::none(), py::arg("source2") = py::none(),
                               py::arg("new") = false, py::arg("only") = py::none(),
                               "measure(source=None, source2=None, new=False, only=None)\n\n"
                               "Reads the scope's quick measurements as the dialog's "
                               "Measurement tab does and returns a list of Measurement, in the "
                               "tab's query order. source/source2: the measurement sources "
                               "(\"CHAN1\", \"DIG3\", \"MATH\"), else the scope's current ones. "
                               "new=True takes one new acquisition first. only: names as the "
                               "tab shows them or row names, ignoring case and blanks "
                               "(\"Duty Cycle\", \"rms\", \"P2P\"); default all the source "
                               "allows. The scope is left stopped. Backend: the add-in's routines "
                               "linked into this Python module (bench half), "
                               "on its one shared connection, not the module given as module=."));
    addMethod(session, "save_setup",
              py::cpp_function(&saveSetup, py::name("save_setup"), py::is_method(session),
                               py::arg("path"),
                               "save_setup(path) -> str\n\nWrites the scope's complete setup to "
                               "a setup file (.scp) and returns its absolute path. Backend: the "
                               "add-in's routines linked into this Python module (bench half), "
                               "on its one shared connection, not the module given as module=."));
    addMethod(
        session, "restore_setup",
        py::cpp_function(
            &restoreSetup, py::name("restore_setup"), py::is_method(session), py::arg("path"),
            "restore_setup(path)\n\nSends a setup file back to the scope, or the "
            "setup a capture.h5 keeps (Capture.save(..., format=\"h5\")). A "
            "file that is not a setup file, or holds the setup of a model the "
            "add-in does not support, raises wavecatch.Error (\"Not a "
            "compatible file\", \"Not a compatible instrument\") and nothing "
            "is sent. Backend: the add-in's routines linked into this Python module (bench half), "
            "on its one shared connection, not the module given as module=."));
    addMethod(
        session, "screen",
        py::cpp_function(&screen, py::name("screen"), py::is_method(session),
                         py::arg("path") = py::none(), py::arg("invert") = false,
                         "screen(path=None, invert=False) -> str or ScreenImage\n\n"
                         "With a path, saves the scope's screen image and returns the "
                         "file's absolute path: .bmp as the scope sent it, other image "
                         "types converted. Without one, writes no file and returns a "
                         "ScreenImage (.data the bytes as sent, .format, .save(path)), "
                         "which a notebook shows; bytes(image) gives the bytes. (Earlier "
                         "versions saved ./screen-<date>-<time>.png here: pass a path, or "
                         "call .save(), to keep a file.) Backend: the add-in's routines linked "
                         "into this Python module (bench half), "
                         "on its one shared connection, not the module given as module=."));
    addMethod(session, "query",
              py::cpp_function(&query, py::name("query"), py::is_method(session), py::arg("cmd"),
                               "query(cmd) -> str\n\nSends a SCPI query and returns its text "
                               "reply without the line end; a byte that is not UTF-8 is read "
                               "as Latin-1 (query_block gives the bytes). Backend: the add-in's "
                               "routines linked into this Python module (bench half), "
                               "on its one shared connection, not the module given as module=."));
    addMethod(session, "write",
              py::cpp_function(&write, py::name("write"), py::is_method(session), py::arg("cmd"),
                               "write(cmd)\n\nSends a SCPI command that has no reply. Backend: the "
                               "add-in's routines linked into this Python module (bench half), "
                               "on its one shared connection, not the module given as module=."));
    addMethod(
        session, "query_block",
        py::cpp_function(&queryBlock, py::name("query_block"), py::is_method(session),
                         py::arg("cmd"), py::arg("dtype") = py::none(),
                         "query_block(cmd, dtype=None)\n\nSends a query answered with an "
                         "IEEE 488.2 binary block and returns the block's data: bytes, or "
                         "a NumPy array of dtype (\"u1\", \">i2\" for the scope's words). Backend: "
                         "the add-in's routines linked into this Python module (bench half), "
                         "on its one shared connection, not the module given as module=."));

    m.def("find", &find, py::arg("usb") = true, py::arg("serial") = false,
          py::arg("hosts") = std::vector<std::string>{}, py::arg("lan") = false,
          "find(usb=True, serial=False, hosts=(), lan=False) -> list of Instrument\n\n"
          "Looks for instruments as the Find Instrument dialog does and asks each *IDN?. "
          "hosts: LAN hosts to ask (\"192.168.1.20\", \"scope:5025\"). serial=True writes to "
          "every serial port and lan=True broadcasts on the local networks, so both are off "
          "unless asked.");
    AddRecordMethod(m, session);
}

}  // namespace cvn::python
