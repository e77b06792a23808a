#include "inspect/codec_identity.h"

#include <cstdio>
#include <span>

#include "base/dialog_port.h"
#include "stream/stream_file.h"
#include "stream/ts_source.h"

namespace tarnwell {

namespace {

struct Named {
  int32_t value;
  const char* text;
};

constexpr Named kProfiles[] = {{66, "Baseline"}, {77, "Main"},        {88, "Extended"},   {100, "High"},
                               {110, "High 10"}, {122, "High 4:2:2"}, {144, "High 4:4:4"}};
constexpr Named kLevels[] = {{10, "1"},   {11, "1.1"}, {12, "1.2"}, {13, "1.3"}, {20, "2"},
                             {21, "2.1"}, {22, "2.2"}, {30, "3"},   {31, "3.1"}, {32, "3.2"},
                             {40, "4"},   {41, "4.1"}, {42, "4.2"}, {50, "5"},   {51, "5.1"}};

// The table's text for `value`, else "reserved [value]".
std::string name_of(std::span<const Named> table, int32_t value) {
  for (const Named& named : table) {
    if (named.value == value) return named.text;
  }
  char text[32];
  std::snprintf(text, sizeof text, "reserved [%d]", value);
  return text;
}

template <typename Input>
void probe_stream(ApplicationContext& context, Input& file) {
  ParsingState& parsing = context.parsing;
  parsing.reset_parsing_state();
  parsing.begin_stream(file);
  parsing.next_picture();

  const ParameterSets& sets = parsing.paramsets();
  context.dialog.set_text(kEditProfile, profile_text(sets.last_profile_idc()));
  context.dialog.set_text(kEditLevel, level_text(sets.last_level_idc(), sets.last_constraint_set3_flag()));
}

// The probe of an input the caller opened, once the parsing state is free.
template <typename Input>
ProbeResult probe_when_free(ApplicationContext& context, Input& input) {
  ApplicationContext::ParsingLease lease = context.try_take_parsing();
  if (!lease) {
    context.request_probe_after_release();
    return ProbeResult::Busy;
  }
  probe_stream(context, input);
  return ProbeResult::Shown;
}

}  // namespace

std::string profile_text(int32_t profile_idc) { return name_of(kProfiles, profile_idc); }

std::string level_text(int32_t level_idc, int32_t constrained_set3_flag) {
  if (level_idc == 9 || (level_idc == 11 && constrained_set3_flag == 1)) return "1b";
  return name_of(kLevels, level_idc);
}

ProbeResult probe_profile_level(ApplicationContext& context) {
  ApplicationContext::ParsingLease lease = context.try_take_parsing();
  if (!lease) {
    context.request_probe_after_release();
    return ProbeResult::Busy;
  }
  std::FILE* file = open_stream_file(context.shared.stream_path.c_str());
  if (file == nullptr) {
    context.dialog.message_box("Cannot open input file", caption_of(BoxKind::Error), BoxKind::Error);
    return ProbeResult::CannotOpen;
  }
  // A transport stream is probed through its default H.264 stream.
  TsFileReading ts;
  if (ts.begin(file, [&context](const char* text) { context.reporter.notify_error("%s", text); })) {
    if (ts.source() != nullptr) {
      probe_stream(context, *ts.source());
    } else {
      context.dialog.set_text(kEditProfile, "");
      context.dialog.set_text(kEditLevel, "");
      context.dialog.message_box(ts.refusal(), caption_of(BoxKind::Warning), BoxKind::Warning);
    }
  } else {
    probe_stream(context, file);
  }
  std::fclose(file);
  return ProbeResult::Shown;
}

ProbeResult probe_profile_level(ApplicationContext& context, std::FILE* stream) {
  return probe_when_free(context, stream);
}

ProbeResult probe_profile_level(ApplicationContext& context, ByteSource& source) {
  return probe_when_free(context, source);
}

}  // namespace tarnwell
