// The file formats a capture is saved in. Each format is one file here and
// one entry in the list (FormatList.cpp): the capture command's --format,
// its help and the Python module's documentation all come from the list.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/Capture.h"

namespace cvn::host {

class CaptureFormat {
public:
    virtual ~CaptureFormat() = default;
    // The name --format takes ("csv").
    virtual std::string_view id() const = 0;
    // One line of help: the file and what it holds.
    virtual std::string_view help() const = 0;
    // Whether a capture without --format writes it.
    virtual bool byDefault() const { return false; }
    // The files it writes for this capture's data sets, in writing order;
    // none when it does not apply to them (a value change dump without
    // logic lines).
    virtual std::vector<std::string> files(const CaptureResult& result) const = 0;
    // Whether a file of this name is one the format writes for some
    // capture: an earlier capture's file in the folder is found by it.
    virtual bool owns(const std::string& name) const = 0;
    // Why the format cannot hold this capture truthfully ("" when it can):
    // then it is left out with this reason, never written with data that is
    // not the capture's.
    virtual std::string refusal(const CaptureResult& result) const {
        (void)result;
        return {};
    }
    // Writes files(result) into folder, each atomically; throws cvn::Error
    // when a write fails.
    virtual void write(const CaptureResult& result, const std::string& folder) const = 0;
};

using FormatSet = std::vector<const CaptureFormat*>;

// Every format, in the order a capture writes them.
const FormatSet& CaptureFormats();
const CaptureFormat* FindCaptureFormat(std::string_view id);
// The formats written without --format.
FormatSet DefaultFormats();
// "csv,json,h5" (any of the ids, any order, in list order afterwards);
// nothing for an unknown id or an empty list.
std::optional<FormatSet> ParseFormats(const std::string& list);
// "csv, json, h5, sr, vcd"
std::string FormatIds();
// The list's help lines, each "<indent><id padded> <help>\n".
std::string FormatsHelp(const std::string& indent);

}  // namespace cvn::host
