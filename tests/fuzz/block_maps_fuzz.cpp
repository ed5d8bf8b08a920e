// The C1 block-map expansion, the packed image reader, the image-information
// reader and the difference-code reader on arbitrary bytes: no crash, no read
// past the input; an accepted block map has the size its dimensions promise,
// and validation alone agrees with the full expansion.
#include <cstdint>
#include <cstdlib>

#include "fuzz_check.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto length = static_cast<std::uint32_t>(size);
  const std::uint8_t one = 0x11;
  const std::uint8_t four[4] = {1, 2, 3, 4};
  for (int skip = 0; skip < 2; ++skip) {
    std::uint8_t* map = nullptr;
    std::uint32_t map_size = 0, checked_size = 0;
    int vo, ho, rows, columns;
    const int status = gridmap_from_compact(data, length, &map, &map_size, &vo, &ho, &rows, &columns, skip,
                                            &one, four);
    const int checked = gridmap_from_compact(data, length, nullptr, &checked_size, &vo, &ho, &rows, &columns,
                                             skip, &one, four);
    require(status == checked);
    if (status != ML_OK) {
      require(map == nullptr);
      continue;
    }
    require(map_size == checked_size);
    const std::uint32_t n = static_cast<std::uint32_t>(rows * columns);
    require(map_size == 15 + 2 * n || map_size == 15 + 20 * n);
    require(map[map_size - 1] == 0x11 && map[map_size - 5] == 1);
    int w, h;
    require(gridmap_extent_500(map, map_size, &w, &h) == ML_OK);
    std::free(map);
  }
  const std::uint8_t* pixels = nullptr;
  std::uint16_t r, c, hd, vd;
  std::uint8_t flag;
  if (packed_image_read(data, length, &pixels, &r, &c, &hd, &vd, &flag) == ML_OK)
    require(pixels == data + 15 && size == 15u + std::size_t{r} * c);
  card_parse_image_info(data, length, &r, &c, &flag);
  std::uint8_t values[64];
  std::uint32_t count = 0;
  diffcode_unpack(data, length, size < 64 ? static_cast<std::uint32_t>(size) : 64, values, &count);
  return 0;
}
