// The type-line engine's constant tables under the names the engine's code
// uses. Each name is bound to the exported C table of the same contents
// (one copy of the data; the C names stay for callers of the library).
#pragma once

#include <cstdint>

namespace zyl::typeline {

// round(atan2(dy, dx) * 120 / pi) at dy * 50 + dx (_table_01).
extern const std::int16_t (&kDirectionOfOffset)[2500];
// Q14 cosine and sine of i * pi / 120 (_table_03, _table_04).
extern const std::int16_t (&kCosQ14)[240];
extern const std::int16_t (&kSinQ14)[240];
// The ring of radius 5 (_5cos_table, _5sin_table).
extern const std::int16_t (&kRing5X)[240];
extern const std::int16_t (&kRing5Y)[240];
// floor(9 cos) and floor(9 sin): the ring of radius 9 (_9cos_table,
// _9sin_table).
extern const std::int16_t (&kRing9X)[240];
extern const std::int16_t (&kRing9Y)[240];
// Division by n = 1..511 as (x * kDivisionMultiplier[n]) >> kDivisionShift[n]
// (divX_table1, divX_table2).
extern const std::int16_t (&kDivisionMultiplier)[512];
extern const std::int16_t (&kDivisionShift)[512];
// The directional ridge filter per orientation o: centre weight, tap-pair
// count, and per tap pair o * 18 + k its row offset, column offset and
// weight (_table1 .. _table5).
extern const std::int16_t (&kFilterCentre)[120];
extern const std::int16_t (&kFilterTaps)[120];
extern const std::int16_t (&kFilterRow)[120 * 18];
extern const std::int16_t (&kFilterColumn)[120 * 18];
extern const std::int16_t (&kFilterWeight)[120 * 18];

}  // namespace zyl::typeline
