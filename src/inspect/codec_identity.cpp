#include "inspect/codec_identity.h"

#include <cstdio>

#include "base/dialog_port.h"
#include "stream/stream_file.h"
#include "stream/ts_source.h"

namespace tarnwell {

namespace {

std::string reserved(int32_t value) {
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

std::string profile_text(int32_t profile_idc) {
  switch (profile_idc) {
    case 66: return "Baseline";
    case 77: return "Main";
    case 88: return "Extended";
    case 100: return "High";
    case 110: return "High 10";
    case 122: return "High 4:2:2";
    case 144: return "High 4:4:4";
    default: return reserved(profile_idc);
  }
}

std::string level_text(int32_t level_idc, int32_t constrained_set3_flag) {
  if (level_idc == 9 || (level_idc == 11 && constrained_set3_flag == 1)) return "1b";
  switch (level_idc) {
    case 10: return "1";
    case 11: return "1.1";
    case 12: return "1.2";
    case 13: return "1.3";
    case 20: return "2";
    case 21: return "2.1";
    case 22: return "2.2";
    case 30: return "3";
    case 31: return "3.1";
    case 32: return "3.2";
    case 40: return "4";
    case 41: return "4.1";
    case 42: return "4.2";
    case 50: return "5";
    case 51: return "5.1";
    default: return reserved(level_idc);
  }
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
