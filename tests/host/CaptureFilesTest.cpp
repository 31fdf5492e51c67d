// The capture's text files from data sets made by hand: formatting on
// several threads gives the same bytes as one thread, and data sets are
// windows on the add-in's array, never copies of it.
#include <gtest/gtest.h>

#include <filesystem>

#include "apps/host/AtomicFile.h"
#include "apps/host/CaptureText.h"
#include "apps/host/ChunkFormatter.h"
#include "apps/host/Scaling.h"
#include "host/HostFixture.h"
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
        char last[64];
        std::snprintf(last, sizeof last, "%.12g,", s.Time(points - 1));
        EXPECT_NE(serial.find(std::string("\n") + last), std::string::npos) << last;
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
                     [](size_t begin, size_t, std::string&) {
                         if (begin == 3 * kChunkPoints) throw Error(75, "disk full", "test");
                     },
                     [](const std::string&) {}),
                 Error);
}

}  // namespace cvn::host::test
