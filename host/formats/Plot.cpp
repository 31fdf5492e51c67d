// Rendering of captured data sets into one PNG picture.
#include "host/formats/Plot.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "support/Error.h"

namespace cvn::host {
namespace {

constexpr int kWidth = 1200;
constexpr int kLeft = 110;
constexpr int kRight = 30;
constexpr int kTop = 44;
constexpr int kAnalogHeight = 420;
constexpr int kLaneHeight = 22;
constexpr int kGap = 26;
constexpr int kBottom = 60;

QColor colorOf(int32_t code) {
    switch (code) {
        case 1:
            return QColor(0xc0, 0x90, 0x00);
        case 2:
            return QColor(0x00, 0x9a, 0x20);
        case 3:
            return QColor(0x10, 0x60, 0xd0);
        case 4:
            return QColor(0xd0, 0x10, 0x70);
        case 5:
            return QColor(0x80, 0x40, 0xc0);
        default:
            return QColor(0x10, 0x70, 0x70);
    }
}

struct Range {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    void add(double v) {
        if (!std::isfinite(v)) return;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    bool valid() const { return lo <= hi; }
    // A range a picture can be drawn over: never empty, never inverted.
    Range padded(double fraction) const {
        Range r = *this;
        if (!valid()) return Range{-1, 1};
        double span = r.hi - r.lo;
        if (span <= 0) span = std::max(std::abs(r.hi), 1e-12);
        r.lo -= span * fraction;
        r.hi += span * fraction;
        return r;
    }
};

// Tick spacing of 1, 2 or 5 times a power of ten giving about `count` ticks.
double niceStep(double span, int count) {
    const double raw = span / count;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * p) return m * p;
    return 10 * p;
}

struct Prefix {
    double factor;
    const char* symbol;
};

Prefix prefixFor(double magnitude) {
    static const Prefix kPrefixes[] = {{1e9, "G"},  {1e6, "M"},  {1e3, "k"},  {1, ""},
                                       {1e-3, "m"}, {1e-6, "µ"}, {1e-9, "n"}, {1e-12, "p"}};
    if (!(magnitude > 0) || !std::isfinite(magnitude)) return {1, ""};
    for (const Prefix& p : kPrefixes)
        if (magnitude >= p.factor * 0.999999) return p;
    return kPrefixes[std::size(kPrefixes) - 1];
}

QString numberText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", std::abs(v) < 1e-12 ? 0.0 : v);
    return QString::fromUtf8(buf);
}

// What the points falling into one pixel column hold: the extremes of
// their raw values, and for logic the bits set in any of them and in all.
struct Column {
    int x = 0;
    double lo = 0, hi = 0, first = 0, last = 0;
    int64_t anyBits = 0, allBits = -1;
};

// The columns of a data set, found in one pass over the raw values in
// their own type: the picture's cost does not grow with the record beyond
// that pass, and spikes stay visible.
std::vector<Column> columnsOf(const DataSet& s, const Range& t, int x0, int width, bool bits) {
    std::vector<Column> columns;
    const size_t n = s.raw.size();
    const double scale = width / (t.hi - t.lo);
    // x of point i = a * i + b
    const double a = s.block.xIncrement * scale;
    const double b = x0 + (s.Time(0) - t.lo) * scale;
    s.raw.visit([&](auto raw) {
        using T = typename decltype(raw)::value_type;
        size_t i = 0;
        while (i < n) {
            Column c;
            c.x = static_cast<int>(std::floor(a * static_cast<double>(i) + b));
            // The last point of this column: where x reaches the next one.
            size_t end = n;
            if (a > 0) {
                const double next = std::ceil((c.x + 1 - b) / a);
                end =
                    next <= static_cast<double>(i) ? i + 1 : std::min(n, static_cast<size_t>(next));
                while (end < n && std::floor(a * static_cast<double>(end) + b) <= c.x) ++end;
                while (end > i + 1 && std::floor(a * static_cast<double>(end - 1) + b) > c.x) --end;
            }
            T lo = raw[i], hi = raw[i];
            int64_t any = 0, all = -1;
            if (bits) {
                for (size_t k = i; k < end; ++k) {
                    int64_t v;
                    if constexpr (std::is_integral_v<T>)
                        v = raw[k];
                    else
                        v = static_cast<int64_t>(std::llround(raw[k]));
                    any |= v;
                    all &= v;
                }
            } else {
                // Plain enough for the compiler to vectorise.
                for (size_t k = i; k < end; ++k) {
                    lo = std::min(lo, raw[k]);
                    hi = std::max(hi, raw[k]);
                }
            }
            c.lo = static_cast<double>(lo);
            c.hi = static_cast<double>(hi);
            c.first = static_cast<double>(raw[i]);
            c.last = static_cast<double>(raw[end - 1]);
            c.anyBits = any;
            c.allBits = all;
            columns.push_back(c);
            i = end;
        }
    });
    return columns;
}

// Whether a data set is drawn point by point (few points) or by columns.
bool fewPoints(const DataSet& s, int width) {
    return s.raw.size() <= static_cast<size_t>(2 * width);
}

// One trace: a polyline when the points are few, else one vertical stroke
// per pixel column over the column's extent, joined to the previous one.
// extent(column) gives the column's (top, bottom, first y, last y).
template <typename YOfRaw, typename Extent>
void drawTrace(QPainter& p, const DataSet& s, const std::vector<Column>& columns, const Range& t,
               int x0, int width, YOfRaw yOf, Extent extent) {
    const size_t n = s.raw.size();
    if (n == 0) return;
    const double scale = width / (t.hi - t.lo);
    if (fewPoints(s, width)) {
        QPolygonF line;
        line.reserve(static_cast<int>(n));
        for (size_t i = 0; i < n; ++i)
            line << QPointF(x0 + (s.Time(i) - t.lo) * scale, yOf(s.raw[i]));
        p.drawPolyline(line);
        return;
    }
    double previous = 0;
    bool havePrevious = false;
    for (const Column& c : columns) {
        auto [top, bottom, first, last] = extent(c);
        if (havePrevious) {
            top = std::min(top, previous);
            bottom = std::max(bottom, previous);
        }
        (void)first;
        p.drawLine(QPointF(c.x + 0.5, top), QPointF(c.x + 0.5, bottom));
        previous = last;
        havePrevious = true;
    }
}

}  // namespace

std::string FormatWithPrefix(double value, const std::string& unit) {
    const Prefix pre = prefixFor(std::abs(value));
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.4g %s", value / pre.factor, pre.symbol);
    return buf + unit;
}

QImage RenderPlot(const std::vector<DataSet>& sets, const std::string& title) {
    std::vector<const DataSet*> analog, logic;
    Range time, volts;
    int lanes = 0;
    for (const DataSet& s : sets) {
        if (s.raw.empty()) continue;
        time.add(s.Time(0));
        time.add(s.Time(s.raw.size() - 1));
        if (s.kind() == SourceKind::Pod || s.kind() == SourceKind::Bit) {
            logic.push_back(&s);
            lanes += LogicLines(s.block.sourceCode);
        } else {
            analog.push_back(&s);
        }
    }
    if (time.valid() && time.hi == time.lo) time = time.padded(0.5);
    if (!time.valid()) time = Range{0, 1};

    // One pass over each record: its columns, which also give the volts'
    // range (scaling is linear, so the raw extremes are the volts').
    const int plotWidth = kWidth - kLeft - kRight;
    std::map<const DataSet*, std::vector<Column>> columns;
    for (const DataSet* s : analog) {
        if (fewPoints(*s, plotWidth)) {
            for (size_t i = 0; i < s->raw.size(); ++i) volts.add(s->Value(i));
            continue;
        }
        columns[s] = columnsOf(*s, time, kLeft, plotWidth, false);
        for (const Column& c : columns[s]) {
            volts.add(s->block.Value(c.lo));
            volts.add(s->block.Value(c.hi));
        }
    }
    for (const DataSet* s : logic)
        if (!fewPoints(*s, plotWidth)) columns[s] = columnsOf(*s, time, kLeft, plotWidth, true);
    volts = volts.padded(0.08);

    const int analogHeight = analog.empty() && !logic.empty() ? 0 : kAnalogHeight;
    const int logicTop = kTop + analogHeight + (analogHeight ? kGap : 0);
    const int logicHeight = lanes * kLaneHeight;
    const int height = logicTop + logicHeight + kBottom;

    QImage image(kWidth, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    const QFontMetrics fm(font);

    QFont titleFont = font;
    titleFont.setPixelSize(15);
    titleFont.setBold(true);
    p.setFont(titleFont);
    p.setPen(Qt::black);
    p.drawText(QRect(kLeft, 8, plotWidth, 26), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromStdString(title));
    p.setFont(font);

    // Time axis, shared by every panel.
    const Prefix tPre = prefixFor(std::max(std::abs(time.lo), std::abs(time.hi)));
    const double tStep = niceStep(time.hi - time.lo, 10);
    auto xOfTime = [&](double t) {
        return kLeft + (t - time.lo) / (time.hi - time.lo) * plotWidth;
    };
    const int axisY = lanes ? logicTop + logicHeight : kTop + analogHeight;
    for (double t = std::ceil(time.lo / tStep) * tStep; t <= time.hi + tStep * 1e-9; t += tStep) {
        const double x = xOfTime(t);
        p.setPen(QPen(QColor(0xe0, 0xe0, 0xe0), 1));
        p.drawLine(QPointF(x, kTop), QPointF(x, axisY));
        p.setPen(Qt::black);
        p.drawLine(QPointF(x, axisY), QPointF(x, axisY + 5));
        const QString label = numberText(t / tPre.factor);
        p.drawText(QPointF(x - fm.horizontalAdvance(label) / 2.0, axisY + 8 + fm.ascent()), label);
    }
    const QString tLabel = QString::fromUtf8("time (") + QString::fromUtf8(tPre.symbol) + "s)";
    p.drawText(QRect(kLeft, axisY + 26, plotWidth, 22), Qt::AlignHCenter | Qt::AlignVCenter,
               tLabel);

    if (analogHeight) {
        const QRect box(kLeft, kTop, plotWidth, analogHeight);
        const Prefix vPre = prefixFor(std::max(std::abs(volts.lo), std::abs(volts.hi)));
        const double vStep = niceStep(volts.hi - volts.lo, 8);
        auto yOfVolts = [&](double v) {
            return kTop + (volts.hi - v) / (volts.hi - volts.lo) * analogHeight;
        };
        for (double v = std::ceil(volts.lo / vStep) * vStep; v <= volts.hi + vStep * 1e-9;
             v += vStep) {
            const double y = yOfVolts(v);
            p.setPen(QPen(
                std::abs(v) < vStep * 1e-6 ? QColor(0xb0, 0xb0, 0xb0) : QColor(0xe0, 0xe0, 0xe0),
                1));
            p.drawLine(QPointF(kLeft, y), QPointF(kLeft + plotWidth, y));
            p.setPen(Qt::black);
            p.drawLine(QPointF(kLeft - 5, y), QPointF(kLeft, y));
            const QString label = numberText(v / vPre.factor);
            p.drawText(QPointF(kLeft - 8 - fm.horizontalAdvance(label), y + fm.ascent() / 2.0 - 1),
                       label);
        }
        p.save();
        p.translate(18, kTop + analogHeight / 2.0);
        p.rotate(-90);
        const QString vLabel = QString::fromUtf8("volts (") + QString::fromUtf8(vPre.symbol) + "V)";
        p.drawText(QRect(-analogHeight / 2, -10, analogHeight, 20), Qt::AlignCenter, vLabel);
        p.restore();

        p.setClipRect(box);
        for (const DataSet* s : analog) {
            p.setPen(QPen(colorOf(s->block.sourceCode), 1.4));
            const PreambleBlock& b = s->block;
            auto y = [&](double raw) { return yOfVolts(b.Value(raw)); };
            drawTrace(p, *s, columns[s], time, kLeft, plotWidth, y, [&](const Column& c) {
                const double y1 = y(c.lo), y2 = y(c.hi);
                return std::array<double, 4>{std::min(y1, y2), std::max(y1, y2), y(c.first),
                                             y(c.last)};
            });
        }
        p.setClipping(false);
        p.setPen(Qt::black);
        p.drawRect(box);

        // Legend in the top right corner of the analog panel.
        int lx = kLeft + plotWidth - 10;
        for (auto it = analog.rbegin(); it != analog.rend(); ++it) {
            const QString name = QString::fromStdString((*it)->name);
            lx -= fm.horizontalAdvance(name) + 30;
            p.fillRect(QRect(lx, kTop + 10, 16, 4), colorOf((*it)->block.sourceCode));
            p.drawText(QPointF(lx + 20, kTop + 10 + fm.ascent() / 2.0), name);
        }
    }

    int lane = 0;
    for (const DataSet* s : logic) {
        const int lines = LogicLines(s->block.sourceCode);
        for (int bit = 0; bit < lines; ++bit, ++lane) {
            const double top = logicTop + lane * kLaneHeight;
            const double high = top + 4;
            const double low = top + kLaneHeight - 4;
            QString name = QString::fromStdString(s->name);
            if (lines > 1) {
                const int firstLine = s->block.sourceCode == 16 ? 8 : 0;
                name += QString::fromUtf8(" D") + QString::number(firstLine + bit);
            }
            p.setPen(QPen(QColor(0xe8, 0xe8, 0xe8), 1));
            p.drawLine(QPointF(kLeft, top + kLaneHeight),
                       QPointF(kLeft + plotWidth, top + kLaneHeight));
            p.setPen(Qt::black);
            p.drawText(QRect(4, static_cast<int>(top), kLeft - 10, kLaneHeight),
                       Qt::AlignRight | Qt::AlignVCenter, name);
            p.setClipRect(QRect(kLeft, static_cast<int>(top), plotWidth, kLaneHeight));
            p.setPen(QPen(colorOf(s->block.sourceCode), 1.2));
            auto y = [&](double raw) { return ((std::llround(raw) >> bit) & 1) ? high : low; };
            drawTrace(p, *s, columns[s], time, kLeft, plotWidth, y, [&](const Column& c) {
                const bool someHigh = (c.anyBits >> bit) & 1;
                const bool someLow = !((c.allBits >> bit) & 1);
                return std::array<double, 4>{someHigh ? high : low, someLow ? low : high,
                                             y(c.first), y(c.last)};
            });
            p.setClipping(false);
        }
    }
    if (lanes) {
        p.setPen(Qt::black);
        p.drawRect(QRect(kLeft, logicTop, plotWidth, logicHeight));
    }
    if (analog.empty() && logic.empty()) {
        p.setPen(Qt::gray);
        p.drawText(QRect(kLeft, kTop, plotWidth, analogHeight), Qt::AlignCenter,
                   QString::fromUtf8("no waveform data"));
    }
    p.end();
    return image;
}

std::string EncodePng(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        throw Error(kPathError, "Cannot encode the plot as PNG", "wavecatch");
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace cvn::host
