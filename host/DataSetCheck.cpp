// Which data set is whose: the add-in's flat results matched against the
// block transfers its progress reports told of.
#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

#include "automation/Array.h"
#include "host/Scaling.h"

namespace cvn::host {

using automation::Variant;

namespace {

// The source keyword the add-in reads a code's data with, as it names it in
// its progress reports (blanks and letter case aside); empty for a code no
// read gives (a channel number the scope does not have reads channel 1).
std::string keywordOf(int32_t code) {
    if (code >= 1 && code <= 4) return "channel" + std::to_string(code);
    if (code == 5) return "func";
    if (code == 8) return "pod1";
    if (code == 16) return "pod2";
    return {};
}

std::string normalized(const std::string& keyword) {
    std::string out;
    for (char c : keyword)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isBit(int32_t code) {
    return KindOfCode(code) == SourceKind::Bit;
}

int32_t podOfBit(int32_t code) {
    return code < 200 ? 8 : 16;
}

// One read of a source by the add-in, and the blocks that came of it (a
// pod's own block and its bit sets share the read).
struct Read {
    int32_t code = 0;
    std::string keyword;
    const BlockTransfer* transfer = nullptr;
    std::optional<size_t> points;  // arrived whole: its point count
    std::string why;               // otherwise: why not
};

// Whether a transfer's block was read whole, and its point count then. A
// block's last report says received == total (an indefinite block's size
// is its total then); reports of a block cut short never do.
std::optional<size_t> pointsOf(const BlockTransfer& t, size_t width) {
    // An odd byte count in a word block fails its read after the last report.
    if (t.received != t.total || t.received % width != 0) return std::nullopt;
    return t.received / width;
}

bool bytesOnly(const RawSamples& raw) {
    return raw.visit([](auto values) {
        using T = typename decltype(values)::value_type;
        if constexpr (std::is_same_v<T, uint8_t>)
            return true;
        else
            return std::all_of(values.begin(), values.end(),
                               [](T v) { return v >= 0 && v <= 255; });
    });
}

}  // namespace

CheckedSets CheckDataSets(const std::vector<double>& preamble, const Variant& yData,
                          const std::vector<BlockTransfer>* transfers,
                          const std::string& failureText) {
    CheckedSets out;
    if (preamble.size() < kPreambleSize) return out;
    const size_t blocks = preamble.size() / kPreambleSize;
    std::vector<PreambleBlock> block(blocks);
    for (size_t b = 0; b < blocks; ++b)
        block[b] = PreambleBlock::FromNumbers(preamble, b * kPreambleSize);

    // The reads behind the blocks: a bit set shares the read of the pod
    // block or the lower bit right before it.
    std::vector<Read> reads;
    std::vector<size_t> readOf(blocks);
    for (size_t b = 0; b < blocks; ++b) {
        const int32_t code = block[b].sourceCode;
        if (isBit(code) && b > 0) {
            const int32_t prev = block[b - 1].sourceCode;
            if (prev == podOfBit(code) ||
                (isBit(prev) && podOfBit(prev) == podOfBit(code) && prev < code)) {
                readOf[b] = readOf[b - 1];
                continue;
            }
        }
        Read r;
        r.code = isBit(code) ? podOfBit(code) : code;
        r.keyword = keywordOf(r.code);
        readOf[b] = reads.size();
        reads.push_back(r);
    }

    // Each read takes the next transfer when that names its source; one
    // that failed before its block began has none. A source read more than
    // once is only told apart when every read of it left a transfer.
    std::map<std::string, int> readsOf, transfersOf;
    for (const Read& r : reads) ++readsOf[r.keyword];
    if (transfers)
        for (const BlockTransfer& t : *transfers) ++transfersOf[normalized(t.source)];
    size_t next = 0;
    std::string doubt;
    for (size_t i = 0; i < reads.size(); ++i) {
        Read& r = reads[i];
        const size_t width = KindOfCode(r.code) == SourceKind::Pod ? 1 : 2;
        size_t firstBlock = 0;
        while (readOf[firstBlock] != i) ++firstBlock;
        const double announced = block[firstBlock].points;
        if (r.keyword.empty()) {
            r.why = "cannot tell whose data this is: the add-in reads no source of code " +
                    std::to_string(r.code);
            continue;
        }
        if (!transfers) {
            // No reports: the preamble's count is all there is to go by.
            r.points = announced > 0 ? static_cast<size_t>(announced) : 0;
            continue;
        }
        if (readsOf[r.keyword] > 1 && transfersOf[r.keyword] != readsOf[r.keyword]) {
            r.why = "cannot tell whose data this is: " + SourceName(r.code) +
                    " was read more than once and not every read delivered";
            while (next < transfers->size() && normalized((*transfers)[next].source) == r.keyword)
                ++next;
            continue;
        }
        if (next < transfers->size() && normalized((*transfers)[next].source) == r.keyword) {
            r.transfer = &(*transfers)[next++];
            r.points = pointsOf(*r.transfer, width);
        }
        if (!r.points) r.why = "transfer failed (" + failureText + ")";
    }
    if (transfers && next != transfers->size())
        doubt =
            "cannot tell whose data this is: the add-in reported transfers of sources it "
            "delivered no data set for";

    // The driver appends the data of the last read that arrived, so a
    // failed source's set is as long as the previous good read's.
    std::vector<size_t> length(blocks);
    size_t current = 0;
    size_t lastRead = SIZE_MAX;
    for (size_t b = 0; b < blocks; ++b) {
        const Read& r = reads[readOf[b]];
        if (readOf[b] != lastRead && r.points) current = *r.points;
        lastRead = readOf[b];
        length[b] = current;
    }
    size_t sum = 0;
    for (size_t n : length) sum += n;
    automation::Variant numbers = yData;
    if (yData.isArray() && yData.array().elementType() == automation::VarType::Variant) {
        const std::vector<double> read = NumbersOf(yData);
        numbers = Variant(DataVector<double>(read.begin(), read.end()));
    }
    const size_t total = numbers.isArray() ? numbers.array().count() : 0;
    if (doubt.empty() && sum != total)
        doubt = "cannot tell whose data this is: the transfers delivered " + std::to_string(sum) +
                " points, the raw data holds " + std::to_string(total);

    size_t offset = 0;
    for (size_t b = 0; b < blocks; ++b) {
        DataSet s;
        s.block = block[b];
        s.name = SourceName(s.block.sourceCode);
        const Read& r = reads[readOf[b]];
        std::string why = doubt;
        if (why.empty() && !r.points)  // a bit set names its pod's failed read
            why = r.code != s.block.sourceCode && r.why.starts_with("transfer")
                      ? "transfer of " + SourceName(r.code) + " failed (" + failureText + ")"
                      : r.why;
        if (why.empty() && length[b] == 0) why = "no points arrived";
        if (why.empty()) {
            s.raw = RawSamples(numbers, offset, length[b]);
            // A pod's samples are bytes; words among them are another source's.
            if (s.kind() == SourceKind::Pod && !bytesOnly(s.raw))
                why =
                    "cannot tell whose data this is: the pod's data holds values that are no "
                    "bytes";
        }
        offset += length[b];
        if (!why.empty()) {
            out.failed.push_back({s.name, s.block.sourceCode, why, b});
            continue;
        }
        if (static_cast<double>(length[b]) != s.block.points && !isBit(s.block.sourceCode)) {
            if (!out.warning.empty()) out.warning += "; ";
            out.warning += s.name + ": " + std::to_string(length[b]) +
                           " points came, the preamble announces " +
                           std::to_string(static_cast<long long>(s.block.points));
        }
        out.sets.push_back(std::move(s));
    }
    return out;
}

}  // namespace cvn::host
