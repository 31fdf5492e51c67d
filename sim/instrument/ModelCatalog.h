// The simulator's own datasheet of the Halvio range: which models exist,
// how many analog channels each has, which carry the logic pods, which
// family streams waveforms and how much memory it holds. Kept apart from
// the add-in's model table on purpose: the simulator plays the instrument,
// so a wrong entry in the add-in's table shows up as a failing test instead
// of being mirrored here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cvn::sim {

struct CatalogModel {
    std::string id;
    int channels = 4;
    bool hasPods = false;
    bool streamingFamily = false;
    long maxRecordLength = 8'000'000;
};

// Every model of the range, in the order the product line lists them.
const std::vector<CatalogModel>& ModelCatalog();
// The catalogue's entry for id (letter case ignored); an identifier outside
// the range is read by the range's naming rules, so tests can present models
// that no table knows.
CatalogModel LookUpModel(std::string_view id);

}  // namespace cvn::sim
