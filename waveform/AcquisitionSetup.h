// Before a maximum-points transfer: the scope delivers its whole record
// only in the main time base without averaging, so offer to set that up.
#pragma once

namespace cvn {

// Asks the scope (over gSession) and, when the set-up is unsuitable, asks
// the user: Yes changes it and makes a new acquisition, No goes on, Cancel
// sets cancel. A failed query throws; cancel is then unchanged.
void CheckMaxPointsSetup(bool& cancel);

}  // namespace cvn
