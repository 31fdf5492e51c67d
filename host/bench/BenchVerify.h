// Reading the scope's measurements that capture --verify compares with the
// data: the Measurement tab's sequence on the current (stopped)
// acquisition, once per analog data set.
#pragma once

#include <vector>

#include "host/Scaling.h"
#include "host/Verify.h"
#include "host/bench/Bench.h"

namespace cvn::host {

// Opens the scope at target and, for each analog data set (CH1..CH4, FUNC
// as MATH), asks the verified rows of that source without a new
// acquisition, then compares. A channel the scope cannot measure gives a
// failed row; a function it does not measure is skipped. Pods and bits
// have no voltages to compare and give no rows. The shared session is
// closed afterwards. Message boxes go to the UI services in use.
std::vector<VerifyRow> VerifyWithScope(const BenchTarget& target, const std::vector<DataSet>& sets);

}  // namespace cvn::host
