// A recording's files: the HDF5 file that grows by one group per
// acquisition, or one sigrok session per acquisition, and their retention.
#include "host/formats/Recording.h"

#include <hdf5.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <thread>

#include "host/formats/Hdf5Handle.h"
#include "host/formats/Hdf5Writer.h"
#include "host/formats/SigrokWriter.h"
#include "support/AtomicFile.h"
#include "support/Error.h"

namespace cvn::host {

namespace fs = std::filesystem;

namespace {

constexpr const char* kWriterName = "wavecatch record";
// A reader may hold the file for a moment between acquisitions (HDF5 locks
// it while it is open): wait this long for it before giving up.
constexpr auto kLockedWait = std::chrono::seconds(10);

using Handle = Hdf5Handle;

[[noreturn]] void fail(const std::string& path, const std::string& why) {
    throw Error(kPathError, "Cannot write " + path + ": " + why, "wavecatch");
}

void stringAttribute(hid_t on, const char* name, const std::string& text, const std::string& path) {
    // Fixed length: deleted groups give their space back (see Hdf5Writer.h).
    Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
    H5Tset_size(type, std::max<size_t>(text.size(), 1));
    H5Tset_cset(type, H5T_CSET_UTF8);
    Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    Handle attr(H5Acreate2(on, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    if (!attr.valid() || H5Awrite(attr, type, text.c_str()) < 0) fail(path, name);
}

std::optional<std::string> readString(hid_t on, const char* name) {
    if (H5Aexists(on, name) <= 0) return std::nullopt;
    Handle attr(H5Aopen(on, name, H5P_DEFAULT), H5Aclose);
    Handle stored(H5Aget_type(attr), H5Tclose);
    if (!attr.valid() || H5Tget_class(stored) != H5T_STRING) return std::nullopt;
    if (H5Tis_variable_str(stored) > 0) {
        Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(type, H5T_VARIABLE);
        H5Tset_cset(type, H5Tget_cset(stored));
        char* value = nullptr;
        if (H5Aread(attr, type, &value) < 0 || value == nullptr) return std::nullopt;
        std::string text(value);
        H5free_memory(value);
        return text;
    }
    std::string text(H5Tget_size(stored), '\0');
    if (H5Aread(attr, stored, text.data()) < 0) return std::nullopt;
    return text.substr(0, text.find('\0'));
}

uint64_t payloadOf(const CaptureResult& r) {
    uint64_t bytes = 0;
    for (const DataSet& s : r.sets) {
        const size_t each = s.raw.type() == RawSamples::Type::Byte   ? 1
                            : s.raw.type() == RawSamples::Type::Word ? 2
                            : s.raw.type() == RawSamples::Type::Long ? 4
                                                                     : 8;
        bytes += s.raw.size() * each;
    }
    return bytes;
}

// The file opened for writing; a reader that holds it is waited for.
hid_t openForWriting(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kLockedWait;
    for (;;) {
        const hid_t id = H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
        if (id >= 0) return id;
        if (!fs::exists(path)) fail(path, "it is gone");
        if (std::chrono::steady_clock::now() >= deadline)
            fail(path, "HDF5 cannot open it (is another program holding it open?)");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

uint64_t usedOf(hid_t file) {
    hsize_t size = 0;
    H5Fget_filesize(file, &size);
    const hssize_t free = H5Fget_freespace(file);
    return free > 0 && static_cast<hsize_t>(free) < size ? size - static_cast<hsize_t>(free) : size;
}

// The names of the links in a group, in name order.
std::vector<std::string> linksOf(hid_t group) {
    std::vector<std::string> names;
    H5Literate(
        group, H5_INDEX_NAME, H5_ITER_INC, nullptr,
        [](hid_t, const char* name, const H5L_info_t*, void* out) -> herr_t {
            static_cast<std::vector<std::string>*>(out)->push_back(name);
            return 0;
        },
        &names);
    return names;
}

bool isSession(const fs::path& p) {
    const std::string name = p.filename().string();
    return name.size() > 7 && name.rfind("acq-", 0) == 0 && p.extension() == ".sr";
}

}  // namespace

std::optional<uint64_t> ParseByteSize(const std::string& text) {
    size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    if (digits == 0 || digits > 15) return std::nullopt;
    const uint64_t number = std::stoull(text.substr(0, digits));
    std::string unit = text.substr(digits);
    for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (unit.size() > 1 && (unit.ends_with("IB") || unit.ends_with("B")))
        unit.resize(unit.size() - (unit.ends_with("IB") ? 2 : 1));
    else if (unit == "B")
        unit.clear();
    int shift = 0;
    if (unit == "K")
        shift = 10;
    else if (unit == "M")
        shift = 20;
    else if (unit == "G")
        shift = 30;
    else if (unit == "T")
        shift = 40;
    else if (!unit.empty())
        return std::nullopt;
    if (number == 0 || (number >> (63 - shift)) != 0) return std::nullopt;
    return number << shift;
}

std::string AcquisitionName(uint64_t sequence) {
    std::string digits = std::to_string(sequence);
    if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
    return "acq-" + digits;
}

RecordFile::RecordFile(RecordFormat format, std::string path, Retention retention, bool replace)
    : format_(format), path_(std::move(path)), retention_(retention) {
    std::error_code ec;
    if (format_ == RecordFormat::H5) {
        if (fs::is_directory(path_, ec))
            throw Error(kPathError, path_ + " is a folder; --out names the recording's file",
                        "wavecatch");
        if (fs::exists(path_, ec) && !replace)
            throw Error(kFileExists,
                        path_ + " exists: choose another --out, or pass --force to replace it",
                        "wavecatch");
        return;
    }
    if (fs::exists(path_, ec) && !fs::is_directory(path_, ec))
        throw Error(kPathError, path_ + " is not a folder; --out names the sessions' folder",
                    "wavecatch");
    if (!replace && fs::is_directory(path_, ec)) {
        for (const auto& entry : fs::directory_iterator(path_, ec))
            if (isSession(entry.path()))
                throw Error(kFileExists,
                            path_ + " holds sessions of an earlier recording (" +
                                entry.path().filename().string() +
                                "): choose another --out, or pass --force to write into it",
                            "wavecatch");
    }
}

RecordFile::Written RecordFile::append(uint64_t sequence, const std::string& triggerTime,
                                       const CaptureResult& r) {
    const uint64_t incoming = payloadOf(r);
    if (retention_.maxBytes && incoming > retention_.maxBytes)
        throw Error(kInvalidCall,
                    "one acquisition holds " + std::to_string(incoming) +
                        " bytes of data, more than --max-size allows (" +
                        std::to_string(retention_.maxBytes) + ")",
                    "wavecatch");
    Written w;
    const std::string name = AcquisitionName(sequence);

    if (format_ == RecordFormat::Sr) {
        if (const std::string problem = SigrokRateProblem(r); !problem.empty())
            throw Error(kInvalidCall, name + ".sr cannot be written: " + problem, "wavecatch");
        std::error_code ec;
        fs::create_directories(path_, ec);
        auto dropOldest = [&] {
            fs::remove(fs::path(path_) / (AcquisitionName(kept_.front()) + ".sr"), ec);
            used_ -= sizes_.front();
            kept_.pop_front();
            sizes_.pop_front();
            ++w.dropped;
        };
        while (retention_.maxBytes && !kept_.empty() && used_ + incoming > retention_.maxBytes)
            dropOldest();
        w.file = (fs::path(path_) / (name + ".sr")).string();
        WriteSigrokSession(r, w.file);
        w.bytes = fs::file_size(w.file, ec);
        kept_.push_back(sequence);
        sizes_.push_back(w.bytes);
        used_ += w.bytes;
        while (retention_.keep && kept_.size() > retention_.keep) dropOldest();
        while (retention_.maxBytes && kept_.size() > 1 && used_ > retention_.maxBytes) dropOldest();
        return w;
    }

    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    if (!created_) {
        // Made whole under its name before the first group (replacing an
        // earlier file only then), so no reader finds a file without its mark.
        AtomicFileWriter file(path_);
        {
            Handle fcpl(H5Pcreate(H5P_FILE_CREATE), H5Pclose);
            if (!fcpl.valid() ||
                H5Pset_file_space_strategy(fcpl, H5F_FSPACE_STRATEGY_FSM_AGGR, 1, 1) < 0)
                fail(path_, "HDF5 cannot track free space");
            Handle h5(H5Fcreate(file.tempPath().c_str(), H5F_ACC_TRUNC, fcpl, H5P_DEFAULT),
                      H5Fclose);
            if (!h5.valid()) fail(path_, "HDF5 cannot create it");
            stringAttribute(h5, kRecordingAttribute, kWriterName, path_);
        }
        file.commit();
        created_ = true;
    }
    Handle h5(openForWriting(path_), H5Fclose);
    auto dropOldest = [&] {
        H5Ldelete(h5, AcquisitionName(kept_.front()).c_str(), H5P_DEFAULT);
        kept_.pop_front();
        ++w.dropped;
    };
    while (retention_.maxBytes && !kept_.empty() && usedOf(h5) + incoming > retention_.maxBytes)
        dropOldest();
    {
        Handle group(H5Gcreate2(h5, name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
        if (!group.valid()) fail(path_, "group " + name);
        try {
            const int64_t number = static_cast<int64_t>(sequence);
            Handle space(H5Screate(H5S_SCALAR), H5Sclose);
            Handle attr(
                H5Acreate2(group, "sequence", H5T_STD_I64LE, space, H5P_DEFAULT, H5P_DEFAULT),
                H5Aclose);
            if (!attr.valid() || H5Awrite(attr, H5T_NATIVE_INT64, &number) < 0)
                fail(path_, "sequence");
            stringAttribute(group, "trigger_time", triggerTime, path_);
            WriteHdf5Capture(group, r, path_, true);
        } catch (...) {
            // A group left half written would pass for an acquisition.
            H5Ldelete(h5, name.c_str(), H5P_DEFAULT);
            throw;
        }
    }
    kept_.push_back(sequence);
    while (retention_.keep && kept_.size() > retention_.keep) dropOldest();
    while (retention_.maxBytes && kept_.size() > 1 && usedOf(h5) > retention_.maxBytes)
        dropOldest();
    if (H5Fflush(h5, H5F_SCOPE_GLOBAL) < 0) fail(path_, "HDF5 cannot flush it");
    used_ = usedOf(h5);
    w.file = path_;
    std::error_code ec;
    w.bytes = fs::file_size(path_, ec);
    return w;
}

RecordWriter::~RecordWriter() {
    if (pending_.valid()) pending_.wait();
}

std::optional<RecordWriter::Done> RecordWriter::finish() {
    if (!pending_.valid()) return std::nullopt;
    // Cleared before get() so that a failed write is reported once.
    std::future<Done> pending = std::move(pending_);
    inFlight_ = 0;
    return pending.get();
}

std::optional<RecordWriter::Done> RecordWriter::submit(uint64_t sequence, std::string triggerTime,
                                                       CaptureResult result) {
    std::optional<Done> before = finish();
    pending_ = std::async(std::launch::async,
                          [this, sequence, time = std::move(triggerTime), r = std::move(result)] {
                              return Done{sequence, file_.append(sequence, time, r)};
                          });
    inFlight_ = sequence;
    return before;
}

std::vector<RecordedAcquisition> ReadRecording(const std::string& path, bool withData) {
    auto bad = [&](const std::string& why) {
        return Error(kPathError, "Cannot read " + path + ": " + why, "wavecatch");
    };
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    Handle h5(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
    if (!h5.valid()) throw bad("not an HDF5 file, or held by a writer");
    if (readString(h5, kRecordingAttribute) != std::string(kWriterName))
        throw bad("not a recording (no \"recording\" attribute)");
    const std::vector<std::string> names = linksOf(h5);
    std::vector<RecordedAcquisition> out;
    for (const std::string& name : names) {
        Handle g(H5Gopen2(h5, name.c_str(), H5P_DEFAULT), H5Gclose);
        if (!g.valid() || name.rfind("acq-", 0) != 0) throw bad("unexpected object " + name);
        RecordedAcquisition a;
        a.group = name;
        int64_t sequence = -1;
        if (H5Aexists(g, "sequence") > 0) {
            Handle attr(H5Aopen(g, "sequence", H5P_DEFAULT), H5Aclose);
            H5Aread(attr, H5T_NATIVE_INT64, &sequence);
        }
        if (sequence < 1) throw bad(name + " has no sequence number");
        a.sequence = static_cast<uint64_t>(sequence);
        a.triggerTime = readString(g, "trigger_time").value_or("");
        a.model = readString(g, "model").value_or("");
        const std::vector<std::string> sets = linksOf(g);
        for (const std::string& set : sets) {
            std::vector<double> values;
            if (withData) {
                Handle d(H5Dopen2(g, (set + "/raw").c_str(), H5P_DEFAULT), H5Dclose);
                if (!d.valid()) throw bad(name + "/" + set + " has no raw data");
                Handle space(H5Dget_space(d), H5Sclose);
                values.resize(static_cast<size_t>(H5Sget_simple_extent_npoints(space)));
                if (!values.empty() &&
                    H5Dread(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) < 0)
                    throw bad(name + "/" + set + " cannot be read");
            }
            a.sets.emplace_back(set, std::move(values));
        }
        out.push_back(std::move(a));
    }
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.sequence < b.sequence; });
    return out;
}

}  // namespace cvn::host
