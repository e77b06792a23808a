#pragma once
// Shows the profile and level of the stream just named, before any check:
// parses the stream up to its first coded picture and writes two texts into
// the read-only edits 1016 and 1017.
#include <cstdint>
#include <cstdio>
#include <string>

#include "context/application_context.h"
#include "stream/byte_source.h"

namespace tarnwell {

std::string profile_text(int32_t profile_idc);
std::string level_text(int32_t level_idc, int32_t constrained_set3_flag);

enum class ProbeResult { Shown, CannotOpen, Busy };

// Busy: another user holds the parsing state; the probe asks to run again
// when it lets go and changes nothing now.
ProbeResult probe_profile_level(ApplicationContext& context);
// The same over a stream the caller has opened (and closes): read from its
// current position.
ProbeResult probe_profile_level(ApplicationContext& context, std::FILE* stream);
// The same over `source`, from where it stands.
ProbeResult probe_profile_level(ApplicationContext& context, ByteSource& source);

}  // namespace tarnwell
