// The accumulator as an observer of an enrolment object: the accumulator
// travels in its saved form in a counted state buffer, every offered image
// is added to it, and the first six images are kept so that, once six have
// arrived, the enrolment can start over with the accumulator's view of all
// six.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_accum.h"
#include "zylscan/matchlib_enrol.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/engine/enrol_dispatch.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/template/impression_accumulator.h"
#include "matchlib/engine/impression_add.h"

namespace zyl::matchlib {
namespace {

constexpr int kKeptImages = 6;

struct AccumObserver {
  AccumState* state;
  std::array<GrayImage*, kKeptImages> images;
  int kept;
  bool listing;    // the six places are still in use
  bool replaying;  // the kept images are being offered again
};

struct AccumFree {
  void operator()(ImpressionAccumulator* a) const { zyl::matchlib::accum_release(a); }
};
using AccumPtr = std::unique_ptr<ImpressionAccumulator, AccumFree>;

// The state buffer's accumulator, or a new one sized to the image.
int load(const AccumState& state, const GrayImage* image, AccumPtr& out) {
  ImpressionAccumulator* a = nullptr;
  if (state.size > 0) {
    if (const int s = zyl::matchlib::accum_parse(state.bytes, state.size, &a)) return s;
  } else {
    a = zyl::matchlib::accum_create(image);
    if (!a) return ML_CORRUPT;
  }
  out.reset(a);
  return ML_OK;
}

// Saves the accumulator into the state buffer in place (its holders share
// the buffer record).
int save(AccumState& state, const ImpressionAccumulator& a) {
  AccumState* fresh = nullptr;
  std::uint32_t size = 0;
  if (const int s = zyl::matchlib::accum_serialize(&a, &fresh, &size)) return s;
  std::free(state.bytes);
  state.bytes = fresh->bytes;
  state.size = size;
  fresh->bytes = nullptr;
  zyl::matchlib::accum_state_release(fresh);
  return ML_OK;
}

int add_one(AccumState& state, MatchContext* ctx, GrayImage* image) {
  AccumPtr a;
  if (const int s = load(state, image, a)) return s;
  if (const int s = zyl::matchlib::accum_add_image(a.get(), ctx, image)) return s;
  return save(state, *a);
}

void drop_images(AccumObserver& o) {
  for (GrayImage*& image : o.images) {
    zyl::matchlib::image_release(image);
    image = nullptr;
  }
  o.kept = 0;
}

// Six impressions are in: start the enrolment over, rebuild the
// accumulator from the six as one series, and offer the first five to the
// enrolment again. The sixth is the current offer, which the enrolment
// object takes right after this observer; offering it here as well would
// hand the same impression to the enrolment twice.
int restart_with_six(AccumObserver& o, EnrolSession* session, DataBlob* tmpl, void* user) {
  MatchContext* ctx = zyl::matchlib::enrol_context(session);
  int status = zyl::matchlib::enrol_reset(session);
  auto keep = [&status](int s) {
    if (status == ML_OK) status = s;
  };
  AccumPtr a;
  if (o.state->size > 0) {
    const int s = load(*o.state, nullptr, a);
    keep(s);
    if (s == ML_OK) keep(zyl::matchlib::accum_reset(a.get()));
    if (s == ML_OK) keep(save(*o.state, *a));
  }
  a.reset();
  if (const int s = load(*o.state, o.images[0], a); s != ML_OK) {
    keep(s);
  } else {
    keep(zyl::matchlib::accum_add_images(a.get(), ctx, o.images.data(), kKeptImages));
    keep(save(*o.state, *a));
  }
  // Offers passing through this observer again go straight to the
  // enrolment: they are in the accumulator already, and the list is still
  // full.
  o.replaying = true;
  for (int k = 0; k < kKeptImages - 1; ++k)
    keep(zyl::matchlib::enrol_add_sample(session, o.images[k], tmpl, user));
  o.replaying = false;
  drop_images(o);
  o.listing = false;
  return status;
}

int observe(EnrolSession* session, GrayImage* image, DataBlob* tmpl, void* user) {
  if (!session || !session->observer_data) return ML_BAD_ARGUMENT;
  auto& o = *static_cast<AccumObserver*>(session->observer_data);
  if (o.replaying) return ML_OK;
  if (!image) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    if (!o.listing) return add_one(*o.state, zyl::matchlib::enrol_context(session), image);
    o.images[o.kept++] = zyl::matchlib::image_retain(image);
    if (o.kept < kKeptImages)
      return add_one(*o.state, zyl::matchlib::enrol_context(session), image);
    return restart_with_six(o, session, tmpl, user);
  });
}

void release_observer(void* data) {
  auto* o = static_cast<AccumObserver*>(data);
  if (!o) return;
  drop_images(*o);
  zyl::matchlib::accum_state_release(o->state);
  std::free(o);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

ZYL_API int accum_observe_install(EnrolSession* session, AccumState* state) {
  if (!session || !state) return ML_BAD_ARGUMENT;
  auto* o = static_cast<AccumObserver*>(ml_calloc(1, sizeof(AccumObserver)));
  if (!o) return ML_NO_MEMORY;
  o->state = zyl::matchlib::accum_state_retain(state);
  o->listing = true;
  zyl::matchlib::enrol_set_observer(session, o, observe, release_observer);
  return ML_OK;
}

}  // extern "C"
