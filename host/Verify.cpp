// The comparison of a capture's samples with the scope's measurements.
#include "host/Verify.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "host/Json.h"

namespace cvn::host {

namespace {

// The add-in takes an exponent of 21 and more as "no result".
constexpr double kNoResult = 1e21;

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The parts of "[sign]digits[.digits][E[sign]digits]": the value, and the
// power of ten of its last digit. Nothing for anything else.
struct Parsed {
    double value = 0;
    int lastDigit = 0;
};

std::optional<Parsed> parse(std::string_view reply) {
    std::string_view s = trimmed(reply);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    Parsed p;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), p.value);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(p.value))
        return std::nullopt;
    // from_chars takes "inf", "nan" and hex-less forms only; the digits
    // before the exponent say the precision.
    const size_t e = s.find_first_of("eE");
    const std::string_view mantissa = s.substr(0, e);
    const size_t dot = mantissa.find('.');
    const int decimals =
        dot == std::string_view::npos ? 0 : static_cast<int>(mantissa.size() - dot - 1);
    int exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view x = s.substr(e + 1);
        if (!x.empty() && x.front() == '+') x.remove_prefix(1);
        const auto [xe, xec] = std::from_chars(x.data(), x.data() + x.size(), exponent);
        if (xec != std::errc() || xe != x.data() + x.size()) return std::nullopt;
    }
    p.lastDigit = exponent - decimals;
    return p;
}

struct Quantity {
    const char* row;
    const char* name;
    const char* unit;
};
constexpr Quantity kQuantities[] = {{"P2P", "peak-to-peak", "V"},
                                    {"Max", "maximum", "V"},
                                    {"Min", "minimum", "V"},
                                    {"Average", "average", "V"},
                                    {"Freq", "frequency", "Hz"}};

struct Figures {
    double max = 0, min = 0, average = 0;
};

Figures figuresOf(const DataSet& set) {
    Figures f;
    const size_t n = set.raw.size();
    f.max = -HUGE_VAL;
    f.min = HUGE_VAL;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = set.Value(i);
        f.max = std::max(f.max, v);
        f.min = std::min(f.min, v);
        sum += v;
    }
    f.average = sum / static_cast<double>(n);
    return f;
}

std::string number(const std::optional<double>& v, const std::string& unit) {
    if (!v) return "-";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.7g", *v);
    return std::string(buf) + " " + unit;
}

}  // namespace

std::optional<double> ReplyNumber(std::string_view reply) {
    const auto p = parse(reply);
    if (!p || std::abs(p->value) >= kNoResult) return std::nullopt;
    return p->value;
}

std::optional<double> ReplyPrecision(std::string_view reply) {
    const auto p = parse(reply);
    if (!p) return std::nullopt;
    return 0.5 * std::pow(10.0, p->lastDigit);
}

std::optional<double> FrequencyOf(const DataSet& set) {
    const size_t n = set.raw.size();
    if (n < 2) return std::nullopt;
    const Figures f = figuresOf(set);
    const double span = f.max - f.min;
    if (!(span > 0)) return std::nullopt;
    const double lower = f.min + 0.1 * span, middle = f.min + 0.5 * span,
                 upper = f.min + 0.9 * span;
    // The middle crossing between the last sample beyond one threshold and
    // the first beyond the other, between samples by straight line.
    const auto crossing = [&](size_t from, size_t to) {
        for (size_t k = from; k < to; ++k) {
            const double a = set.Value(k), b = set.Value(k + 1);
            if ((a < middle) != (b < middle))
                return set.Time(k) + (middle - a) / (b - a) * (set.Time(k + 1) - set.Time(k));
        }
        return set.Time(to);
    };
    std::vector<double> rising, falling;
    enum { Unknown, Low, High } zone = Unknown;
    size_t lastLow = 0, lastHigh = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = set.Value(i);
        if (v <= lower) {
            if (zone == High) falling.push_back(crossing(lastHigh, i));
            zone = Low;
            lastLow = i;
        } else if (v >= upper) {
            if (zone == Low) rising.push_back(crossing(lastLow, i));
            zone = High;
            lastHigh = i;
        }
    }
    for (const std::vector<double>* edges : {&rising, &falling}) {
        if (edges->size() < 2) continue;
        const double period =
            (edges->back() - edges->front()) / static_cast<double>(edges->size() - 1);
        if (period > 0) return 1.0 / period;
    }
    return std::nullopt;
}

std::vector<VerifyRow> CompareWithScope(const DataSet& set,
                                        const std::vector<ScopeReading>& readings) {
    std::vector<VerifyRow> rows;
    const bool empty = set.raw.size() == 0;
    const Figures f = empty ? Figures{} : figuresOf(set);
    const double yStep = std::abs(set.block.yIncrement);
    const double duration = std::abs(set.block.xIncrement) * static_cast<double>(set.raw.size());
    for (const Quantity& q : kQuantities) {
        VerifyRow row;
        row.source = set.name;
        row.quantity = q.name;
        row.unit = q.unit;
        const std::string_view name = q.row;
        if (!empty) {
            if (name == "P2P") row.ours = f.max - f.min;
            if (name == "Max") row.ours = f.max;
            if (name == "Min") row.ours = f.min;
            if (name == "Average") row.ours = f.average;
            if (name == "Freq") row.ours = FrequencyOf(set);
        }
        const auto reading = std::find_if(readings.begin(), readings.end(),
                                          [&](const ScopeReading& r) { return r.row == name; });
        if (reading == readings.end()) {
            row.agreement = Agreement::Skipped;
            row.note = "the scope does not measure it for this source";
            rows.push_back(std::move(row));
            continue;
        }
        row.scopeReply = std::string(trimmed(reading->reply));
        row.scope = ReplyNumber(reading->reply);
        const double precision = ReplyPrecision(reading->reply).value_or(0);
        if (!row.scope) {
            row.agreement = Agreement::Skipped;
            row.note = !parse(reading->reply) ? "the scope's reply is not a number"
                       : name == "Freq"       ? "the scope finds no edges"
                                              : "the scope has no value";
        } else if (empty) {
            row.agreement = Agreement::Failed;
            row.note = "the data set holds no points";
        } else if (!row.ours) {
            row.agreement = Agreement::Mismatch;
            row.note = "the data shows no edges, the scope does";
        } else {
            row.difference = *row.ours - *row.scope;
            row.tolerance = name == "Freq"
                                ? (duration > 0 ? std::abs(*row.scope) *
                                                      std::abs(set.block.xIncrement) / duration
                                                : 0) +
                                      precision
                                : 2 * yStep + precision;
            // NaN in the data counts as out of tolerance.
            if (!(std::abs(row.difference) <= row.tolerance)) {
                row.agreement = Agreement::Mismatch;
                row.note = "differs by more than " + number(row.tolerance, row.unit);
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

bool AllAgree(const std::vector<VerifyRow>& rows) {
    return std::none_of(rows.begin(), rows.end(), [](const VerifyRow& r) {
        return r.agreement == Agreement::Mismatch || r.agreement == Agreement::Failed;
    });
}

std::string AgreementText(Agreement a) {
    switch (a) {
        case Agreement::Ok:
            return "ok";
        case Agreement::Mismatch:
            return "MISMATCH";
        case Agreement::Skipped:
            return "skipped";
        case Agreement::Failed:
            return "FAILED";
    }
    return "?";
}

std::string VerifyTable(const std::vector<VerifyRow>& rows) {
    const auto line = [](const std::string& source, const std::string& quantity,
                         const std::string& ours, const std::string& scope,
                         const std::string& difference, const std::string& result) {
        char buf[256];
        std::snprintf(buf, sizeof buf, "%-7s %-13s %-16s %-16s %-14s %s\n", source.c_str(),
                      quantity.c_str(), ours.c_str(), scope.c_str(), difference.c_str(),
                      result.c_str());
        return std::string(buf);
    };
    std::string text = line("source", "quantity", "ours", "scope", "difference", "result");
    for (const VerifyRow& r : rows) {
        // A reply of the scope's "no result" value reads "No edges", as
        // the Measurement tab shows it.
        std::string scope = r.scope                        ? number(r.scope, r.unit)
                            : r.scopeReply.empty()         ? "-"
                            : ReplyPrecision(r.scopeReply) ? "No edges"
                                                           : r.scopeReply;
        std::string difference = "-";
        if (r.ours && r.scope) {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%+.3g", r.difference);
            difference = std::string(buf) + " " + r.unit;
        }
        std::string result = AgreementText(r.agreement);
        if (r.agreement != Agreement::Ok && !r.note.empty()) result += " (" + r.note + ")";
        text += line(r.source, r.quantity, number(r.ours, r.unit), scope, difference, result);
    }
    return text;
}

void WriteVerifyJson(JsonWriter& json, const std::vector<VerifyRow>& rows) {
    const auto optional = [&](const std::optional<double>& v) {
        if (v)
            json.value(*v);
        else
            json.raw("null");
    };
    json.beginArray();
    for (const VerifyRow& r : rows) {
        json.beginObject();
        json.key("source").value(r.source);
        json.key("quantity").value(r.quantity);
        json.key("unit").value(r.unit);
        json.key("ours");
        optional(r.ours);
        json.key("scope");
        optional(r.scope);
        json.key("scopeReply").value(r.scopeReply);
        json.key("difference");
        optional(r.ours && r.scope ? std::optional(r.difference) : std::nullopt);
        json.key("tolerance");
        optional(r.ours && r.scope ? std::optional(r.tolerance) : std::nullopt);
        json.key("result").value(AgreementText(r.agreement));
        if (!r.note.empty()) json.key("note").value(r.note);
        json.endObject();
    }
    json.endArray();
}

}  // namespace cvn::host
