// Session files ("srzip") in one pass with libzip. libsigrok's own session
// output reopens and rewrites its archive for every packet and deflates
// every entry at the strongest level; here every entry is produced while
// the archive is written, a block at a time, straight from the raw data:
// analog entries (floats of real signals, which barely compress) stored,
// logic entries (which compress a hundredfold at any level) deflated at
// level 1. libzip switches to ZIP64 by itself where sizes or offsets need it.
//
// The layout is the one libsigrok 0.5.2 writes and its reader (sigrok-cli,
// PulseView) requires: "version" holding 2; "metadata", a key file whose
// [device 1] lists "capturefile", "total probes", "samplerate", "total
// analog" before any channel name ("total probes" first: the reader numbers
// analog channels after it); chunked entries "logic-1-1" and
// "analog-1-<total probes + k + 1>-1" (an unchunked "logic-1" beside analog
// channels loses the analog data in that reader).
#include <fcntl.h>
#include <libsigrok/libsigrok.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "host/formats/SigrokWriter.h"
#include "support/AtomicFile.h"
#include "support/Error.h"

namespace cvn::host {
namespace {

constexpr int32_t kFileError = kPathError;

[[noreturn]] void failed(const std::string& what, const std::string& path) {
    throw Error(kFileError, "Cannot write " + path + ": " + what, "wavecatch");
}

// The archive's output: the atomic writer's temporary file, opened again by
// its name, so the archive lands in the very file the writer syncs and
// renames. Writes are gathered; libzip hands over a few kilobytes at a time
// and seeks back only to complete each entry's header.
class FileSink {
public:
    explicit FileSink(const std::string& path)
        : fd_(::open(path.c_str(), O_WRONLY | O_CLOEXEC)), openError_(errno) {
        zip_error_init(&error_);
        buffer_.reserve(kBufferBytes);
    }
    ~FileSink() {
        if (fd_ >= 0) ::close(fd_);
        zip_error_fini(&error_);
    }
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    bool opened() const { return fd_ >= 0; }
    int openError() const { return openError_; }

    static zip_int64_t Callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        return static_cast<FileSink*>(self)->command(data, len, cmd);
    }

private:
    static constexpr size_t kBufferBytes = size_t{1} << 20;

    zip_int64_t fail(int zipError, int err = 0) {
        zip_error_set(&error_, zipError, err);
        return -1;
    }
    bool flush() {
        for (size_t done = 0; done < buffer_.size();) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fail(ZIP_ER_WRITE, errno), false;
            done += static_cast<size_t>(n);
        }
        offset_ += static_cast<zip_int64_t>(buffer_.size());
        buffer_.clear();
        return true;
    }

    zip_int64_t command(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        switch (cmd) {
            case ZIP_SOURCE_SUPPORTS:
                return ZIP_SOURCE_SUPPORTS_WRITABLE;
            case ZIP_SOURCE_STAT: {
                // An empty file: the archive is made new (ZIP_TRUNCATE).
                auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &error_);
                if (!st) return -1;
                zip_stat_init(st);
                st->valid |= ZIP_STAT_SIZE;
                st->size = 0;
                return sizeof(*st);
            }
            case ZIP_SOURCE_OPEN:
            case ZIP_SOURCE_CLOSE:
            case ZIP_SOURCE_READ:
            case ZIP_SOURCE_SEEK:
            case ZIP_SOURCE_TELL:
            case ZIP_SOURCE_FREE:
                return 0;
            case ZIP_SOURCE_BEGIN_WRITE:
            case ZIP_SOURCE_ROLLBACK_WRITE:
            case ZIP_SOURCE_REMOVE:
                buffer_.clear();
                offset_ = 0;
                if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)
                    return fail(ZIP_ER_WRITE, errno);
                return 0;
            case ZIP_SOURCE_WRITE: {
                const auto* bytes = static_cast<const char*>(data);
                if (buffer_.size() + len > kBufferBytes && !flush()) return -1;
                if (len >= kBufferBytes) {
                    buffer_.assign(bytes, len);
                    if (!flush()) return -1;
                } else {
                    buffer_.append(bytes, len);
                }
                return static_cast<zip_int64_t>(len);
            }
            case ZIP_SOURCE_SEEK_WRITE: {
                auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &error_);
                if (!args || !flush()) return -1;
                const off_t at = ::lseek(fd_, args->offset, args->whence);
                if (at < 0) return fail(ZIP_ER_SEEK, errno);
                offset_ = at;
                return 0;
            }
            case ZIP_SOURCE_TELL_WRITE:
                return offset_ + static_cast<zip_int64_t>(buffer_.size());
            case ZIP_SOURCE_COMMIT_WRITE:
                // The atomic writer syncs the file and renames it.
                return flush() ? 0 : -1;
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&error_, data, len);
            default:
                return fail(ZIP_ER_OPNOTSUPP);
        }
    }

    int fd_;
    int openError_;
    zip_error_t error_;
    std::string buffer_;
    zip_int64_t offset_ = 0;
};

// One entry's bytes, made a block of samples at a time while libzip reads
// them: `produce(begin, end, out)` writes samples begin..end.
class SampleSource {
public:
    using Produce = std::function<void(size_t begin, size_t end, uint8_t* out)>;

    SampleSource(size_t samples, size_t sampleBytes, Produce produce)
        : samples_(samples), sampleBytes_(sampleBytes), produce_(std::move(produce)) {
        zip_error_init(&error_);
    }
    ~SampleSource() { zip_error_fini(&error_); }
    SampleSource(const SampleSource&) = delete;
    SampleSource& operator=(const SampleSource&) = delete;

    static zip_int64_t Callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        return static_cast<SampleSource*>(self)->command(data, len, cmd);
    }

private:
    static constexpr size_t kBlockSamples = size_t{1} << 16;

    zip_int64_t command(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        switch (cmd) {
            case ZIP_SOURCE_SUPPORTS:
                return ZIP_SOURCE_SUPPORTS_READABLE;
            case ZIP_SOURCE_STAT: {
                auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &error_);
                if (!st) return -1;
                zip_stat_init(st);
                st->valid |= ZIP_STAT_SIZE;
                st->size = samples_ * sampleBytes_;
                return sizeof(*st);
            }
            case ZIP_SOURCE_OPEN:
                next_ = 0;
                block_.clear();
                at_ = 0;
                return 0;
            case ZIP_SOURCE_READ:
                try {
                    return read(static_cast<uint8_t*>(data), len);
                } catch (const std::bad_alloc&) {
                    zip_error_set(&error_, ZIP_ER_MEMORY, 0);
                    return -1;
                }
            case ZIP_SOURCE_CLOSE:
            case ZIP_SOURCE_FREE:
                return 0;
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&error_, data, len);
            default:
                zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
                return -1;
        }
    }

    zip_int64_t read(uint8_t* out, zip_uint64_t len) {
        zip_uint64_t done = 0;
        while (done < len) {
            if (at_ == block_.size()) {
                if (next_ == samples_) break;
                const size_t end = std::min(samples_, next_ + kBlockSamples);
                block_.resize((end - next_) * sampleBytes_);
                produce_(next_, end, block_.data());
                next_ = end;
                at_ = 0;
            }
            const size_t n = std::min<zip_uint64_t>(len - done, block_.size() - at_);
            std::memcpy(out + done, block_.data() + at_, n);
            at_ += n;
            done += n;
        }
        return static_cast<zip_int64_t>(done);
    }

    size_t samples_;
    size_t sampleBytes_;
    Produce produce_;
    zip_error_t error_;
    std::vector<uint8_t> block_;
    size_t at_ = 0;    // read position in block_
    size_t next_ = 0;  // first sample after block_
};

// Samples begin..end of an analog set in volts, as little-endian floats.
void produceVolts(const DataSet& s, size_t begin, size_t end, uint8_t* out) {
    const PreambleBlock& b = s.block;
    s.raw.visit([&](auto raw) {
        for (size_t i = begin; i < end; ++i) {
            const float v = static_cast<float>(b.Value(static_cast<double>(raw[i])));
            std::memcpy(out + (i - begin) * sizeof v, &v, sizeof v);
        }
    });
}

std::string metadataOf(const std::vector<LogicLine>& lines,
                       const std::vector<const DataSet*>& analog, uint64_t rate) {
    std::string m = "[global]\nsigrok version=" + std::string(sr_package_version_string_get()) +
                    "\n\n[device 1]\n";
    if (!lines.empty())
        m += "capturefile=logic-1\ntotal probes=" + std::to_string(lines.size()) + "\n";
    char* rateText = sr_samplerate_string(rate);
    m += "samplerate=" + std::string(rateText) + "\n";
    g_free(rateText);
    m += "total analog=" + std::to_string(analog.size()) + "\n";
    for (size_t j = 0; j < lines.size(); ++j)
        m += "probe" + std::to_string(j + 1) + "=" + lines[j].name + "\n";
    for (size_t k = 0; k < analog.size(); ++k)
        m += "analog" + std::to_string(lines.size() + k + 1) + "=" + analog[k]->name + "\n";
    if (!lines.empty()) m += "unitsize=" + std::to_string((lines.size() + 7) / 8) + "\n";
    return m;
}

// One archive being written: libzip's handle and the entries' producers,
// which must outlive zip_close.
class Archive {
public:
    Archive(const std::string& tempPath, const std::string& path) : path_(path), sink_(tempPath) {
        if (!sink_.opened()) failed(std::strerror(sink_.openError()), path_);
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* out = zip_source_function_create(&FileSink::Callback, &sink_, &error);
        if (out) zip_ = zip_open_from_source(out, ZIP_CREATE | ZIP_TRUNCATE, &error);
        if (!zip_) {
            const std::string why = zip_error_strerror(&error);
            zip_error_fini(&error);
            if (out) zip_source_free(out);
            failed(why, path_);
        }
        zip_error_fini(&error);
    }
    ~Archive() {
        if (zip_) zip_discard(zip_);
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    void addText(const char* name, std::string text) {
        texts_.push_back(std::make_unique<std::string>(std::move(text)));
        const std::string& t = *texts_.back();
        add(name, zip_source_buffer(zip_, t.data(), t.size(), 0), ZIP_CM_STORE, 0);
    }
    void addSamples(const std::string& name, size_t samples, size_t sampleBytes,
                    SampleSource::Produce produce, int32_t method, uint32_t level) {
        sources_.push_back(
            std::make_unique<SampleSource>(samples, sampleBytes, std::move(produce)));
        add(name.c_str(), zip_source_function(zip_, &SampleSource::Callback, sources_.back().get()),
            method, level);
    }
    void close() {
        if (zip_close(zip_) != 0) failed(zip_strerror(zip_), path_);
        zip_ = nullptr;
    }

private:
    void add(const char* name, zip_source_t* source, int32_t method, uint32_t level) {
        if (!source) failed(zip_strerror(zip_), path_);
        const zip_int64_t index = zip_file_add(zip_, name, source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            failed(zip_strerror(zip_), path_);
        }
        if (zip_set_file_compression(zip_, static_cast<zip_uint64_t>(index), method, level) != 0)
            failed(zip_strerror(zip_), path_);
    }

    std::string path_;
    FileSink sink_;
    zip_t* zip_ = nullptr;
    std::vector<std::unique_ptr<std::string>> texts_;
    std::vector<std::unique_ptr<SampleSource>> sources_;
};

}  // namespace

void WriteSigrokSession(const CaptureResult& r, const std::string& path) {
    const std::vector<LogicLine> lines = LogicLinesOf(r);
    std::vector<const DataSet*> analog;
    for (const DataSet& s : r.sets)
        if (!s.raw.empty() && s.kind() != SourceKind::Pod && s.kind() != SourceKind::Bit)
            analog.push_back(&s);
    if (lines.empty() && analog.empty()) failed("the capture holds no waveform data", path);
    // Everything that can refuse the file does so before the file exists.
    const uint64_t rate = SigrokSampleRate(r, path);

    AtomicFileWriter file(path);
    {
        Archive zip(file.tempPath(), path);
        zip.addText("version", "2");
        zip.addText("metadata", metadataOf(lines, analog, rate));
        if (!lines.empty()) {
            size_t longest = 0;
            for (const LogicLine& l : lines) longest = std::max(longest, l.set->raw.size());
            zip.addSamples(
                "logic-1-1", longest, (lines.size() + 7) / 8,
                [&lines](size_t begin, size_t end, uint8_t* out) {
                    PackLogic(lines, begin, end, out);
                },
                ZIP_CM_DEFLATE, 1);
        }
        for (size_t k = 0; k < analog.size(); ++k) {
            const DataSet& s = *analog[k];
            zip.addSamples(
                "analog-1-" + std::to_string(lines.size() + k + 1) + "-1", s.raw.size(),
                sizeof(float),
                [&s](size_t begin, size_t end, uint8_t* out) { produceVolts(s, begin, end, out); },
                ZIP_CM_STORE, 0);
        }
        zip.close();
    }
    file.commit();
}

}  // namespace cvn::host
