// The standard minutiae record readers (the four forms, the size checks,
// the extended data blocks, the converters and the view merge) on arbitrary
// bytes: no crash, no read past the input; an accepted ISO record rebuilds
// to a record that reads back with the same minutiae.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "fuzz_check.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

namespace {

using Parser = int (*)(const std::uint8_t*, std::uint32_t, MinutiaeRecord*);
using Builder = int (*)(const MinutiaeRecord*, std::uint8_t**, std::uint32_t*);

void round_trip(const MinutiaeRecord* m, Builder build, Parser parse) {
  std::uint8_t* out = nullptr;
  std::uint32_t size = 0;
  if (build(m, &out, &size) != 0) return;
  MinutiaeRecord* back = minrec_create();
  require(back && parse(out, size, back) == 0);
  require(back->count == m->count);
  for (int i = 0; i < m->count; ++i) {
    require(back->minutiae[i].x == (m->minutiae[i].x & 0x3FFF));
    require(back->minutiae[i].y == (m->minutiae[i].y & 0x3FFF));
  }
  minrec_free(back);
  std::free(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto n = static_cast<std::uint32_t>(size);
  if (!data) return 0;
  struct Pair {
    Parser parse;
    Builder build;
  };
  for (const Pair& p : {Pair{fmr_parse_iso2005, fmr_build_iso2005},
                        Pair{fmr_parse_iso2011, fmr_build_iso2011},
                        Pair{fmr_parse_ansi2004, fmr_build_ansi2004},
                        Pair{fmr_parse_ansi2009, fmr_build_ansi2009}}) {
    MinutiaeRecord* m = minrec_create();
    const int status = p.parse(data, n, m);
    require(status == ML_OK || status == ML_WRONG_KIND || status == ML_UNAVAILABLE);
    if (status == ML_OK) {
      require(m->resolution == MINREC_RESOLUTION);
      if (p.parse == fmr_parse_iso2005 || p.parse == fmr_parse_iso2011) round_trip(m, p.build, p.parse);
      minrec_fit_coordinates(m);
    }
    minrec_free(m);
  }
  // The version dispatch: it accepts what one of its family's versions
  // accepts, with the same minutiae.
  struct Family {
    Parser dispatch, first, second;
  };
  for (const Family& f : {Family{fmr_parse_iso, fmr_parse_iso2005, fmr_parse_iso2011},
                          Family{fmr_parse_ansi, fmr_parse_ansi2004, fmr_parse_ansi2009}}) {
    MinutiaeRecord* m = minrec_create();
    const int status = f.dispatch(data, n, m);
    require(status == ML_OK || status == ML_WRONG_KIND || status == ML_UNAVAILABLE);
    if (status == ML_OK) {
      bool same = false;
      for (Parser version : {f.first, f.second}) {
        MinutiaeRecord* v = minrec_create();
        if (version(data, n, v) == 0 && v->count == m->count) {
          same = true;
          for (int i = 0; i < m->count; ++i)
            same = same && v->minutiae[i].x == m->minutiae[i].x && v->minutiae[i].y == m->minutiae[i].y;
        }
        minrec_free(v);
      }
      require(same);
    }
    minrec_free(m);
  }

  fmr_check_iso_size(data, n);
  fmr_check_ansi_size(data, n);
  fmr_get_length(data, n);
  fmr_get_length_ansi(data, n);

  CoreList cores;
  DeltaList deltas;
  if (fmr_read_core_delta_block(data, n, &cores, &deltas) == 0)
    require(cores.count <= MINREC_MAX_SINGULAR && deltas.count <= MINREC_MAX_SINGULAR);
  ZonalQuality zq{};
  if (fmr_read_zonal_quality_block(data, n, &zq) == 0) {
    for (int i = 0; i < zq.rows * zq.columns; ++i) require(zq.cells[i] <= 100);
    std::free(zq.cells);
  }
  CellMap map{};
  if (fmr_read_orientation_block(data, n, &map) == 0) std::free(map.cells);
  if (fmr_read_frequency_block(data, n, &map) == 0) std::free(map.cells);

  std::uint8_t* out = nullptr;
  std::uint32_t out_size = 0;
  if (fmr_to_iso2005(data, n, 20, &out, &out_size) == 0) std::free(out);
  if (fmr_to_ansi2009(data, n, 20, &out, &out_size) == 0) std::free(out);
  if (fmr_merge_views(data, n, 1, data, n, 2, &out, &out_size) == 0) std::free(out);
  // Record to card: an accepted record gives a card that reads back.
  if (fmr_to_card(data, n, 128, &out, &out_size) == 0) {
    const std::uint8_t* v = nullptr;
    std::uint32_t vn = 0;
    require(card_get_minutiae(out, out_size, &v, &vn) == 0 && vn <= 3 * CARD_MAX_MINUTIAE);
    std::uint8_t* back = nullptr;
    std::uint32_t back_size = 0;
    const int status = card_to_iso2005(out, out_size, &back, &back_size);
    require(status == ML_OK || status == ML_UNAVAILABLE);
    if (status == ML_OK) {
      require(fmr_get_length(back, back_size) == back_size);
      std::free(back);
    }
    std::free(out);
  }
  return 0;
}
