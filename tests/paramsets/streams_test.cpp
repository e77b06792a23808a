// The parameter sets of the real streams: every SPS and PPS parses exactly up
// to its stop bit and is stored, activation and the SEI walk run silently,
// the profile and level in front of the first slice are the manifest's, and
// the x264 stream's HRD block and frame rate come out as encoded.
#include <gtest/gtest.h>

#include <string>

#include "paramsets_fixture.h"
#include "stream/nal_reader.h"
#include "support/stream_manifest.h"

namespace tarnwell::test {
namespace {

BitReader rbsp_reader(const NalUnit& nal) {
  const uint8_t* data = nal.bytes + 1;
  return make_bit_reader(data, rbsp_data_length(data, nal.length - 1), nal.readable - 1);
}

// Runs the parameter-set side of a pass over a whole stream, as the picture
// assembler dispatches it, and checks each parameter set on the way.
class StreamPass : public ParamSetsTest {
 protected:
  void SetUp() override {
    ASSERT_NE(stderr_file.get(), nullptr);
    reporter.set_stderr_stream(stderr_file.get());
  }

  struct FirstSlice {
    bool seen = false;
    uint32_t profile_idc = 0;
    uint32_t level_idc = 0;
    uint32_t constrained_set3_flag = 0;
  };

  FirstSlice run(const std::string& file) {
    FirstSlice first;
    std::FILE* in = std::fopen(stream_path(file).c_str(), "rb");
    EXPECT_NE(in, nullptr) << file;
    if (in == nullptr) return first;
    NalReader reader(reporter);
    reader.reset();
    reader.begin_stream(in);
    NalUnit nal;
    while (reader.GetAnnexbNALU(nal) == 1) {
      reader.prepare(nal);
      if (nal.forbidden_zero_bit != 0) continue;
      switch (nal.nal_unit_type) {
        case 7: check_sps(nal); break;
        case 8: check_pps(nal); break;
        case 6: sets.process_sei_nal(nal); break;
        case 1:
        case 5: {
          if (!first.seen) {
            first = {true, sets.last_profile_idc(), sets.last_level_idc(), sets.last_constraint_set3_flag()};
          }
          BitReader slice = rbsp_reader(nal);
          read_ue("SH: first_mb_in_slice", slice);
          read_ue("SH: slice_type", slice);
          sets.use_parameter_sets(static_cast<uint32_t>(read_ue("SH: pic_parameter_set_id", slice)));
          ++slices;
          break;
        }
        default: break;
      }
    }
    std::fclose(in);
    return first;
  }

  void check_sps(const NalUnit& nal) {
    sets.process_sps_nal(nal);
    ++sps_count;
    // Parse it again on the side: it ends on its stop bit and is what the
    // table now holds.
    SeqParamSet copy;
    BitReader reader = rbsp_reader(nal);
    sets.parse_sps(reader, copy);
    ASSERT_EQ(copy.valid, 1u);
    EXPECT_EQ(more_rbsp_data(reader), 0) << "SPS " << copy.seq_parameter_set_id;
    ASSERT_LT(copy.seq_parameter_set_id, kSpsSlots);
    EXPECT_EQ(sps_equal(copy, sps_slot(copy.seq_parameter_set_id)), 1);
  }

  void check_pps(const NalUnit& nal) {
    sets.process_pps_nal(nal);
    ++pps_count;
    std::unique_ptr<PicParamSet> copy = sets.AllocPPS();
    ASSERT_NE(copy, nullptr);
    BitReader reader = rbsp_reader(nal);
    parse_pps(reader, *copy, SyntaxDialect::kCheck);
    EXPECT_EQ(more_rbsp_data(reader), 0) << "PPS " << copy->pic_parameter_set_id;
    ASSERT_LT(copy->pic_parameter_set_id, kPpsSlots);
    EXPECT_EQ(pps_equal(*copy, pps_slot(copy->pic_parameter_set_id)), 1);
  }

  TempFile stderr_file;
  int sps_count = 0;
  int pps_count = 0;
  int slices = 0;
};

class ManifestStream : public StreamPass, public ::testing::WithParamInterface<ManifestRow> {};

TEST_P(ManifestStream, ParameterSetsParseAndProfileLevelMatchTheManifest) {
  const ManifestRow& row = GetParam();
  FirstSlice first = run(row.file);
  EXPECT_GT(sps_count, 0);
  EXPECT_GT(pps_count, 0);
  if (!first.seen) {
    // No slice at all: what the whole stream left.
    first = {false, sets.last_profile_idc(), sets.last_level_idc(), sets.last_constraint_set3_flag()};
  } else {
    EXPECT_GT(slices, 0);
  }
  EXPECT_EQ(first.profile_idc, row.profile_idc);
  EXPECT_EQ(first.level_idc, row.level_idc);
  EXPECT_EQ(first.constrained_set3_flag, row.constraint_set3_flag);
  // No parameter set, activation or SEI message found anything to report.
  EXPECT_TRUE(messages().empty()) << (messages().empty() ? "" : messages().front());
}

INSTANTIATE_TEST_SUITE_P(Streams, ManifestStream, ::testing::ValuesIn(read_manifest()), row_name);

TEST_F(StreamPass, X264HrdBlockAndFrameRate) {
  std::vector<SeqParamSet> heard;
  sets.set_sps_listener([&heard](const SeqParamSet& sps) { heard.push_back(sps); });
  run("x264_cbr_1000k_25fps.264");

  // What the HRD report prints from: the first SPS's NAL block, no VCL block.
  ASSERT_FALSE(heard.empty());
  const VuiParameters& first = heard[0].vui;
  ASSERT_EQ(first.nal_hrd_parameters_present_flag, 1u);
  EXPECT_EQ(first.nal_hrd.bit_rate_value_minus1[0], 15624u);
  EXPECT_EQ(hrd_bit_rate(first.nal_hrd, 0), 1000000u);
  EXPECT_EQ(first.nal_hrd.cpb_size_value_minus1[0], 15624u);
  EXPECT_EQ(hrd_cpb_size(first.nal_hrd, 0), 1000000u);
  EXPECT_EQ(first.vcl_hrd_parameters_present_flag, 0u);
  EXPECT_EQ(frame_rate.frame_rate_num, 50u);
  EXPECT_EQ(frame_rate.frame_rate_den, 2u);
  const SeqParamSet& sps = *sets.active_sps();
  EXPECT_EQ(sps.vui.nal_hrd_parameters_present_flag, 1u);
  EXPECT_EQ(sps.vui.time_scale, 50u);
  EXPECT_EQ(sps.vui.num_units_in_tick, 1u);
  EXPECT_EQ(sps.vui.fixed_frame_rate_flag, 1u);
  // The picture timing message in front of the first slice meets no active SPS.
  EXPECT_EQ(stderr_file.text(), "Warning: no active SPS, timing SEI cannot be parsed\n");
  EXPECT_TRUE(messages().empty());
}

}  // namespace
}  // namespace tarnwell::test
