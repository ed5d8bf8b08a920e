// The graph matcher's per-context work record.
#include "api/match_data.h"

#include <cstdlib>
#include <new>

#include "zylscan/graph_matcher.h"

namespace zyl::api {
namespace {

template <typename T>
bool allocate(T*& data, std::int32_t count) {
  data = static_cast<T*>(std::calloc(static_cast<std::size_t>(count), sizeof(T)));
  return data != nullptr;
}

}  // namespace

}  // namespace zyl::api

using namespace zyl::api;

MatchData* zyl::api::CreateMatchData(void) {
  auto* md = static_cast<MatchData*>(std::calloc(1, sizeof(MatchData)));
  if (!md) return nullptr;
  bool ok = allocate(md->sorter.pairs, kPairCapacity) &&
            allocate(md->sorter.pointers, kPairCapacity) &&
            allocate(md->sorter.counts, kCountCapacity) &&
            allocate(md->candidates, kCandidateCapacity) &&
            allocate(md->indexes, kIndexCapacity) &&
            allocate(md->histogramX, ZYL_TRANSLATION_BINS) &&
            allocate(md->histogramY, ZYL_TRANSLATION_BINS) &&
            allocate(md->histogramScratch, ZYL_TRANSLATION_BINS);
  for (MatchSide& side : md->sides) {
    for (int b = 0; ok && b < ZYL_ANGLE_BINS; ++b) {
      ok = allocate(side.bins[b], kBinCapacity);
      side.binCapacities[b] = ok ? kBinCapacity : 0;
    }
  }
  if (!ok) {
    zyl::api::FreeMatchData(md);
    return nullptr;
  }
  md->sorter.pairCapacity = kPairCapacity;
  md->sorter.pointerCapacity = kPairCapacity;
  md->sorter.countSize = kCountCapacity;
  md->candidateCapacity = kCandidateCapacity;
  md->indexCapacity = kIndexCapacity;
  md->histogramSizeX = ZYL_TRANSLATION_BINS;
  md->histogramSizeY = ZYL_TRANSLATION_BINS;
  return md;
}

void zyl::api::FreeMatchData(MatchData* md) {
  if (!md) return;
  std::free(md->histogramX);
  std::free(md->histogramY);
  std::free(md->histogramScratch);
  std::free(md->sorter.pairs);
  std::free(md->sorter.pointers);
  std::free(md->sorter.counts);
  std::free(md->indexes);
  std::free(md->candidates);
  for (MatchSide& side : md->sides)
    for (GraphLine**& bin : side.bins) std::free(bin);
  std::free(md);
}

extern "C" {

ZYL_API MatchData* CreateMatchData(void) { return zyl::api::CreateMatchData(); }
ZYL_API void FreeMatchData(MatchData* md) { zyl::api::FreeMatchData(md); }

}  // extern "C"
