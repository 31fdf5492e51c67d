// Screen picture of the simulated scope, drawn without any graphics library.
#include "apps/halvio-sim/ScreenImage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "apps/halvio-sim/WaveformData.h"

namespace cvn::sim {
namespace {

enum Colour : uint8_t {
    kBackground,
    kGrid,
    kAxis,
    kChan1,
    kChan2,
    kChan3,
    kChan4,
    kFunction,
    kPod,
    kCount
};

constexpr std::array<std::array<uint8_t, 3>, kCount> kPalette = {{
    {0, 0, 0},        // background
    {70, 70, 70},     // grid dots
    {140, 140, 140},  // centre axes
    {240, 220, 0},    // channel 1
    {0, 220, 80},     // channel 2
    {60, 140, 255},   // channel 3
    {255, 60, 60},    // channel 4
    {200, 80, 255},   // function
    {0, 200, 200},    // pods
}};

constexpr int kDivX = 10;
constexpr int kDivY = 8;

class Canvas {
public:
    Canvas() : px_(static_cast<size_t>(kScreenWidth) * kScreenHeight, kBackground) {}
    void Set(int x, int y, uint8_t c) {
        if (x >= 0 && x < kScreenWidth && y >= 0 && y < kScreenHeight)
            px_[static_cast<size_t>(y) * kScreenWidth + x] = c;
    }
    void VLine(int x, int y0, int y1, uint8_t c) {
        if (y0 > y1) std::swap(y0, y1);
        for (int y = y0; y <= y1; ++y) Set(x, y, c);
    }
    uint8_t At(int x, int y) const { return px_[static_cast<size_t>(y) * kScreenWidth + x]; }

private:
    std::vector<uint8_t> px_;
};

void DrawGraticule(Canvas& c) {
    for (int d = 0; d <= kDivX; ++d) {
        const int x = std::min(kScreenWidth - 1, d * kScreenWidth / kDivX);
        for (int y = 0; y < kScreenHeight; y += 4) c.Set(x, y, kGrid);
    }
    for (int d = 0; d <= kDivY; ++d) {
        const int y = std::min(kScreenHeight - 1, d * kScreenHeight / kDivY);
        for (int x = 0; x < kScreenWidth; x += 4) c.Set(x, y, kGrid);
    }
    for (int x = 0; x < kScreenWidth; ++x) c.Set(x, kScreenHeight / 2, kAxis);
    for (int y = 0; y < kScreenHeight; ++y) c.Set(kScreenWidth / 2, y, kAxis);
}

// One column per pixel, joined to the previous column by a vertical run.
template <typename YOf>
void DrawTrace(Canvas& c, uint8_t colour, YOf yOf) {
    int prev = yOf(0);
    for (int x = 0; x < kScreenWidth; ++x) {
        const int y = yOf(x);
        c.VLine(x, prev, y, colour);
        prev = y;
    }
}

void Put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::string RenderScreenBmp(const ScopeState& state, bool inverted) {
    Canvas canvas;
    DrawGraticule(canvas);
    const double range = 10.0 * state.timebaseScale;
    const double t0 = state.timebasePosition - range / 2;
    auto timeAt = [&](int x) { return t0 + range * x / kScreenWidth; };
    const double pixelsPerDiv = static_cast<double>(kScreenHeight) / kDivY;

    for (int ch = 1; ch <= state.model.channels; ++ch) {
        if (!state.channelDisplay[ch - 1]) continue;
        const Source s{SourceKind::Channel, ch};
        const double scale = state.channelScale[ch - 1];
        const double offset = state.channelOffset[ch - 1];
        DrawTrace(canvas, static_cast<uint8_t>(kChan1 + ch - 1), [&](int x) {
            const double v = (SourceVolts(state, s, timeAt(x)) - offset) / scale;
            return static_cast<int>(std::lround(kScreenHeight / 2.0 - v * pixelsPerDiv));
        });
    }
    for (int f = 1; f <= ScopeState::kFunctions; ++f) {
        if (!state.functionDisplay[f - 1]) continue;
        const Source s{SourceKind::Function, f};
        DrawTrace(canvas, kFunction, [&](int x) {
            return static_cast<int>(
                std::lround(kScreenHeight / 2.0 - SourceVolts(state, s, timeAt(x)) * pixelsPerDiv));
        });
    }
    // Digital lines sit in the lower quarter, one thin lane per bit.
    int lane = 0;
    for (int pod = 1; pod <= ScopeState::kPods; ++pod) {
        if (!state.model.hasPods || !state.podDisplay[pod - 1]) continue;
        for (int bit = 0; bit < 8; ++bit, ++lane) {
            const int base = kScreenHeight - 8 - lane * 7;
            DrawTrace(canvas, kPod, [&](int x) {
                const size_t sample = static_cast<size_t>(x) * 4;
                return base - static_cast<int>((PodPattern(pod, sample) >> bit) & 1u) * 4;
            });
        }
    }

    const uint32_t rowBytes = (kScreenWidth + 3u) & ~3u;
    const uint32_t pixelOffset = 14 + 40 + 256 * 4;
    const uint32_t fileSize = pixelOffset + rowBytes * kScreenHeight;
    std::string bmp;
    bmp.reserve(fileSize);
    bmp += "BM";
    Put32(bmp, fileSize);
    Put32(bmp, 0);
    Put32(bmp, pixelOffset);
    Put32(bmp, 40);
    Put32(bmp, kScreenWidth);
    Put32(bmp, kScreenHeight);
    Put16(bmp, 1);
    Put16(bmp, 8);
    Put32(bmp, 0);  // no compression
    Put32(bmp, rowBytes * kScreenHeight);
    Put32(bmp, 2835);  // 72 dpi
    Put32(bmp, 2835);
    Put32(bmp, 256);
    Put32(bmp, 0);
    for (int i = 0; i < 256; ++i) {
        std::array<uint8_t, 3> rgb =
            i < kCount ? kPalette[static_cast<size_t>(i)] : std::array<uint8_t, 3>{0, 0, 0};
        if (inverted) {
            for (auto& v : rgb) v = static_cast<uint8_t>(255 - v);
        }
        bmp += static_cast<char>(rgb[2]);
        bmp += static_cast<char>(rgb[1]);
        bmp += static_cast<char>(rgb[0]);
        bmp += '\0';
    }
    for (int y = kScreenHeight - 1; y >= 0; --y) {  // bottom-up rows
        for (int x = 0; x < kScreenWidth; ++x) bmp += static_cast<char>(canvas.At(x, y));
        for (uint32_t p = kScreenWidth; p < rowBytes; ++p) bmp += '\0';
    }
    return bmp;
}

}  // namespace cvn::sim
