#include "verify/tstd_model.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace tarnwell {
namespace {

// 8 bits * 27,000,000 ticks / 1.2 = 180,000,000: TB's byte time is this / BitRate.
constexpr uint64_t kTbByteTicksTimesRate = 180000000;
// 8 bits * 27,000,000 ticks: MB's byte time is this / Rbx.
constexpr uint64_t kByteTicksTimesRate = 216000000;
constexpr int64_t kDataDelayLimit = 10 * kTicksPerSecond;
// Bounds on what waits, for streams whose removals never come or never
// advance: past this many packets waiting for a removal beyond them, the
// oldest goes on as if none came before it (a removal known later is then
// done as soon as it is known), and the oldest records of arrivals and
// entries are dropped (their units' first arrival and last entry are then
// not reported).
constexpr std::size_t kMaxWaiting = std::size_t{1} << 20;

std::string text_of(const char* format, double a, double b) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

const char* tstd_kind_name(TstdKind kind) {
  static constexpr const char* kNames[kTstdKinds] = {"tb_overflow", "tb_not_empty", "mb_overflow", "eb_underflow",
                                                     "data_delay",  "dts_order",    "pcr_interval"};
  const auto k = static_cast<std::size_t>(kind);
  return k < kTstdKinds ? kNames[k] : "unknown";
}

int64_t TstdParams::mb_size_bits_x375() const {
  const int64_t m = static_cast<int64_t>(std::max<uint64_t>(max_br_bits, 2000000));
  return 2 * m + 375 * (static_cast<int64_t>(max_cpb_bits) - static_cast<int64_t>(eb_size_bits));
}

TstdModel::TstdModel(const TstdParams& params, uint32_t keep_violations, TstdObserver observer)
    : params_(params), keep_violations_(keep_violations), observer_(std::move(observer)) {
  eb_size_ = params_.eb_size_bits / 8;
  mb_size_x375_ = params_.mb_size_bits_x375();
  tb_byte_ = Ticks::ratio(kTbByteTicksTimesRate, std::max<uint64_t>(params_.bit_rate, 1));
  mb_byte_ = Ticks::ratio(kByteTicksTimesRate, std::max<uint64_t>(params_.max_br_bits, 1));
}

uint64_t TstdModel::violation_count() const { return std::accumulate(counts_.begin(), counts_.end(), uint64_t{0}); }

std::vector<TstdViolation> TstdModel::violations() const {
  std::vector<TstdViolation> all = kept_;
  std::stable_sort(all.begin(), all.end(),
                   [](const TstdViolation& a, const TstdViolation& b) { return a.ticks < b.ticks; });
  if (all.size() > keep_violations_) all.resize(keep_violations_);
  return all;
}

void TstdModel::report(TstdViolation violation) { keep(std::move(violation)); }

std::size_t TstdModel::keep(TstdViolation violation) {
  const std::size_t kind = static_cast<std::size_t>(violation.kind);
  ++counts_[kind];
  if (kept_per_kind_[kind] >= keep_violations_) return static_cast<std::size_t>(-1);
  ++kept_per_kind_[kind];
  violation.time = violation.ticks.seconds();
  kept_.push_back(std::move(violation));
  return kept_.size() - 1;
}

void TstdModel::emit_level(TstdBuffer buffer, const Ticks& time, uint64_t high, uint64_t low) {
  if (observer_.level) observer_.level(TstdLevel{buffer, time, high * 8, low * 8});
}

// ---- TB ----

uint64_t TstdModel::tb_departed(const Ticks& t) const {
  if (t >= tb_last_departure_) return tb_entered_;
  if (t < tb_busy_start_) return tb_base_;
  const uint64_t gone =
      static_cast<uint64_t>(t.floor_times_since(tb_busy_start_, params_.bit_rate, kTbByteTicksTimesRate));
  return std::min(tb_entered_, tb_base_ + gone);
}

void TstdModel::close_tb_stretch(const Ticks& end) {
  if (end.floor() < tb_stretch_start_.floor() + kTicksPerSecond) return;  // short of the limit by whole ticks
  const Ticks limit = tb_stretch_start_ + Ticks::whole(kTicksPerSecond);
  if (end <= limit) return;
  keep({.kind = TstdKind::kTbNotEmpty,
        .ticks = limit,
        .seconds = (end - limit).seconds(),
        .detail = text_of("TB held bytes from %.6f s to %.6f s without becoming empty", tb_stretch_start_.seconds(),
                          end.seconds())});
}

void TstdModel::tb_take(const TstdPacket& p) {
  const uint64_t n = uint64_t{p.header_bytes} + p.pes_header_bytes + p.es_bytes;
  if (n == 0) return;
  const Ticks t0 = p.arrival;
  const Ticks& u = p.byte_time;
  const Ticks& v = tb_byte_;
  if (!tb_started_) {
    tb_started_ = true;
    tb_busy_start_ = t0;
    tb_last_departure_ = t0;
    tb_stretch_start_ = t0;
  }
  const bool idle_before = t0 >= tb_last_departure_;
  if (idle_before) {
    close_tb_stretch(tb_last_departure_);
    tb_stretch_start_ = t0;
  }
  const uint64_t before = idle_before ? 0 : tb_entered_ - tb_departed(t0);
  const Ticks t_last = t0.plus_times(u, n - 1);
  uint64_t peak = 0;
  Ticks peak_time;
  if (u <= v) {
    // Bytes come at least as fast as they leave: TB only grows during the
    // packet, so its peak is at the last byte.
    if (idle_before) {
      tb_busy_start_ = t0;
      tb_base_ = tb_entered_;
    }
    tb_entered_ += n;
    tb_last_departure_ = tb_busy_start_.plus_times(v, tb_entered_ - tb_base_);
    peak = tb_entered_ - tb_departed(t_last);
    peak_time = t_last;
  } else {
    // Bytes leave faster than they come: the peak is at the first byte, and
    // once the bytes ahead have gone each byte leaves before the next comes.
    peak = before + 1;
    peak_time = t0;
    const Ticks backlog_end = tb_last_departure_;
    if (idle_before || t_last >= backlog_end.plus_times(v, n - 1)) {
      if (!idle_before) {
        // The first byte that finds TB empty: TB became empty just before it.
        uint64_t lo = 1;
        uint64_t hi = n - 1;
        while (lo < hi) {
          const uint64_t mid = (lo + hi) / 2;
          if (t0.plus_times(u, mid) >= backlog_end.plus_times(v, mid)) {
            hi = mid;
          } else {
            lo = mid + 1;
          }
        }
        close_tb_stretch(backlog_end.plus_times(v, lo));
      }
      tb_stretch_start_ = t_last;
      tb_busy_start_ = t_last;
      tb_base_ = tb_entered_ + n - 1;
      tb_entered_ += n;
      tb_last_departure_ = t_last + v;
    } else {
      tb_entered_ += n;
      tb_last_departure_ = tb_busy_start_.plus_times(v, tb_entered_ - tb_base_);
    }
  }
  tb_peak_ = std::max(tb_peak_, peak);
  tb_peak_since_chunk_ = std::max(tb_peak_since_chunk_, peak);
  if (peak > kTbBytes) {
    TstdViolation violation;
    violation.kind = TstdKind::kTbOverflow;
    violation.ticks = peak_time;
    violation.packet = p.number;
    violation.bits = (peak - kTbBytes) * 8;
    keep(std::move(violation));
  }
  emit_level(TstdBuffer::kTb, t0, peak, before);

  Chunk chunk;
  chunk.time = tb_last_departure_;
  chunk.packet = p.number;
  chunk.pes_header = p.pes_header_bytes;
  chunk.es_begin = p.es_begin;
  chunk.es_end = p.es_begin + p.es_bytes;
  chunk.tb_peak = tb_peak_since_chunk_;
  tb_peak_since_chunk_ = 0;
  // Usually nothing waits ahead of it and the removals known lie beyond it:
  // it goes on into MB at once, as process() would take it.
  if (chunks_.empty() && have_removal_ && chunk.time < last_removal_ &&
      (removals_.empty() || chunk.time < removals_.front().time)) {
    take_chunk(chunk);
  } else {
    chunks_.push_back(chunk);
  }
  if (p.es_bytes > 0) {
    if (arrivals_.size() > kMaxWaiting) {
      arrivals_.pop_front();
      unresolved_ = std::min(unresolved_, removals_.size());
    }
    arrivals_.push_back(
        Arrival{p.es_begin, chunk.es_end, t0, uint64_t{p.header_bytes} + p.pes_header_bytes, u, p.number});
  }
}

// Done for every packet of the PID: what it calls builds into it, without
// the calls' cost.
[[gnu::flatten]] void TstdModel::add_packet(const TstdPacket& packet) {
  tb_take(packet);
  resolve_arrivals();
  if (!chunks_.empty()) process(false);  // without chunks waiting, only finish() does removals
}

// ---- access units ----

void TstdModel::resolve_arrivals() {
  while (unresolved_ < removals_.size()) {
    Removal& r = removals_[unresolved_];
    const uint64_t b = r.au.es_begin;
    while (!arrivals_.empty() && arrivals_.front().es_end <= b) arrivals_.pop_front();
    if (arrivals_.empty() || arrivals_.front().es_begin > b) {
      if (arrivals_.empty()) break;  // its packet is still to come
      ++unresolved_;                 // its first byte came in no packet seen: no arrival to hold it to
      continue;
    }
    const Arrival& a = arrivals_.front();
    r.first_known = true;
    r.first_arrival = a.arrival.plus_times(a.byte_time, a.lead).plus_times(a.byte_time, b - a.es_begin);
    r.first_packet = a.packet;
    ++unresolved_;
  }
}

void TstdModel::add_access_unit(const TstdAccessUnit& au) {
  Removal r;
  r.au = au;
  const Ticks dts = Ticks::whole(au.decoding_time);
  r.time = dts;
  if (have_removal_ && au.decoding_time <= last_decoding_time_) {
    keep({.kind = TstdKind::kDtsOrder,
          .ticks = last_removal_,
          .access_unit = au.index,
          .detail = text_of("decoding time %.6f s does not advance past %.6f s", dts.seconds(),
                            Ticks::whole(last_decoding_time_).seconds())});
  }
  // A removal never goes back in time: one that would waits for the last.
  if (have_removal_ && r.time < last_removal_) r.time = last_removal_;
  have_removal_ = true;
  last_removal_ = r.time;
  last_decoding_time_ = au.decoding_time;
  last_es_end_ = au.es_end;
  removals_.push_back(r);
  resolve_arrivals();
  process(false);
}

// ---- MB and EB ----

void TstdModel::process(bool all) {
  for (;;) {
    const bool has_chunk = !chunks_.empty();
    if (!removals_.empty() && (has_chunk ? removals_.front().time <= chunks_.front().time : all)) {
      Removal r = removals_.front();
      removals_.pop_front();
      if (unresolved_ > 0) --unresolved_;
      remove(r);
      continue;
    }
    if (has_chunk && (all || chunks_.size() > kMaxWaiting || (have_removal_ && chunks_.front().time < last_removal_))) {
      const Chunk c = chunks_.front();
      chunks_.pop_front();
      take_chunk(c);
      continue;
    }
    break;
  }
}

void TstdModel::advance(const Ticks& t) {
  if (t <= now_) return;
  if (server_ == Server::kBusy) {
    // Bytes due to leave by t. When every byte in MB and one more are due, how
    // many more does not matter (the server then goes idle or waits for EB),
    // and with a whole number of ticks a byte that takes no division.
    uint64_t due = mb_es_ + 1;
    if (!mb_byte_.is_whole() || t < serve_start_.plus_times(mb_byte_, served_ + due)) {
      const uint64_t due_total =
          static_cast<uint64_t>(t.floor_times_since(serve_start_, params_.max_br_bits, kByteTicksTimesRate));
      due = due_total > served_ ? due_total - served_ : 0;
    }
    const uint64_t passing = es_removed_ > es_entered_ ? es_removed_ - es_entered_ : 0;
    const uint64_t room = passing + (eb_size_ - std::min(eb_size_, eb_fill()));
    const uint64_t take = std::min({due, mb_es_, room});
    if (take > 0) {
      const uint64_t entered_before = es_entered_;
      const uint64_t served_before = served_;
      if (entries_.size() > kMaxWaiting) entries_.pop_front();
      entries_.push_back(Entry{es_entered_, es_entered_ + take, serve_start_, served_});
      es_entered_ += take;
      served_ += take;
      mb_es_ -= take;
      mb_bytes_ -= take;
      while (!mb_.empty() && mb_.front().es_end <= es_entered_) {
        mb_.pop_front();
        if (!mb_.empty()) {  // the next PES header bytes reach the head and go
          mb_bytes_ -= mb_.front().pes_header;
          mb_.front().pes_header = 0;
        }
      }
      while (!pending_.empty() && pending_.front().es_end <= es_entered_) {
        const Pending& pd = pending_.front();
        const Ticks in_eb = serve_start_.plus_times(mb_byte_, served_before + (pd.es_end - entered_before));
        if (pd.violation < kept_.size()) kept_[pd.violation].seconds = (in_eb - pd.removal).seconds();
        for (WaitingRow& w : rows_) {
          if (w.waiting) {
            w.waiting = false;
            w.row.last_byte_known = true;
            w.row.last_byte_in_eb = in_eb;
            break;
          }
        }
        pending_.pop_front();
      }
      if (!rows_.empty()) flush_rows(false);
    }
    if (take < due) server_ = mb_es_ == 0 ? Server::kIdle : Server::kBlocked;
  }
  now_ = t;
}

void TstdModel::take_chunk(const Chunk& c) {
  advance(c.time);
  tb_peak_since_removal_ = std::max(tb_peak_since_removal_, c.tb_peak);
  const uint64_t es = c.es_end - c.es_begin;
  const uint64_t before = mb_bytes_;
  if (es > 0 || (c.pes_header > 0 && !mb_.empty())) {
    const uint64_t pes_header = mb_.empty() ? 0 : c.pes_header;  // at the head at once: its header bytes go
    mb_bytes_ += pes_header + es;
    mb_es_ += es;
    mb_.push_back(InMb{c.es_end, pes_header});
  }
  mb_peak_ = std::max(mb_peak_, mb_bytes_);
  const int64_t bits_x375 = static_cast<int64_t>(mb_bytes_ * 8 * 375);
  if (bits_x375 > mb_size_x375_) {
    TstdViolation v;
    v.kind = TstdKind::kMbOverflow;
    v.ticks = c.time;
    v.packet = c.packet;
    v.bits = static_cast<uint64_t>((bits_x375 - mb_size_x375_ + 374) / 375);
    keep(std::move(v));
  }
  emit_level(TstdBuffer::kMb, c.time, mb_bytes_, before);
  emit_level(TstdBuffer::kEb, c.time, eb_fill(), eb_fill());  // EB fills between removals
  if (server_ == Server::kIdle && mb_es_ > 0) server_ = Server::kBlocked;
  if (server_ == Server::kBlocked && (es_removed_ > es_entered_ || eb_fill() < eb_size_)) {
    server_ = Server::kBusy;
    serve_start_ = c.time;
    served_ = 0;
  }
}

bool TstdModel::entry_time(uint64_t es_last, Ticks& time) const {
  for (const Entry& e : entries_) {
    if (e.es_begin <= es_last && es_last < e.es_end) {
      time = e.start.plus_times(mb_byte_, e.k + (es_last - e.es_begin) + 1);
      return true;
    }
  }
  return false;
}

void TstdModel::remove(Removal& r) {
  advance(r.time);
  const TstdAccessUnit& au = r.au;
  const uint64_t eb_before = eb_fill();
  eb_peak_ = std::max(eb_peak_, eb_before);
  WaitingRow w;
  w.row.access_unit = au.index;
  w.row.bytes = au.es_end - au.es_begin;
  w.row.decoding_time = r.time;
  w.row.eb_before_bits = eb_before * 8;
  w.row.mb_bits = mb_bytes_ * 8;
  w.row.tb_peak_bits = tb_peak_since_removal_ * 8;
  tb_peak_since_removal_ = 0;
  if (es_entered_ < au.es_end) {
    const std::size_t kept = keep({.kind = TstdKind::kEbUnderflow,
                                   .ticks = r.time,
                                   .packet = r.first_known ? r.first_packet : kNoPacket,
                                   .access_unit = au.index,
                                   .bits = (au.es_end - es_entered_) * 8,
                                   .seconds = -1.0,
                                   .detail = "last byte not in EB at the decoding time"});
    pending_.push_back(Pending{au.es_end, r.time, kept});
    w.waiting = true;
  } else if (au.es_end > au.es_begin) {
    w.row.last_byte_known = entry_time(au.es_end - 1, w.row.last_byte_in_eb);
  }
  if (r.first_known && r.time - r.first_arrival > Ticks::whole(kDataDelayLimit)) {
    keep({.kind = TstdKind::kDataDelay,
          .ticks = r.time,
          .packet = r.first_packet,
          .access_unit = au.index,
          .seconds = (r.time - r.first_arrival - Ticks::whole(kDataDelayLimit)).seconds(),
          .detail =
              text_of("first byte arrived at %.6f s, removed at %.6f s", r.first_arrival.seconds(), r.time.seconds())});
  }
  es_removed_ = std::max(es_removed_, au.es_end);
  const uint64_t eb_after = eb_fill();
  emit_level(TstdBuffer::kEb, r.time, eb_before, eb_after);
  emit_level(TstdBuffer::kMb, r.time, mb_bytes_, mb_bytes_);  // MB drains between arrivals
  while (!entries_.empty() && entries_.front().es_end <= au.es_end) entries_.pop_front();
  if (server_ == Server::kBlocked && (es_removed_ > es_entered_ || eb_after < eb_size_)) {
    server_ = Server::kBusy;
    serve_start_ = r.time;
    served_ = 0;
  }
  ++removed_;
  rows_.push_back(w);
  flush_rows(false);
}

void TstdModel::flush_rows(bool all) {
  while (!rows_.empty() && (all || !rows_.front().waiting)) {
    if (observer_.row) observer_.row(rows_.front().row);
    rows_.pop_front();
  }
}

void TstdModel::finish() {
  process(true);
  // What is left in MB goes on into EB as far as EB has room.
  if (server_ == Server::kBusy && mb_es_ > 0) advance(serve_start_.plus_times(mb_byte_, served_ + mb_es_ + 1));
  if (tb_started_) close_tb_stretch(tb_last_departure_);
  flush_rows(true);
}

}  // namespace tarnwell
