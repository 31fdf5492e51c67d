// capture.h5 read back through the HDF5 C library. Nothing in the file is
// trusted: types, sizes and counts are checked before anything is read, so
// a damaged or foreign file is an error, never a crash or a huge allocation.
#include "host/formats/Hdf5Reader.h"

#include <hdf5.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "host/formats/Hdf5Handle.h"
#include "host/formats/Hdf5Writer.h"
#include "host/formats/Recording.h"
#include "support/Error.h"

namespace cvn::host {
namespace {

constexpr size_t kMaxImageBytes = size_t{64} << 20;
// Above the largest setup file the setup routines accept.
constexpr size_t kMaxSetupBytes = size_t{17} << 20;
constexpr size_t kMaxRows = 256;
constexpr size_t kMaxText = 64 * 1024;

using Handle = Hdf5Handle;

class Reader {
public:
    explicit Reader(std::string path) : path_(std::move(path)) {}

    [[noreturn]] void fail(const std::string& why) const {
        throw Error(kPathError, path_ + " is not a capture file of wavecatch: " + why, "wavecatch");
    }
    void require(bool ok, const std::string& why) const {
        if (!ok) fail(why);
    }

    bool hasAttribute(hid_t on, const char* name) const { return H5Aexists(on, name) > 0; }
    bool hasLink(hid_t on, const char* name) const { return H5Lexists(on, name, H5P_DEFAULT) > 0; }

    std::string text(hid_t on, const char* name) const {
        require(hasAttribute(on, name), std::string("no attribute ") + name);
        Handle attr(H5Aopen(on, name, H5P_DEFAULT), H5Aclose);
        Handle type(H5Aget_type(attr), H5Tclose);
        Handle space(H5Aget_space(attr), H5Sclose);
        require(attr.valid() && type.valid() && H5Tget_class(type) == H5T_STRING &&
                    H5Sget_simple_extent_npoints(space) == 1,
                std::string("attribute ") + name + " is not a text");
        if (H5Tis_variable_str(type) > 0) {
            Handle mem(H5Tcopy(H5T_C_S1), H5Tclose);
            H5Tset_size(mem, H5T_VARIABLE);
            H5Tset_cset(mem, H5Tget_cset(type));
            char* value = nullptr;
            require(H5Aread(attr, mem, &value) >= 0, std::string("attribute ") + name);
            std::string result = value ? std::string(value) : std::string();
            H5free_memory(value);
            return result;
        }
        const size_t size = H5Tget_size(type);
        require(size > 0 && size <= kMaxText, std::string("attribute ") + name + " is too long");
        std::string value(size, '\0');
        require(H5Aread(attr, type, value.data()) >= 0, std::string("attribute ") + name);
        return value.substr(0, value.find('\0'));
    }

    std::vector<double> numbers(hid_t on, const char* name, size_t most) const {
        require(hasAttribute(on, name), std::string("no attribute ") + name);
        Handle attr(H5Aopen(on, name, H5P_DEFAULT), H5Aclose);
        Handle type(H5Aget_type(attr), H5Tclose);
        Handle space(H5Aget_space(attr), H5Sclose);
        const hssize_t count = space.valid() ? H5Sget_simple_extent_npoints(space) : -1;
        const H5T_class_t kind = type.valid() ? H5Tget_class(type) : H5T_NO_CLASS;
        require(count >= 1 && static_cast<size_t>(count) <= most &&
                    (kind == H5T_FLOAT || kind == H5T_INTEGER),
                std::string("attribute ") + name + " is not a number");
        std::vector<double> values(static_cast<size_t>(count));
        require(H5Aread(attr, H5T_NATIVE_DOUBLE, values.data()) >= 0,
                std::string("attribute ") + name);
        return values;
    }

    int32_t integer(hid_t on, const char* name) const {
        const double v = numbers(on, name, 1)[0];
        require(std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 2147483648.0,
                std::string("attribute ") + name + " is not a whole number");
        return static_cast<int32_t>(v);
    }

    // A one-dimensional dataset's element count, with its class checked.
    size_t length(hid_t set, H5T_class_t kind, const std::string& name) const {
        Handle type(H5Dget_type(set), H5Tclose);
        Handle space(H5Dget_space(set), H5Sclose);
        require(type.valid() && space.valid() && H5Tget_class(type) == kind &&
                    H5Sget_simple_extent_ndims(space) == 1,
                "dataset " + name + " is not as a capture writes it");
        const hssize_t n = H5Sget_simple_extent_npoints(space);
        require(n >= 0, "dataset " + name);
        return static_cast<size_t>(n);
    }

    std::string bytes(hid_t on, const char* name, size_t most) const {
        Handle set(H5Dopen2(on, name, H5P_DEFAULT), H5Dclose);
        require(set.valid(), std::string("dataset ") + name);
        const size_t n = length(set, H5T_INTEGER, name);
        require(n <= most, std::string("dataset ") + name + " is too large");
        std::string data(n, '\0');
        if (n)
            require(H5Dread(set, H5T_NATIVE_UINT8, H5S_ALL, H5S_ALL, H5P_DEFAULT, data.data()) >= 0,
                    std::string("dataset ") + name);
        return data;
    }

    std::vector<std::string> texts(hid_t on, const char* name) const {
        Handle set(H5Dopen2(on, name, H5P_DEFAULT), H5Dclose);
        require(set.valid(), std::string("dataset ") + name);
        const size_t n = length(set, H5T_STRING, name);
        require(n <= kMaxRows, std::string("dataset ") + name + " is too large");
        Handle type(H5Dget_type(set), H5Tclose);
        require(H5Tis_variable_str(type) > 0, std::string("dataset ") + name + " is not a text");
        Handle mem(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(mem, H5T_VARIABLE);
        H5Tset_cset(mem, H5Tget_cset(type));
        std::vector<char*> pointers(n, nullptr);
        require(n == 0 || H5Dread(set, mem, H5S_ALL, H5S_ALL, H5P_DEFAULT, pointers.data()) >= 0,
                std::string("dataset ") + name);
        std::vector<std::string> values;
        for (char* p : pointers) {
            values.emplace_back(p ? p : "");
            H5free_memory(p);
        }
        return values;
    }

    std::vector<double> values(hid_t on, const char* name) const {
        Handle set(H5Dopen2(on, name, H5P_DEFAULT), H5Dclose);
        require(set.valid(), std::string("dataset ") + name);
        const size_t n = length(set, H5T_FLOAT, name);
        require(n <= kMaxRows, std::string("dataset ") + name + " is too large");
        std::vector<double> v(n);
        require(
            n == 0 || H5Dread(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()) >= 0,
            std::string("dataset ") + name);
        return v;
    }

    CaptureFileSource source(hid_t file, const std::string& name) const {
        Handle g(H5Gopen2(file, name.c_str(), H5P_DEFAULT), H5Gclose);
        require(g.valid(), name + " is not a data set group");
        require(hasLink(g, "raw"), "group " + name + " has no raw data");
        Handle raw(H5Dopen2(g, "raw", H5P_DEFAULT), H5Dclose);
        require(raw.valid(), "group " + name + " raw data");
        Handle type(H5Dget_type(raw), H5Tclose);
        const H5T_class_t kind = type.valid() ? H5Tget_class(type) : H5T_NO_CLASS;
        CaptureFileSource s;
        s.name = name;
        s.points = length(raw, kind == H5T_FLOAT ? H5T_FLOAT : H5T_INTEGER, name + "/raw");
        const std::vector<double> p = numbers(g, "preamble", 11);
        require(p.size() == 11, "group " + name + " preamble is not 11 numbers");
        s.sampleRate = std::isfinite(p[4]) && p[4] > 0 ? 1.0 / p[4] : 0;
        s.source = text(g, "source");
        s.yUnits = text(g, "y_units");
        return s;
    }

    CaptureExtras extras(hid_t file, CaptureFile& c) const {
        Handle g(H5Gopen2(file, kExtrasGroup, H5P_DEFAULT), H5Gclose);
        require(g.valid(), std::string("group ") + kExtrasGroup);
        CaptureExtras e;
        e.startTime = text(g, "start_time");
        e.points = text(g, "points");
        e.registryKey = text(g, "registry_key");
        e.address = text(g, "address");
        c.cancel = integer(g, "cancel") != 0;
        if (hasAttribute(g, "missing")) e.missing.push_back(text(g, "missing"));
        if (hasAttribute(g, "identification")) e.identification = text(g, "identification");
        if (hasLink(g, "screen_bmp")) e.screenBmp = bytes(g, "screen_bmp", kMaxImageBytes);
        if (hasLink(g, "setup_scp")) e.setupFile = bytes(g, "setup_scp", kMaxSetupBytes);
        if (!hasLink(g, "measurements")) return e;
        Handle m(H5Gopen2(g, "measurements", H5P_DEFAULT), H5Gclose);
        require(m.valid(), "group measurements");
        e.measureSource1 = text(m, "source1");
        e.measureSource2 = text(m, "source2");
        const auto names = texts(m, "name"), shown = texts(m, "text"), units = texts(m, "unit");
        const auto numbers = values(m, "value");
        require(shown.size() == names.size() && units.size() == names.size() &&
                    numbers.size() == names.size(),
                "the measurements' columns differ in length");
        for (size_t i = 0; i < names.size(); ++i)
            e.measurements.push_back({names[i], shown[i], numbers[i], units[i]});
        return e;
    }

    std::string linkName(hid_t on, hsize_t index) const {
        char name[256] = {};
        const ssize_t n = H5Lget_name_by_idx(on, ".", H5_INDEX_NAME, H5_ITER_INC, index, name,
                                             sizeof name, H5P_DEFAULT);
        require(n > 0 && static_cast<size_t>(n) < sizeof name, "a group name cannot be read");
        return name;
    }

private:
    std::string path_;
};

// The capture held at `at`: a capture.h5's root, or one group of a recording.
CaptureFile readCapture(const Reader& r, hid_t at) {
    CaptureFile c;
    c.model = r.text(at, "model");
    c.dataType = r.integer(at, "dataType");
    c.actionType = r.integer(at, "actionType");
    H5G_info_t info{};
    r.require(H5Gget_info(at, &info) >= 0, "its groups cannot be listed");
    for (hsize_t i = 0; i < info.nlinks; ++i) {
        const std::string name = r.linkName(at, i);
        if (name == kExtrasGroup)
            c.extras = r.extras(at, c);
        else
            c.sources.push_back(r.source(at, name));
    }
    return c;
}

// Opens path for reading as HDF5, or fails through r.
hid_t openFile(const Reader& r, const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw Error(kPathError, path + ": no such file", "wavecatch");
    // The library reports through our error; its own printout would only
    // repeat it on stderr.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    r.require(H5Fis_hdf5(path.c_str()) > 0, "not an HDF5 file");
    const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    r.require(file >= 0, "HDF5 cannot open it (damaged or cut short)");
    return file;
}

}  // namespace

CaptureFile ReadCaptureFile(const std::string& path) {
    const Reader r(path);
    Handle file(openFile(r, path), H5Fclose);
    return readCapture(r, file);
}

bool IsRecordingFile(const std::string& path) noexcept {
    if (!IsHdf5File(path)) return false;
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    Handle file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
    return file.valid() && H5Aexists(file, kRecordingAttribute) > 0;
}

RecordingFile ReadRecordingFile(const std::string& path) {
    const Reader r(path);
    Handle file(openFile(r, path), H5Fclose);
    r.require(H5Aexists(file, kRecordingAttribute) > 0,
              "not a recording (no \"recording\" attribute)");
    H5G_info_t info{};
    r.require(H5Gget_info(file, &info) >= 0, "its groups cannot be listed");
    RecordingFile rec;
    for (hsize_t i = 0; i < info.nlinks; ++i) {
        RecordingFileAcquisition a;
        a.group = r.linkName(file, i);
        Handle g(H5Gopen2(file, a.group.c_str(), H5P_DEFAULT), H5Gclose);
        r.require(g.valid() && a.group.rfind("acq-", 0) == 0, "unexpected object " + a.group);
        const double sequence = r.numbers(g, "sequence", 1)[0];
        r.require(sequence >= 1 && sequence == std::floor(sequence) && sequence < 9.007e15,
                  a.group + " has no sequence number");
        a.sequence = static_cast<uint64_t>(sequence);
        a.triggerTime = r.text(g, "trigger_time");
        a.capture = readCapture(r, g);
        rec.acquisitions.push_back(std::move(a));
    }
    std::sort(rec.acquisitions.begin(), rec.acquisitions.end(),
              [](const auto& x, const auto& y) { return x.sequence < y.sequence; });
    return rec;
}

std::string CaptureSetupFile(const std::string& path) {
    const CaptureFile c = ReadCaptureFile(path);
    if (!c.extras || c.extras->setupFile.empty())
        throw Error(kPathError,
                    path +
                        " holds no setup (captured without extras, or the scope did not give it); "
                        "nothing was sent",
                    "wavecatch");
    return c.extras->setupFile;
}

bool IsHdf5File(const std::string& path) noexcept {
    try {
        std::ifstream in(path, std::ios::binary);
        char head[8] = {};
        return in.read(head, sizeof head) && std::string_view(head, 8) == "\x89HDF\r\n\x1a\n";
    } catch (...) {
        return false;
    }
}

}  // namespace cvn::host
