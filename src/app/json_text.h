#pragma once
// Text as a JSON string, quotes included: the one escaping every JSON output
// of tarnwell-cli uses.
#include <string>
#include <string_view>

namespace tarnwell {

std::string json_string(std::string_view text);

}  // namespace tarnwell
