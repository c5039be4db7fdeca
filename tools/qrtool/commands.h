// qrtool: the entry points of the commands.
#pragma once

#include <string>
#include <vector>

#include "cli.h"

namespace qrtool {

using Args = std::vector<std::string>;

int runLine(const Options& options, const Args& args);
int runFlight(const Options& options, const Args& args);
int runInsert(const Options& options, const Args& args);
int runRemove(const Options& options, const Args& args);
int runMove(const Options& options, const Args& args);
int runZero(const Options& options, const Args& args);
int runRecover(const Options& options, const Args& args);
int runView(const Options& options, const Args& args);
int runColumns(const Options& options, const Args& args);
int runScan(const Options& options, const Args& args);
int runAngle(const Options& options, const Args& args);
int runEbcdicToAscii(const Options& options, const Args& args);
int runAsciiToEbcdic(const Options& options, const Args& args);
int runBcd(const Options& options, const Args& args);
int runSample(const Options& options, const Args& args);
int runSegy(const Options& options, const Args& args);

}  // namespace qrtool
