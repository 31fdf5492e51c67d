// Screen picture of the simulated scope, painted with QtGui on a raster
// image, so it needs no display.
#include "sim/instrument/ScreenImage.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <vector>

#include "sim/instrument/ScpiParser.h"
#include "sim/instrument/WaveformData.h"

namespace cvn::sim {
namespace {

constexpr int kDivX = 10;
constexpr int kDivY = 8;
constexpr int kStatusHeight = 22;
constexpr int kLabelHeight = 58;
constexpr int kPodAreaHeight = 120;

struct Palette {
    QColor background, grid, axis, text, frame;
    QColor channel[ScopeState::kMaxChannels];
    QColor function, pod;
};

QColor Invert(const QColor& c) {
    return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue());
}

Palette MakePalette(bool inverted) {
    Palette p{QColor(0, 0, 0),
              QColor(70, 70, 70),
              QColor(140, 140, 140),
              QColor(230, 230, 230),
              QColor(110, 110, 110),
              {QColor(240, 220, 0), QColor(0, 220, 80), QColor(60, 140, 255), QColor(255, 60, 60)},
              QColor(200, 80, 255),
              QColor(0, 200, 200)};
    if (!inverted) return p;
    Palette q{Invert(p.background), Invert(p.grid),  Invert(p.axis),
              Invert(p.text),       Invert(p.frame), {},
              Invert(p.function),   Invert(p.pod)};
    for (int i = 0; i < ScopeState::kMaxChannels; ++i) q.channel[i] = Invert(p.channel[i]);
    return q;
}

// "500mV", "2.00ms", "20dB": a value with a metric prefix for the labels.
QString Engineering(double v, const char* unit) {
    static const char* const kPrefixes[] = {"p", "n", "u", "m", "", "k", "M", "G"};
    int index = 4;
    double a = std::fabs(v);
    while (a != 0 && a < 1 && index > 0) {
        a *= 1000;
        --index;
    }
    while (a >= 1000 && index < 7) {
        a /= 1000;
        ++index;
    }
    const QString number = QString::number(v < 0 ? -a : a, 'g', 3);
    return number + kPrefixes[index] + unit;
}

class Screen {
public:
    Screen(const ScopeState& state, bool inverted)
        : state_(state),
          palette_(MakePalette(inverted)),
          image_(kScreenWidth, kScreenHeight, QImage::Format_RGB32) {
        image_.fill(palette_.background);
        // Fonts need the application's font database; a bare process gets
        // the same picture without labels.
        labels_ = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
        bool anyPod = false;
        for (int p = 0; p < ScopeState::kPods; ++p)
            anyPod = anyPod || (state.model.hasPods && state.podDisplay[p]);
        const int bottom = kScreenHeight - kLabelHeight;
        analog_ = QRect(0, kStatusHeight, kScreenWidth,
                        bottom - kStatusHeight - (anyPod ? kPodAreaHeight : 0));
        digital_ = QRect(0, analog_.bottom() + 1, kScreenWidth, anyPod ? kPodAreaHeight : 0);
    }

    void Draw() {
        QPainter painter(&image_);
        painter.setRenderHint(QPainter::Antialiasing, false);
        DrawGraticule(painter);
        for (int ch = 1; ch <= state_.model.channels; ++ch) {
            if (!state_.channelDisplay[ch - 1]) continue;
            DrawAnalog(painter, Source{SourceKind::Channel, ch}, palette_.channel[ch - 1]);
        }
        for (int f = 1; f <= ScopeState::kFunctions; ++f) {
            if (!state_.functionDisplay[f - 1]) continue;
            DrawAnalog(painter, Source{SourceKind::Function, f}, palette_.function);
        }
        DrawPods(painter);
        if (labels_) DrawLabels(painter);
    }

    std::string Bmp() const {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image_.save(&buffer, "BMP");
        return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
    }

private:
    void DrawGraticule(QPainter& p) {
        const double dx = static_cast<double>(analog_.width()) / kDivX;
        const double dy = static_cast<double>(analog_.height()) / kDivY;
        // Dotted division lines, with small ticks on the centre axes.
        for (int d = 1; d < kDivX; ++d) {
            const int x = analog_.left() + static_cast<int>(std::lround(d * dx));
            for (int y = analog_.top(); y <= analog_.bottom(); y += 4)
                image_.setPixelColor(x, y, palette_.grid);
        }
        for (int d = 1; d < kDivY; ++d) {
            const int y = analog_.top() + static_cast<int>(std::lround(d * dy));
            for (int x = analog_.left(); x <= analog_.right(); x += 4)
                image_.setPixelColor(x, y, palette_.grid);
        }
        p.setPen(QPen(palette_.axis, 1));
        const int cx = analog_.left() + analog_.width() / 2;
        const int cy = analog_.top() + analog_.height() / 2;
        p.drawLine(cx, analog_.top(), cx, analog_.bottom());
        p.drawLine(analog_.left(), cy, analog_.right(), cy);
        for (int k = 0; k < kDivX * 5; ++k) {
            const int x = analog_.left() + static_cast<int>(std::lround(k * dx / 5));
            p.drawLine(x, cy - 3, x, cy + 3);
        }
        for (int k = 0; k < kDivY * 5; ++k) {
            const int y = analog_.top() + static_cast<int>(std::lround(k * dy / 5));
            p.drawLine(cx - 3, y, cx + 3, y);
        }
        p.setPen(QPen(palette_.frame, 1));
        p.drawRect(analog_.adjusted(0, 0, -1, -1));
        if (digital_.height() > 0) p.drawRect(digital_.adjusted(0, 0, -1, -1));
    }

    // One sample per pixel column, scaled as the waveform data is.
    void DrawAnalog(QPainter& p, const Source& s, const QColor& colour) {
        const Scaling sc = ScalingOf(state_, s);
        SourceSampler sampler(state_, s, kScreenWidth);
        std::vector<double> v(kScreenWidth);
        sampler.Fill(0, v.size(), v.data());
        const double pixelsPerDiv = static_cast<double>(analog_.height()) / kDivY;
        const double centre = analog_.top() + analog_.height() / 2.0;
        QPolygonF line;
        for (int x = 0; x < kScreenWidth; ++x) {
            const double divs = (v[static_cast<size_t>(x)] - sc.offset) / sc.scale;
            const double y =
                std::clamp(centre - divs * pixelsPerDiv, static_cast<double>(analog_.top()),
                           static_cast<double>(analog_.bottom()));
            line << QPointF(x, y);
        }
        p.setPen(QPen(colour, 1));
        p.drawPolyline(line);
    }

    void DrawPods(QPainter& p) {
        std::vector<std::pair<int, int>> lanes;  // pod, bit
        for (int pod = 1; pod <= ScopeState::kPods; ++pod) {
            if (!state_.model.hasPods || !state_.podDisplay[pod - 1]) continue;
            for (int bit = 0; bit < 8; ++bit) lanes.emplace_back(pod, bit);
        }
        if (lanes.empty()) return;
        const double laneHeight = static_cast<double>(digital_.height()) / lanes.size();
        const double high = std::max(2.0, laneHeight * 0.6);
        p.setPen(QPen(palette_.pod, 1));
        for (size_t k = 0; k < lanes.size(); ++k) {
            const auto [pod, bit] = lanes[k];
            const double base = digital_.top() + laneHeight * (k + 1) - laneHeight * 0.2;
            QPolygonF line;
            for (int x = 0; x < kScreenWidth; ++x) {
                const unsigned level =
                    (PodPattern(state_, pod, static_cast<size_t>(x)) >> bit) & 1u;
                const double y = base - level * high;
                if (!line.isEmpty() && line.back().y() != y) line << QPointF(x, line.back().y());
                line << QPointF(x, y);
            }
            p.drawPolyline(line);
        }
    }

    void DrawLabels(QPainter& p) {
        QFont font("DejaVu Sans");
        font.setPixelSize(13);
        p.setFont(font);
        p.setPen(palette_.text);
        const QRect status(6, 0, kScreenWidth - 12, kStatusHeight);
        p.drawText(status, Qt::AlignVCenter | Qt::AlignLeft,
                   QString("CORVANE  %1").arg(QString::fromStdString(state_.model.id)));
        p.drawText(status, Qt::AlignVCenter | Qt::AlignRight,
                   QString("%1   %2/   pos %3")
                       .arg(state_.run == RunState::Running ? "Run" : "Stop")
                       .arg(Engineering(state_.timebaseScale, "s"))
                       .arg(Engineering(state_.timebasePosition, "s")));
        int x = 6;
        const int y = kScreenHeight - kLabelHeight + 6;
        for (int ch = 1; ch <= state_.model.channels; ++ch) {
            if (!state_.channelDisplay[ch - 1]) continue;
            p.setPen(palette_.channel[ch - 1]);
            p.drawText(QRect(x, y, 190, 20), Qt::AlignLeft,
                       QString("%1  %2/  %3")
                           .arg(ch)
                           .arg(Engineering(state_.channelScale[ch - 1], "V"))
                           .arg(Engineering(state_.channelOffset[ch - 1], "V")));
            x += 196;
        }
        x = 6;
        for (int f = 1; f <= ScopeState::kFunctions; ++f) {
            if (!state_.functionDisplay[f - 1]) continue;
            const Scaling sc = ScalingOf(state_, Source{SourceKind::Function, f});
            const std::string& op = state_.functionOperator[f - 1];
            const char* unit = op == "FFT"             ? "dB"
                               : op == "DIFFERENTIATE" ? "V/s"
                               : op == "INTEGRATE"     ? "Vs"
                               : op == "MULTIPLY"      ? "VV"
                                                       : "V";
            p.setPen(palette_.function);
            p.drawText(QRect(x, y + 24, 250, 20), Qt::AlignLeft,
                       QString("F%1 %2 %3  %4/")
                           .arg(f)
                           .arg(QString::fromStdString(state_.functionOperator[f - 1]))
                           .arg(QString::fromStdString(state_.functionOperands[f - 1]))
                           .arg(Engineering(sc.scale, unit)));
            x += 256;
        }
        QStringList pods;
        for (int pod = 1; pod <= ScopeState::kPods; ++pod) {
            if (!state_.model.hasPods || !state_.podDisplay[pod - 1]) continue;
            pods << (pod == 1 ? QString("POD1 D0-D7") : QString("POD2 D8-D15"));
        }
        if (!pods.isEmpty()) {
            p.setPen(palette_.pod);
            p.drawText(QRect(kScreenWidth - 240, y + 24, 234, 20), Qt::AlignRight,
                       pods.join("   "));
        }
    }

    const ScopeState& state_;
    Palette palette_;
    QImage image_;
    QRect analog_, digital_;
    bool labels_ = false;
};

}  // namespace

std::string RenderScreenBmp(const ScopeState& state, bool inverted) {
    Screen screen(state, inverted);
    screen.Draw();
    return screen.Bmp();
}

}  // namespace cvn::sim
