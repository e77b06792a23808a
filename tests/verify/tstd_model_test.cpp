// The T-STD model fed with hand-built packets and access units, its times
// and contents worked out by hand from the leak rules: with BitRate
// 1,500,000 a byte leaves TB every 180,000,000 / 1,500,000 = 120 ticks; with
// Rbx 2,160,000 bit/s a byte leaves MB every 216,000,000 / 2,160,000 = 100.
#include "verify/tstd_model.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnwell {
namespace {

TstdParams params(uint64_t eb_bytes) {
  TstdParams p;
  p.bit_rate = 1500000;
  p.max_br_bits = 2160000;
  p.max_cpb_bits = 2400000;
  p.eb_size_bits = eb_bytes * 8;
  return p;
}

TstdPacket packet(uint64_t number, Ticks arrival, Ticks byte_time, uint32_t pes, uint32_t es, uint64_t es_begin) {
  TstdPacket p;
  p.number = number;
  p.arrival = arrival;
  p.byte_time = byte_time;
  p.header_bytes = 188 - pes - es;
  p.pes_header_bytes = pes;
  p.es_bytes = es;
  p.es_begin = es_begin;
  return p;
}

TstdAccessUnit unit(uint64_t index, uint64_t begin, uint64_t end, int64_t dts) {
  return TstdAccessUnit{index, begin, end, dts};
}

struct Recorded {
  std::vector<TstdTraceRow> rows;
  TstdObserver observer() {
    TstdObserver o;
    o.row = [this](const TstdTraceRow& r) { rows.push_back(r); };
    return o;
  }
};

TEST(TstdModelTest, TbFillsWhenPacketsComeFasterThanItLeaks) {
  TstdModel model(params(100000), 10);
  // A byte a tick: after three packets 564 bytes came and floor(563 / 120) = 4 left.
  for (uint64_t i = 0; i < 3; ++i) {
    model.add_packet(packet(i, Ticks::whole(static_cast<int64_t>(188 * i)), Ticks::whole(1), 0, 184, 184 * i));
  }
  model.add_access_unit(unit(0, 0, 552, 27000000));
  model.finish();
  EXPECT_EQ(model.tb_peak_bits(), 560u * 8);
  ASSERT_EQ(model.count(TstdKind::kTbOverflow), 1u);
  const std::vector<TstdViolation> v = model.violations();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].bits, 48u * 8);
  EXPECT_EQ(v[0].packet, 2u);
  EXPECT_EQ(v[0].ticks, Ticks::whole(563));
  EXPECT_EQ(model.count(TstdKind::kEbUnderflow), 0u);
}

TEST(TstdModelTest, ElementaryStreamBytesReachEbAtTheLeakRates) {
  // 188 bytes a byte every 10 ticks: the last leaves TB at 188 * 120 = 22560,
  // the 170 ES bytes then leave MB one per 100 ticks, the last at 39560.
  Recorded on_time;
  TstdModel model(params(100000), 10, on_time.observer());
  model.add_packet(packet(7, Ticks::whole(0), Ticks::whole(10), 14, 170, 0));
  model.add_access_unit(unit(0, 0, 170, 50000));
  model.finish();
  ASSERT_EQ(on_time.rows.size(), 1u);
  EXPECT_TRUE(on_time.rows[0].last_byte_known);
  EXPECT_EQ(on_time.rows[0].last_byte_in_eb, Ticks::whole(39560));
  EXPECT_EQ(on_time.rows[0].eb_before_bits, 170u * 8);
  EXPECT_EQ(model.violation_count(), 0u);
  EXPECT_EQ(model.eb_peak_bits(), 170u * 8);

  // Removed at 30000: floor(7440 / 100) = 74 bytes are in, 96 missing, 9560 ticks late.
  Recorded late;
  TstdModel early(params(100000), 10, late.observer());
  early.add_packet(packet(7, Ticks::whole(0), Ticks::whole(10), 14, 170, 0));
  early.add_access_unit(unit(0, 0, 170, 30000));
  early.finish();
  ASSERT_EQ(early.count(TstdKind::kEbUnderflow), 1u);
  const TstdViolation v = early.violations().at(0);
  EXPECT_EQ(v.bits, 96u * 8);
  EXPECT_EQ(v.access_unit, 0u);
  EXPECT_DOUBLE_EQ(v.seconds, 9560.0 / 27e6);
  ASSERT_EQ(late.rows.size(), 1u);
  EXPECT_EQ(late.rows[0].last_byte_in_eb, Ticks::whole(39560));
}

TEST(TstdModelTest, FullEbHoldsBytesInMbUntilARemoval) {
  // EB holds 100 bytes: byte 100 waits for the removal at 40000 and enters
  // at 40100; byte 169 at 40000 + 70 * 100.
  Recorded r;
  TstdModel model(params(100), 10, r.observer());
  model.add_packet(packet(0, Ticks::whole(0), Ticks::whole(10), 14, 170, 0));
  model.add_access_unit(unit(0, 0, 100, 40000));
  model.add_access_unit(unit(1, 100, 170, 50000));
  model.finish();
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0].last_byte_in_eb, Ticks::whole(32560));
  EXPECT_EQ(r.rows[0].eb_before_bits, 800u);
  EXPECT_EQ(r.rows[0].mb_bits, 70u * 8);
  EXPECT_EQ(r.rows[1].last_byte_in_eb, Ticks::whole(47000));
  EXPECT_EQ(model.violation_count(), 0u);
  EXPECT_EQ(model.mb_peak_bits(), 170u * 8);
}

TEST(TstdModelTest, DelaysOrderAndAFullTbAreViolations) {
  TstdModel model(params(100000), 10);
  // 1436 packets at 119.99 ticks a byte, a hair faster than TB leaks: TB
  // never empties for 1.2 s, never holds 512 bytes.
  const Ticks byte_time = Ticks::ratio(11999, 100);
  const Ticks packet_time = byte_time.times(188);
  Ticks t;
  for (uint64_t i = 0; i < 1436; ++i) {
    model.add_packet(packet(i, t, byte_time, 0, 184, 184 * i));
    t = t + packet_time;
  }
  // Both units are removed at 11 s, more than 10 s after their first bytes
  // arrived (the first one's at 4 byte times); the second's time does not advance.
  model.add_access_unit(unit(0, 0, 1000, 11 * kTicksPerSecond));
  model.add_access_unit(unit(1, 1000, 184 * 1436, 11 * kTicksPerSecond));
  model.finish();
  EXPECT_EQ(model.count(TstdKind::kTbOverflow), 0u);
  EXPECT_EQ(model.count(TstdKind::kTbNotEmpty), 1u);
  EXPECT_EQ(model.count(TstdKind::kDataDelay), 2u);
  EXPECT_EQ(model.count(TstdKind::kDtsOrder), 1u);
  for (const TstdViolation& v : model.violations()) {
    if (v.kind == TstdKind::kDataDelay && v.access_unit == 0) {
      EXPECT_DOUBLE_EQ(v.seconds, 1.0 - 4 * 119.99 / 27e6);
    }
    if (v.kind == TstdKind::kTbNotEmpty) {
      EXPECT_DOUBLE_EQ(v.time, 1.0);
    }
  }
}

TEST(TstdModelTest, UnitsKnownBeforeOrAfterTheirPacketsGiveTheSameTimes) {
  // Two packets a byte every 10 ticks, at 0 and 30000: they leave TB at
  // 188 * 120 = 22560 and 30000 + 22560 = 52560, and MB is empty again
  // between them. Their 170 and 184 ES bytes then leave MB a byte time
  // apart: 100 ticks at Rbx 2,160,000, 400 / 3 at 1,620,000.
  struct Case {
    uint64_t rbx;
    Ticks first_last, second_last;  // the last byte of each unit in EB
    uint64_t eb_at_first;           // bytes in EB before the removal at 60000
  };
  const std::vector<Case> cases = {
      {2160000, Ticks::whole(39560), Ticks::whole(70960), 170 + 74},               // 7440 / 100 of the second
      {1620000, Ticks::ratio(135680, 3), Ticks::ratio(231280, 3), 170 + 55}};  // 7440 * 3 / 400
  for (const Case& c : cases) {
    for (const bool units_first : {false, true}) {
      TstdParams p = params(100000);
      p.max_br_bits = c.rbx;
      Recorded r;
      TstdModel model(p, 10, r.observer());
      if (units_first) model.add_access_unit(unit(0, 0, 170, 60000));
      model.add_packet(packet(0, Ticks::whole(0), Ticks::whole(10), 14, 170, 0));
      model.add_packet(packet(1, Ticks::whole(30000), Ticks::whole(10), 0, 184, 170));
      if (!units_first) model.add_access_unit(unit(0, 0, 170, 60000));
      model.add_access_unit(unit(1, 170, 354, 100000));
      model.finish();
      ASSERT_EQ(r.rows.size(), 2u) << c.rbx << " " << units_first;
      EXPECT_EQ(r.rows[0].last_byte_in_eb, c.first_last) << c.rbx << " " << units_first;
      EXPECT_EQ(r.rows[1].last_byte_in_eb, c.second_last) << c.rbx << " " << units_first;
      EXPECT_EQ(r.rows[0].eb_before_bits, c.eb_at_first * 8) << c.rbx << " " << units_first;
      EXPECT_EQ(r.rows[1].eb_before_bits, 184u * 8) << c.rbx << " " << units_first;
      EXPECT_EQ(model.violation_count(), 0u);
    }
  }
}

TEST(TstdModelTest, MultiplexingBufferSizeFollowsTheLevel) {
  TstdParams p = params(1000);
  // max(2,160,000, 2,000,000) * 2 / 375 + 2,400,000 - 8,000 bits.
  EXPECT_EQ(p.mb_size_bits_x375(), 2 * 2160000 + 375 * (2400000 - 8000));
  p.max_br_bits = 1000000;  // below 2,000,000 bit/s the floor counts
  EXPECT_EQ(p.mb_size_bits_x375(), 2 * 2000000 + 375 * (2400000 - 8000));
}

}  // namespace
}  // namespace tarnwell
