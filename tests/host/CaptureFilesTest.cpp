// The capture's files from data sets made by hand: formatting on several
// threads gives the same bytes as one thread, data sets are windows on the
// add-in's array, never copies of it, and sigrok files state a true rate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>

#include "host/Capture.h"
#include "host/HostFixture.h"
#include "host/Scaling.h"
#include "host/TransferProgress.h"
#include "host/formats/CaptureText.h"
#include "host/formats/ChunkFormatter.h"
#include "host/formats/SaveCapture.h"
#include "support/AtomicFile.h"
#include "support/Error.h"

namespace cvn::host::test {
namespace {

using automation::Variant;

// Several chunks and a part chunk, words of every sign, with the odd
// numbers a real preamble has.
Variant words(size_t count) {
    DataVector<int16_t> raw(count);
    for (size_t i = 0; i < count; ++i)
        raw[i] = static_cast<int16_t>((static_cast<int64_t>(i) * 7919) % 65536 - 32768);
    return Variant(std::move(raw));
}

std::vector<double> preambleFor(size_t points, int32_t code) {
    return {0,     0, static_cast<double>(points), 1, 3.2e-9, -1.6e-3, 0, 3.0517578125e-5,
            0.125, 0, static_cast<double>(code)};
}

std::string written(const std::string& path, const std::function<void(AtomicFileWriter&)>& fill) {
    {
        AtomicFileWriter file(path);
        fill(file);
        file.commit();
    }
    return ReadWholeFile(path);
}

}  // namespace

TEST_F(HostTest, TextWrittenInParallelIsTheSerialTextByteForByte) {
    const size_t points = 3 * kChunkPoints + 1234;
    std::string warning;
    std::vector<double> preamble = preambleFor(points, 1);
    const std::vector<double> pod = preambleFor(points, 8);
    preamble.insert(preamble.end(), pod.begin(), pod.end());
    const Variant raw = words(2 * points);
    const std::vector<DataSet> sets = SplitDataSets(preamble, raw, warning);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_TRUE(warning.empty()) << warning;
    // The data sets look into the add-in's array: no copy of the points.
    EXPECT_EQ(sets[0].raw.data(), raw.array().data());
    EXPECT_EQ(sets[1].raw.data(), static_cast<const int16_t*>(raw.array().data()) + points);

    const std::string dir = home_.root() + "/text";
    std::filesystem::create_directories(dir);
    for (const DataSet& s : sets) {
        const std::string serial =
            written(dir + "/serial.csv", [&](AtomicFileWriter& f) { WriteCsv(f, s, 1); });
        for (unsigned threads : {2u, 3u, 8u})
            EXPECT_EQ(written(dir + "/parallel.csv",
                              [&](AtomicFileWriter& f) { WriteCsv(f, s, threads); }),
                      serial)
                << threads << " threads";
        // One line per point under the header; the last line is the last point.
        EXPECT_EQ(static_cast<size_t>(std::count(serial.begin(), serial.end(), '\n')), points + 1);
        // Every line: the time as "%.12g", the value as the shortest double.
        size_t at = serial.find('\n') + 1;
        for (size_t i = 0; i < points; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "%.12g,", s.Time(i));
            const size_t end = serial.find('\n', at);
            const std::string got = serial.substr(at, end - at);
            ASSERT_EQ(got.substr(0, got.find(',') + 1), line) << i;
            ASSERT_EQ(std::stod(got.substr(got.find(',') + 1)), s.Value(i)) << i;
            at = end + 1;
        }
    }

    const std::string json = written(
        dir + "/serial.json", [&](AtomicFileWriter& f) { WriteJsonNumbers(f, sets[1].raw, 1); });
    EXPECT_EQ(written(dir + "/parallel.json",
                      [&](AtomicFileWriter& f) { WriteJsonNumbers(f, sets[1].raw, 2); }),
              json);
    EXPECT_EQ(json.front(), '[');
    EXPECT_EQ(json.back(), ']');
    EXPECT_EQ(static_cast<size_t>(std::count(json.begin(), json.end(), ',')), points - 1);

    // A formatter that fails stops the run with its error, whatever thread it was on.
    EXPECT_THROW(FormatInChunks(
                     5 * kChunkPoints, 2,
                     [](size_t begin, size_t, std::string&) -> size_t {
                         if (begin == 3 * kChunkPoints) throw Error(75, "disk full", "test");
                         return 0;
                     },
                     [](std::string_view) {}),
                 Error);
}

}  // namespace cvn::host::test

namespace cvn::host::test {

// The CSV's times are printf's "%.12g" to the byte, over every magnitude a
// record meets, at the edges of rounding and of the notations.
TEST(CaptureText, TimesAreWrittenAsPrintfWrites12Digits) {
    std::vector<double> values;
    std::istringstream edges(
        "1 -1 0.5 1e-5 1e-4 9.99999999999e-5 1e11 1e12 999999999999.5 123456789012345.0 0.1 "
        "-0.005 2.5e-13 1e-300 1e300 9.9999999999995e-3 0.00499999999999995 4.9999999999995 "
        "1.0000000000005");
    for (double v; edges >> v;) values.push_back(v);
    uint64_t state = 88172645463325252ULL;
    for (int i = 0; i < 200000; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const double mantissa = static_cast<double>(state % 2000000001) / 1e9 - 1.0;
        const int exponent = static_cast<int>((state >> 40) % 40) - 20;
        values.push_back(mantissa * std::pow(10.0, exponent));
        // The times of a record: index times a decimal increment plus an origin.
        values.push_back((static_cast<double>(i) - 5.0) * 1e-8 - 0.005);
    }
    for (double v : values) {
        char expected[64], got[64];
        std::snprintf(expected, sizeof expected, "%.12g", v);
        *AppendTime(got, v) = '\0';
        ASSERT_STREQ(got, expected) << v;
    }
}

}  // namespace cvn::host::test

namespace cvn::host::test {

std::vector<std::string> tokens(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Which set is whose, from the blocks and the transfers reported: a cell's
// blocks (code:announced points), the reports (source=bytes/total, "-" for
// none) and the raw values' count; what must come out good (name:points)
// and failed.
TEST(CheckDataSets, EachSetIsItsSourcesOrFails) {
    struct Cell {
        const char *what, *blocks, *transfers;
        size_t values;
        const char *good, *failed;
    } const cells[] = {
        {"all whole", "1:10 8:10", "Channel1=20/20 POD1=10/10", 20, "CH1:10 POD1:10", ""},
        {"short blocks", "1:10 2:10", "Channel1=18/18 Channel2=18/18", 18, "CH1:9 CH2:9", ""},
        {"no transfer: the previous data", "1:10 2:10", "Channel1=20/20", 20, "CH1:10", "CH2"},
        {"cut block", "1:10 2:10", "Channel1=20/20 Channel2=6/20", 20, "CH1:10", "CH2"},
        {"odd word block", "1:10", "Channel1=19/19", 0, "", "CH1"},
        {"first fails: nothing appended", "1:10 2:10", "Channel2=20/20", 10, "CH2:10", "CH1"},
        {"bits share the pod's read", "1:4 100:4 101:4", "Channel1=8/8 POD1=4/4", 12,
         "CH1:4 D0:4 D1:4", ""},
        {"bits of a failed pod", "1:4 100:4 101:4", "Channel1=8/8", 12, "CH1:4", "D0 D1"},
        {"indefinite block ended", "1:3", "Channel1=6/6", 3, "CH1:3", ""},
        {"indefinite block stopped at a step", "1:1000000", "Channel1=1048576/0", 0, "", "CH1"},
        {"read twice, one failed", "1:5 1:5", "Channel1=10/10", 10, "", "CH1 CH1"},
        {"read twice, both whole", "1:5 1:4", "Channel1=10/10 Channel1=8/8", 9, "CH1:5 CH1:4", ""},
        {"lengths do not add up", "1:5", "Channel1=10/10", 7, "", "CH1"},
        {"no reports: the preambles", "1:5 2:5", "-", 10, "CH1:5 CH2:5", ""},
        {"no reports, lengths off", "1:5 2:5", "-", 9, "", "CH1 CH2"},
        {"unknown code", "9:5", "Channel1=10/10", 5, "", "SRC9"},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.what);
        std::vector<double> preamble;
        for (const std::string& b : tokens(c.blocks)) {
            const std::vector<double> p =
                preambleFor(std::stoul(b.substr(b.find(':') + 1)), std::stoi(b));
            preamble.insert(preamble.end(), p.begin(), p.end());
        }
        std::vector<BlockTransfer> transfers;
        for (const std::string& t : tokens(c.transfers))
            if (t != "-")
                transfers.push_back({" " + t.substr(0, t.find('=')),
                                     std::stoul(t.substr(t.find('=') + 1)),
                                     std::stoul(t.substr(t.find('/') + 1))});
        // Small values, so a pod's set holds bytes.
        DataVector<int16_t> values(c.values);
        for (size_t i = 0; i < c.values; ++i) values[i] = static_cast<int16_t>(i % 200);
        const Variant raw = c.values ? Variant(std::move(values)) : Variant();
        const CheckedSets got = CheckDataSets(
            preamble, raw, std::string(c.transfers) == "-" ? nullptr : &transfers, "why");
        std::vector<std::string> good, failed;
        for (const DataSet& s : got.sets)
            good.push_back(s.name + ":" + std::to_string(s.raw.size()));
        for (const FailedSet& f : got.failed) failed.push_back(f.name);
        EXPECT_EQ(good, tokens(c.good));
        EXPECT_EQ(failed, tokens(c.failed));
    }
    // A pod set whose values are no bytes is a channel's words.
    const CheckedSets pod = CheckDataSets(preambleFor(4, 8), words(4), nullptr, "why");
    EXPECT_TRUE(pod.sets.empty());
    ASSERT_EQ(pod.failed.size(), 1u);
    EXPECT_NE(pod.failed[0].why.find("no bytes"), std::string::npos);
}

// The progress reports of the add-in's reads, grouped into its blocks: an
// indefinite block reports a total of 0 until its end names its size.
TEST(TransferLog, ReportsGroupIntoTheirBlocks) {
    const size_t mib = size_t{1} << 20, end = 2 * mib + 6;
    struct Report {
        const char* source;
        size_t received, total;
    } const reports[] = {
        {" CHANnel1", mib, 0},       {" CHANnel1", 2 * mib, 0},
        {" CHANnel1", end, end},     {" CHANnel2", 4, 4},
        {" CHANnel2", mib, 3 * mib},                   // cut short
        {" POD1", mib, 0},           {" POD1", 6, 0},  // a new block, stopped
    };
    TransferLog log;
    for (const Report& r : reports) log.add(r.source, r.received, r.total);
    std::vector<std::string> got;
    for (const BlockTransfer& t : log.transfers())
        got.push_back(t.source + ":" + std::to_string(t.received) + "/" + std::to_string(t.total));
    const auto n = [](size_t v) { return std::to_string(v); };
    EXPECT_EQ(got, (std::vector<std::string>{" CHANnel1:" + n(end) + "/" + n(end), " CHANnel2:4/4",
                                             " CHANnel2:" + n(mib) + "/" + n(3 * mib),
                                             " POD1:" + n(mib) + "/0", " POD1:6/0"}));
}

// sigrok files state the sample rate in whole hertz. A rate that rounds to
// whole hertz within half a sample over the record is written rounded; any
// other leaves both files out with the reason, and no file, not even a
// temporary one, is left in their place.
TEST_F(HostTest, SigrokFilesStateTheRateOrAreLeftOut) {
    struct Cell {
        double channel, pod;  // x increments
        size_t points;
        const char* shown;  // sigrok-cli's rate line, or nullptr: left out
        const char* why;
    } const cells[] = {
        {1e-6, 1e-6, 1000, "Samplerate: 1000000\n", nullptr},
        {1.0, 1.0, 100, "Samplerate: 1\n", nullptr},
        {7e-4, 7e-4, 1000, "Samplerate: 1429\n", nullptr},  // 1428.57 Hz: 0.3 samples at the end
        // 0.6 samples off at the end: more than half a sample.
        {7e-4, 7e-4, 2000, nullptr, "the sample rate 1428.57 Hz is not a whole number of hertz"},
        {0.4, 0.4, 100, nullptr, "the sample rate 2.5 Hz is not a whole number of hertz"},
        {5.0, 5.0, 100, nullptr, "the sample rate 0.2 Hz is below 1 Hz"},
        {0.0, 0.0, 100, nullptr, "CH1 has no usable x increment"},
        {1e-6, 2e-6, 100, nullptr, "POD1 and CH1 have different sample rates"},
    };
    const FormatSet sigrok = *ParseFormats("sr,vcd");
    int n = 0;
    for (const Cell& c : cells) {
        std::vector<double> preamble = preambleFor(c.points, 1);
        const std::vector<double> pod = preambleFor(c.points, 8);
        preamble.insert(preamble.end(), pod.begin(), pod.end());
        preamble[4] = c.channel;
        preamble[kPreambleSize + 4] = c.pod;
        CaptureResult r;
        std::string warning;
        r.sets = SplitDataSets(preamble, words(2 * c.points), warning);
        const std::string dir = home_.root() + "/rate" + std::to_string(n++);
        const WrittenFiles w = SaveFormats(r, dir, sigrok);
        size_t inFolder = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            inFolder += !e.is_directory();
        if (c.shown) {
            EXPECT_TRUE(w.skipped.empty()) << c.channel;
            EXPECT_EQ(w.files.size(), 2u) << c.channel;
            const std::string out =
                shell("sigrok-cli -i '" + dir + "/capture.sr' --show 2>&1").second;
            EXPECT_NE(out.find(c.shown), std::string::npos) << out;
        } else {
            EXPECT_TRUE(w.files.empty()) << c.why;
            EXPECT_EQ(inFolder, 0u) << c.why;
            ASSERT_EQ(w.skipped.size(), 2u) << c.why;
            for (size_t i = 0; i < 2; ++i)
                EXPECT_EQ(w.skipped[i].find(std::string(i ? "capture.vcd" : "capture.sr") +
                                            " not written: " + c.why),
                          0u)
                    << w.skipped[i];
        }
    }
}

}  // namespace cvn::host::test
