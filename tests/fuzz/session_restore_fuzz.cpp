// The session's saved-block reader on arbitrary bytes: no crash, no read
// past the input; an accepted block saves again and the saved block
// restores.
#include <cstdint>
#include <cstdlib>

#include "fuzz_check.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_session.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static MatchContext* ctx = ctx_create();
  static MatchEngine* engine =
      engine_create(ctx, chain_create(), 79, 0, 0, nullptr, 0, nullptr, 0, nullptr);
  MatcherSession* s = nullptr;
  const int status = session_restore(data, static_cast<std::uint32_t>(size), engine, &s);
  require(status == ML_OK || status == ML_WRONG_KIND || status == ML_BAD_ARGUMENT || status == ML_TOO_SHORT);
  require((status == ML_OK) == (s != nullptr));
  if (s) {
    require(session_event_count(s) <= 1000);
    std::uint8_t* block = nullptr;
    std::uint32_t n = 0;
    require(session_save(s, &block, &n) == 0);
    MatcherSession* again = nullptr;
    require(session_restore(block, n, engine, &again) == 0);
    require(session_event_count(again) == session_event_count(s));
    session_release(again);
    std::free(block);
    session_release(s);
  }
  return 0;
}
