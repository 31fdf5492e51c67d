// The add-in's XYDescription read back per data set: "x units,y units,
// x description,y description" groups, one per listed source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cvn::host {

struct AxisGroup {
    std::string xUnits, yUnits, xLabel, yLabel;
    bool used = false;
};

// The groups of an XYDescription text. The add-in appends one group per
// listed source, even for a source the scope does not show, and nothing but
// the comma for one it does not know: empty fields between groups are
// skipped.
std::vector<AxisGroup> AxisGroups(const std::string& text);
// The group of the source with this code, found by its label (never by
// position) and marked used; when there is none, the usual units ("sec",
// "Volt" or "byte") and no labels.
AxisGroup AxisGroupFor(int32_t code, std::vector<AxisGroup>& groups);
// The source as the add-in's settings name it: "CHAN1", "POD1", "D3", "FUNC".
std::string SettingsSourceName(int32_t code);

}  // namespace cvn::host
