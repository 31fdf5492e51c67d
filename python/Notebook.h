// What a notebook shows of the module's results: a capture's plot and its
// table of sources, and the scope's screen image.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <vector>

#include "host/Capture.h"

namespace cvn::python {

// One row of a capture's table; error set for a set that failed.
struct SourceRow {
    std::string name;
    size_t points = 0;
    double xIncrement = 0;
    double yLow = 0, yHigh = 0;
    std::string xUnit, yUnit;
    std::string error;
};

// Every text in it escaped: the model and errors carry the scope's words.
std::string CaptureHtml(const std::string& model, const std::vector<SourceRow>& rows);
// The capture's plot as the capture command draws it; None without data.
pybind11::object CapturePng(const host::CaptureResult& result);

// The scope's screen image as it sent it.
struct ScreenImage {
    std::string data;
    std::string format;  // "bmp" or "png"
};

// Registers wavecatch.ScreenImage.
void AddNotebookTypes(pybind11::module_& m);

}  // namespace cvn::python
