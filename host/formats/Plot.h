// The picture of a capture: analog traces in volts over seconds on labelled
// axes, pods and single bits as logic lanes below them, one time axis for
// all. Drawn with QPainter into a QImage; a QGuiApplication must exist
// (fonts), see GuiApp.h.
#pragma once

#include <QImage>
#include <string>
#include <vector>

#include "host/Scaling.h"

namespace cvn::host {

QImage RenderPlot(const std::vector<DataSet>& sets, const std::string& title);
// PNG bytes of the image; throws cvn::Error when encoding fails.
std::string EncodePng(const QImage& image);

// "2.5 ms", "-400 mV": value with a metric prefix and unit.
std::string FormatWithPrefix(double value, const std::string& unit);

}  // namespace cvn::host
