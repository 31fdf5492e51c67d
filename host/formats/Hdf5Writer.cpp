// HDF5 output through the HDF5 C library.
#include "host/formats/Hdf5Writer.h"

#include <hdf5.h>

#include <algorithm>
#include <set>
#include <utility>

#include "host/AxisLabels.h"
#include "host/formats/Hdf5Handle.h"
#include "support/AtomicFile.h"
#include "support/Error.h"

namespace cvn::host {
namespace {

constexpr int32_t kFileError = kPathError;

using Handle = Hdf5Handle;

class Writer {
public:
    explicit Writer(std::string path, bool fixedStrings = false)
        : path_(std::move(path)), fixed_(fixedStrings) {}

    void check(bool ok, const std::string& what) const {
        if (!ok) throw Error(kFileError, "Cannot write " + path_ + ": " + what, "wavecatch");
    }

    void attribute(hid_t on, const char* name, const std::string& text) const {
        Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
        check(
            type.valid() &&
                H5Tset_size(type, fixed_ ? std::max<size_t>(text.size(), 1) : H5T_VARIABLE) >= 0 &&
                H5Tset_cset(type, H5T_CSET_UTF8) >= 0,
            "string type");
        Handle space(H5Screate(H5S_SCALAR), H5Sclose);
        Handle attr(H5Acreate2(on, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
        const char* value = text.c_str();
        check(attr.valid() && H5Awrite(attr, type,
                                       fixed_ ? static_cast<const void*>(value)
                                              : static_cast<const void*>(&value)) >= 0,
              name);
    }

    void attribute(hid_t on, const char* name, int32_t number) const {
        Handle space(H5Screate(H5S_SCALAR), H5Sclose);
        Handle attr(H5Acreate2(on, name, H5T_STD_I32LE, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
        check(attr.valid() && H5Awrite(attr, H5T_NATIVE_INT32, &number) >= 0, name);
    }

    void attribute(hid_t on, const char* name, const std::vector<double>& numbers) const {
        const hsize_t count = numbers.size();
        Handle space(H5Screate_simple(1, &count, nullptr), H5Sclose);
        Handle attr(H5Acreate2(on, name, H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT),
                    H5Aclose);
        check(attr.valid() && H5Awrite(attr, H5T_NATIVE_DOUBLE, numbers.data()) >= 0, name);
    }

    // Bytes kept exactly (an image, a setup file) as one unsigned 8-bit array.
    void bytes(hid_t on, const char* name, const std::string& data) const {
        const hsize_t count = data.size();
        Handle space(H5Screate_simple(1, &count, nullptr), H5Sclose);
        Handle set(H5Dcreate2(on, name, H5T_STD_U8LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                   H5Dclose);
        check(set.valid() &&
                  H5Dwrite(set, H5T_NATIVE_UINT8, H5S_ALL, H5S_ALL, H5P_DEFAULT, data.data()) >= 0,
              name);
    }

    void texts(hid_t on, const char* name, const std::vector<std::string>& values) const {
        Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
        check(type.valid() && H5Tset_size(type, H5T_VARIABLE) >= 0 &&
                  H5Tset_cset(type, H5T_CSET_UTF8) >= 0,
              "string type");
        std::vector<const char*> pointers;
        for (const std::string& v : values) pointers.push_back(v.c_str());
        const hsize_t count = values.size();
        Handle space(H5Screate_simple(1, &count, nullptr), H5Sclose);
        Handle set(H5Dcreate2(on, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                   H5Dclose);
        check(
            set.valid() && H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, pointers.data()) >= 0,
            name);
    }

    void numbers(hid_t on, const char* name, const std::vector<double>& values) const {
        const hsize_t count = values.size();
        Handle space(H5Screate_simple(1, &count, nullptr), H5Sclose);
        Handle set(
            H5Dcreate2(on, name, H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
            H5Dclose);
        check(set.valid() && H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                                      values.data()) >= 0,
              name);
    }

    void rawData(hid_t group, const RawSamples& raw) const {
        hid_t fileType = H5T_IEEE_F64LE, memType = H5T_NATIVE_DOUBLE;
        switch (raw.type()) {
            case RawSamples::Type::Byte:
                fileType = H5T_STD_U8LE;
                memType = H5T_NATIVE_UINT8;
                break;
            case RawSamples::Type::Word:
                fileType = H5T_STD_I16LE;
                memType = H5T_NATIVE_INT16;
                break;
            case RawSamples::Type::Long:
                fileType = H5T_STD_I32LE;
                memType = H5T_NATIVE_INT32;
                break;
            case RawSamples::Type::Double:
                break;
        }
        const hsize_t count = raw.size();
        Handle space(H5Screate_simple(1, &count, nullptr), H5Sclose);
        Handle data(
            H5Dcreate2(group, "raw", fileType, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
            H5Dclose);
        check(data.valid(), "raw data");
        if (count)
            check(H5Dwrite(data, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, raw.data()) >= 0,
                  "raw data");
    }

private:
    std::string path_;
    bool fixed_;
};

// The group "extras": what makes the file a complete record (see
// Hdf5Writer.h). Items that were not read are left out, never written empty.
void writeExtras(const Writer& w, hid_t file, const CaptureResult& r) {
    const CaptureExtras& e = *r.extras;
    Handle g(H5Gcreate2(file, kExtrasGroup, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
    w.check(g.valid(), std::string("group ") + kExtrasGroup);
    w.attribute(g, "start_time", e.startTime);
    w.attribute(g, "points", e.points);
    w.attribute(g, "registry_key", e.registryKey);
    w.attribute(g, "address", e.address);
    w.attribute(g, "cancel", int32_t{r.cancel ? 1 : 0});
    w.attribute(g, "dataType", r.dataType);
    w.attribute(g, "actionType", r.actionType);
    if (!e.missing.empty()) {
        std::string missing;
        for (const std::string& m : e.missing) missing += (missing.empty() ? "" : "; ") + m;
        w.attribute(g, "missing", missing);
    }
    if (!e.identification.empty()) w.attribute(g, "identification", e.identification);
    if (!e.screenBmp.empty()) w.bytes(g, "screen_bmp", e.screenBmp);
    if (!e.setupFile.empty()) w.bytes(g, "setup_scp", e.setupFile);
    if (e.measurements.empty()) return;
    Handle m(H5Gcreate2(g, "measurements", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
    w.check(m.valid(), "group measurements");
    w.attribute(m, "source1", e.measureSource1);
    w.attribute(m, "source2", e.measureSource2);
    std::vector<std::string> names, texts, units;
    std::vector<double> values;
    for (const CaptureExtras::Measurement& row : e.measurements) {
        names.push_back(row.name);
        texts.push_back(row.text);
        values.push_back(row.value);
        units.push_back(row.unit);
    }
    w.texts(m, "name", names);
    w.texts(m, "text", texts);
    w.numbers(m, "value", values);
    w.texts(m, "unit", units);
}

}  // namespace

void WriteHdf5Capture(int64_t loc, const CaptureResult& r, const std::string& path,
                      bool fixedStrings) {
    const Writer w(path, fixedStrings);
    w.attribute(loc, "model", r.model);
    w.attribute(loc, "dataType", r.dataType);
    w.attribute(loc, "actionType", r.actionType);
    w.attribute(loc, "xyDescription", r.xyDescription);
    std::vector<AxisGroup> axes = AxisGroups(r.xyDescription);
    std::set<std::string> used;
    for (const DataSet& s : r.sets) {
        std::string name = s.name;
        for (int n = 2; used.count(name); ++n) name = s.name + "-" + std::to_string(n);
        used.insert(name);
        Handle group(H5Gcreate2(loc, name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                     H5Gclose);
        w.check(group.valid(), "group " + name);
        w.rawData(group, s.raw);
        const AxisGroup axis = AxisGroupFor(s.block.sourceCode, axes);
        w.attribute(group, "preamble", s.block.ToNumbers());
        w.attribute(group, "source_code", s.block.sourceCode);
        w.attribute(group, "source", SettingsSourceName(s.block.sourceCode));
        w.attribute(group, "x_units", axis.xUnits);
        w.attribute(group, "y_units", axis.yUnits);
        w.attribute(group, "x_description", axis.xLabel);
        w.attribute(group, "y_description", axis.yLabel);
    }
    if (r.extras) writeExtras(w, loc, r);
}

void WriteHdf5(const CaptureResult& r, const std::string& path) {
    AtomicFileWriter file(path);
    const Writer w(path);
    // The library reports through our error; its own printout would only
    // repeat it on stderr.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    {
        Handle h5(H5Fcreate(file.tempPath().c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT),
                  H5Fclose);
        w.check(h5.valid(), "HDF5 cannot create it");
        WriteHdf5Capture(h5, r, path);
        w.check(H5Fflush(h5, H5F_SCOPE_GLOBAL) >= 0, "HDF5 cannot flush it");
    }
    file.commit();
}

}  // namespace cvn::host
