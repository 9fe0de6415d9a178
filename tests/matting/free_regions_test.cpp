// Free regions and the kinds of strokes around them, on layouts counted by hand.
#include "matting/free_regions.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "numeric/allocate.h"

namespace {

struct Layout {
  const char* what;
  const char* rows;  // separated by '/': '.' free, 'B' background, 'F' foreground, 'g' grey
  double count, mixed;
};

// Regions are 4-connected and touch a kind through a 4-neighbour; the image's edge is no kind.
// clang-format off
const Layout kLayouts[] = {
    {"a ring of background around a foreground dot", "BBBBB/B...B/B.F.B/B...B/BBBBB", 8, 8},
    {"inside a white outline; outside it by black", "FFFFF../F...F../F...F../FFFFF.B", 13, 7},
    {"pixels joined only at their corners are separate regions", ".B./B.F/.F.", 5, 3},
    {"a grey target is a kind of its own besides background", "B...g", 3, 3},
    {"background alone, the image's edge around it", "...../..B../.....", 14, 0},
    {"a background wall between two regions", "F..B.../F..B...", 10, 4},
    {"no free pixel", "BF/FB", 0, 0},
    {"arms joined below, the left one by black alone", ".B.F/.B.F/....", 8, 8},
    {"arms joined below, the right one by black alone", "F.B./F.B./....", 8, 8},
    {"two arms joined above them", "..../F.B./F.B.", 8, 8},
};
// clang-format on

}  // namespace

TEST(FreeRegions, CountsThePixelsOfRegionsBetweenBothKinds) {
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(l.what);
    std::vector<std::string> rows;
    std::stringstream text(l.rows);
    for (std::string row; std::getline(text, row, '/');) rows.push_back(row);
    const int h = static_cast<int>(rows.size()), w = static_cast<int>(rows[0].size());
    double** mask = get_init_arr_t<double>(w, h);
    double** value = get_init_arr_t<double>(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const char c = rows[y][x];
        mask[y][x] = c == '.' ? 0.0 : 1.0;
        value[y][x] = c == 'F' ? 1.0 : c == 'g' ? 0.5 : 0.0;
      }
    const FreePixels f = count_free_pixels(mask, value, w, h);
    EXPECT_EQ(f.count, l.count);
    EXPECT_EQ(f.mixed, l.mixed);
    free_img_t(mask);
    free_img_t(value);
  }
}
