// csv: one file per data set, time in seconds and the value scaled by its
// preamble.
#include <filesystem>
#include <regex>
#include <set>

#include "host/formats/CaptureFormat.h"
#include "host/formats/CaptureText.h"
#include "host/formats/ChunkFormatter.h"

namespace cvn::host {
namespace {

class Csv final : public CaptureFormat {
public:
    std::string_view id() const override { return "csv"; }
    std::string_view help() const override {
        return "one CSV per data set (time in seconds, value scaled by its preamble)";
    }
    bool byDefault() const override { return true; }

    // The source's name in lower case, with a number when two sets share it.
    std::vector<std::string> files(const CaptureResult& r) const override {
        std::vector<std::string> names;
        std::set<std::string> used;
        for (const DataSet& s : r.sets) {
            std::string stem;
            for (char c : s.name)
                stem += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            std::string name = stem + ".csv";
            for (int n = 2; used.count(name); ++n) name = stem + "-" + std::to_string(n) + ".csv";
            used.insert(name);
            names.push_back(name);
        }
        return names;
    }

    bool owns(const std::string& name) const override {
        static const std::regex kNames(
            R"((ch[1-4]|func|pod[12]|d[0-9]{1,2}|src-?[0-9]+)(-[0-9]+)?\.csv)");
        return std::regex_match(name, kNames);
    }

    void write(const CaptureResult& r, const std::string& folder) const override {
        const std::vector<std::string> names = files(r);
        for (size_t i = 0; i < r.sets.size(); ++i) {
            AtomicFileWriter file((std::filesystem::path(folder) / names[i]).string());
            WriteCsv(file, r.sets[i], FormattingThreads());
            file.commit();
        }
    }
};

}  // namespace

const CaptureFormat& CsvFormat() {
    static const Csv kFormat;
    return kFormat;
}

}  // namespace cvn::host
