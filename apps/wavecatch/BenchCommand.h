// What the bench commands (measure, setup, screen, find, scpi) share: the
// options every one takes, the instrument they address, and one way to
// turn a failure into "wavecatch: <what failed>: <why>" and exit code 1.
#pragma once

#include <functional>
#include <ostream>
#include <set>
#include <string>

#include "apps/wavecatch/CommandLine.h"
#include "host/ConsoleUi.h"
#include "host/bench/Bench.h"

namespace cvn::host {

// Options of every bench command, added to each command's own.
std::set<std::string> BenchValueOptions(std::set<std::string> own);
std::set<std::string> BenchFlagOptions(std::set<std::string> own);

BenchTarget TargetOf(const ParsedArgs& p);

// Runs body with the add-in's message boxes going to err as text lines.
// A cvn::Error or other failure is printed as "wavecatch: <what>: <why>"
// and gives exit code 1; a UsageError passes on (exit code 2). The shared
// session is closed afterwards.
int RunBenchCommand(std::ostream& err, const std::string& what, const std::function<int()>& body);

}  // namespace cvn::host
