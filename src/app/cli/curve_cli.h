#pragma once
// tarnwell-cli curve FILE: the console dialog, the context and Ctrl-C around
// run_curve, as check has them.
#include <string>

#include "app/cli_options.h"
#include "app/curve_command.h"

namespace tarnwell {

int run_curve_cli(const std::string& file, const CurveRequest& request, WarningPolicy warnings);

}  // namespace tarnwell
