// Stored form of a keypoint pairing: the nearest-match tables, the pair
// list and the matcher settings it was made with.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_pair_matcher.h"
#include "matchlib/match/pair_matcher.h"
#include "matchlib/match/pairing_codec.h"

namespace {

class Writer {
 public:
  explicit Writer(std::uint8_t* out) : out_(out) {}
  void put(std::uint32_t v, int bytes) {
    for (int k = bytes - 1; k >= 0; --k) {
      if (out_) out_[n_] = static_cast<std::uint8_t>(v >> (8 * k));
      ++n_;
    }
  }
  std::uint32_t size() const { return n_; }

 private:
  std::uint8_t* out_;
  std::uint32_t n_ = 0;
};

// Bounded big-endian reader: reading past the end sets `bad`.
class Reader {
 public:
  Reader(const std::uint8_t* d, std::uint32_t n) : d_(d), n_(n) {}
  std::uint32_t get(int bytes) {
    if (bad || n_ - pos_ < static_cast<std::uint32_t>(bytes)) {
      bad = true;
      return 0;
    }
    std::uint32_t v = 0;
    for (int k = 0; k < bytes; ++k) v = (v << 8) | d_[pos_++];
    return v;
  }
  std::uint32_t pos() const { return pos_; }
  bool bad = false;

 private:
  const std::uint8_t* d_;
  std::uint32_t n_;
  std::uint32_t pos_ = 0;
};

std::uint32_t clamp255(std::uint32_t v) { return std::min<std::uint32_t>(v, 255); }

}  // namespace

uint32_t zyl::matchlib::pairing_write(const MinutiaPairing* p, uint8_t* out) {
  if (!p) return 0;
  Writer w(out);
  const NearestMatch* m = p->nearest;
  const int ca = m ? m->count_a : 0, cb = m ? m->count_b : 0;
  w.put(1, 1);
  w.put(static_cast<std::uint32_t>(ca), 2);
  w.put(static_cast<std::uint32_t>(cb), 2);
  for (int i = 0; i < ca; ++i) w.put(m->match_a[i], 2), w.put(clamp255(m->best_a[i]), 1);
  for (int j = 0; j < cb; ++j) w.put(m->match_b[j], 2), w.put(clamp255(m->best_b[j]), 1);
  w.put(static_cast<std::uint32_t>(p->pair_count), 2);
  for (int k = 0; k < p->pair_count; ++k) {
    w.put(p->pairs[k].index_a, 2);
    w.put(p->pairs[k].index_b, 2);
    w.put(clamp255(p->pairs[k].distance), 1);
  }
  const MatcherSettings& s = p->settings;
  w.put(static_cast<std::uint32_t>(s.distance_mode), 2);
  w.put(static_cast<std::uint32_t>(s.mutual), 1);
  w.put(static_cast<std::uint32_t>(s.distance_setting), 1);
  w.put(static_cast<std::uint32_t>(s.parse_selection), 1);
  w.put(static_cast<std::uint32_t>(s.two_run), 1);
  w.put(static_cast<std::uint32_t>(s.extension_types), 4);
  w.put(static_cast<std::uint32_t>(s.direction_tolerance), 1);
  w.put(static_cast<std::uint32_t>(s.hypothesis_limit), 2);
  w.put(static_cast<std::uint32_t>(s.point_limit), 2);
  w.put(static_cast<std::uint32_t>(s.required_count), 1);
  w.put(static_cast<std::uint32_t>(s.refined_search), 1);
  w.put(static_cast<std::uint32_t>(p->alignment_flag), 1);
  return w.size();
}

uint32_t zyl::matchlib::pairing_read(const uint8_t* data, uint32_t length, MinutiaPairing** out) {
  if (out) *out = nullptr;
  if (!data || !out || length < 1 || data[0] >= 2) return 0;
  Reader r(data + 1, length - 1);
  const int ca = static_cast<int>(r.get(2)), cb = static_cast<int>(r.get(2));
  // Refuse counts the bytes cannot hold before allocating for them.
  if (r.bad || std::uint64_t{3} * (std::uint64_t(ca) + cb) + 24 > length - 1) return 0;
  MinutiaPairing* p = zyl::matchlib::pairing_create(nullptr);
  if (!p) return 0;
  auto fail = [&] {
    zyl::matchlib::pairing_free(p);
    return 0u;
  };
  p->nearest = zyl::matchlib::nearest_match_create(ca, cb);
  if (!p->nearest) return fail();
  NearestMatch& m = *p->nearest;
  // A stored partner must be a point of the other side; 0xffff is "none".
  auto index_ok = [](std::uint32_t v, int count) { return v == PAIR_NONE || v < static_cast<std::uint32_t>(count); };
  for (int i = 0; i < ca; ++i) {
    m.match_a[i] = static_cast<std::uint16_t>(r.get(2));
    m.best_a[i] = static_cast<std::uint16_t>(r.get(1));
    if (!index_ok(m.match_a[i], cb)) return fail();
  }
  for (int j = 0; j < cb; ++j) {
    m.match_b[j] = static_cast<std::uint16_t>(r.get(2));
    m.best_b[j] = static_cast<std::uint16_t>(r.get(1));
    if (!index_ok(m.match_b[j], ca)) return fail();
  }
  const int pc = static_cast<int>(r.get(2));
  if (r.bad || std::uint64_t{5} * pc + r.pos() + 18 > length - 1) return fail();
  if (pc) {
    p->pairs = static_cast<PairEntry*>(std::malloc(sizeof(PairEntry) * pc));
    if (!p->pairs) return fail();
  }
  p->pair_count = pc;
  for (int k = 0; k < pc; ++k) {
    PairEntry& e = p->pairs[k];
    e.index_a = static_cast<std::uint16_t>(r.get(2));
    e.index_b = static_cast<std::uint16_t>(r.get(2));
    e.distance = static_cast<std::uint16_t>(r.get(1));
    if (e.index_a >= ca || e.index_b >= cb) return fail();
  }
  MatcherSettings& s = p->settings;
  s.distance_mode = static_cast<std::int32_t>(r.get(2));
  s.mutual = static_cast<std::int32_t>(r.get(1));
  s.distance_setting = static_cast<std::int32_t>(r.get(1));
  s.parse_selection = static_cast<std::int32_t>(r.get(1));
  s.two_run = static_cast<std::int32_t>(r.get(1));
  s.extension_types = static_cast<std::int32_t>(r.get(4));
  s.direction_tolerance = static_cast<std::int32_t>(r.get(1));
  s.hypothesis_limit = static_cast<std::int32_t>(r.get(2));
  s.point_limit = static_cast<std::int32_t>(r.get(2));
  s.required_count = static_cast<std::int32_t>(r.get(1));
  s.refined_search = static_cast<std::int32_t>(r.get(1));
  p->alignment_flag = static_cast<std::int32_t>(r.get(1));
  if (r.bad) return fail();
  *out = p;
  return r.pos() + 1;
}

extern "C" {

ZYL_API uint32_t pairing_write(const MinutiaPairing* p, uint8_t* out) {
  return zyl::matchlib::pairing_write(p, out);
}
ZYL_API uint32_t pairing_read(const uint8_t* data, uint32_t length, MinutiaPairing** out) {
  return zyl::matchlib::pairing_read(data, length, out);
}

}  // extern "C"
