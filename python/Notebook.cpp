// The notebook side of the wavecatch module: Jupyter shows an object by
// its _repr_png_ or _repr_html_, so a capture shows its plot and a table of
// its sources, and the screen image itself.
#include "python/Notebook.h"

#include <QImage>
#include <cstdio>

#include "host/bench/Bench.h"
#include "host/formats/Plot.h"
#include "host/formats/SaveCapture.h"
#include "host/qt/GuiApp.h"
#include "support/Error.h"

namespace py = pybind11;

namespace cvn::python {
namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

std::string cell(const std::string& text) {
    return "<td>" + escaped(text) + "</td>";
}

py::bytes screenPng(const ScreenImage& s) {
    if (s.format == "png") return py::bytes(s.data);
    QImage image;
    if (!image.loadFromData(reinterpret_cast<const uchar*>(s.data.data()),
                            static_cast<int>(s.data.size())))
        throw Error(host::kBenchFailed, "the screen image cannot be read", "wavecatch");
    return py::bytes(host::EncodePng(image));
}

}  // namespace

std::string CaptureHtml(const std::string& model, const std::vector<SourceRow>& rows) {
    std::string html = "<table><caption>wavecatch capture: " + escaped(model) +
                       "</caption>\n<tr><th>source</th><th>points</th><th>x increment</th>"
                       "<th>sample rate</th><th>y range</th></tr>\n";
    for (const SourceRow& r : rows) {
        html += "<tr>" + cell(r.name);
        if (!r.error.empty()) {
            html += "<td colspan=\"4\">failed: " + escaped(r.error) + "</td></tr>\n";
            continue;
        }
        html += cell(std::to_string(r.points)) + cell(number(r.xIncrement) + " " + r.xUnit) +
                cell(r.xIncrement > 0 ? host::FormatWithPrefix(1 / r.xIncrement, "Sa/s") : "") +
                cell(number(r.yLow) + " .. " + number(r.yHigh) + " " + r.yUnit) + "</tr>\n";
    }
    return html + "</table>";
}

py::object CapturePng(const host::CaptureResult& result) {
    if (result.sets.empty()) return py::none();
    host::EnsureGuiApplication(false);
    std::string png;
    {
        py::gil_scoped_release release;
        png = host::CapturePlotPng(result);
    }
    return py::bytes(png);
}

void AddNotebookTypes(py::module_& m) {
    py::class_<ScreenImage>(m, "ScreenImage",
                            "The scope's screen image, as Session.screen() without a path gives "
                            "it; a notebook shows it.")
        .def_property_readonly(
            "data", [](const ScreenImage& s) { return py::bytes(s.data); },
            "the image's bytes as the scope sent them")
        .def_readonly("format", &ScreenImage::format, "\"bmp\" or \"png\": what data holds")
        .def(
            "save",
            [](const ScreenImage& s, const std::string& path) {
                const std::string file = host::AbsolutePath(path);
                host::WriteScreenImage(s.data, file);
                return file;
            },
            py::arg("path"),
            "save(path) -> str\n\nWrites the image and returns the file's absolute path: the "
            "bytes as sent when the path's extension is the image's format, else converted by "
            "it (.png, .jpg).")
        .def("_repr_png_", &screenPng, "the image as PNG bytes, converted from a bitmap")
        .def("__bytes__", [](const ScreenImage& s) { return py::bytes(s.data); })
        .def("__len__", [](const ScreenImage& s) { return s.data.size(); })
        .def("__repr__", [](const ScreenImage& s) {
            return "<wavecatch.ScreenImage " + s.format + " " + std::to_string(s.data.size()) +
                   " bytes>";
        });
}

}  // namespace cvn::python
