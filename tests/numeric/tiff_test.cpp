// The image record: planes per type letter, the record fields, messages and release.
#include "numeric/tiff.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <string>

// The sanitizer's allocator keeps no glibc malloc statistics (GCC and Clang spell this apart).
#if defined(__SANITIZE_ADDRESS__)
#define QUILLANE_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLANE_TEST_UNDER_ASAN 1
#endif
#endif
#ifndef QUILLANE_TEST_UNDER_ASAN
#define QUILLANE_TEST_UNDER_ASAN 0
#endif

namespace {

// Pointer values that get_TIFF must leave alone in the fields a type does not use.
uint8_t** const kUntouchedPlane = reinterpret_cast<uint8_t**>(0x1000);
uint8_t*** const kUntouchedChannels = reinterpret_cast<uint8_t***>(0x2000);
uint8_t** const kUntouchedPalette = reinterpret_cast<uint8_t**>(0x3000);

TIFF_img fresh_record() {
  TIFF_img img;
  img.height = -7;
  img.width = -7;
  img.TIFF_type = '?';
  img.plane = kUntouchedPlane;
  img.channels = kUntouchedChannels;
  img.compress_type = '?';
  img.palette = kUntouchedPalette;
  return img;
}

// Checks a height x width byte plane laid out as one block, rows `width` bytes apart, and
// writes every pixel of it (an out-of-bounds write shows up under AddressSanitizer).
void check_plane(uint8_t** plane, int height, int width, uint8_t fill) {
  ASSERT_NE(plane, nullptr);
  for (int y = 0; y < height; ++y) ASSERT_EQ(plane[y], plane[0] + y * width) << "row " << y;
  std::memset(plane[0], fill, static_cast<size_t>(height) * width);
  EXPECT_EQ(plane[height - 1][width - 1], fill);
}

size_t mapped_chunks() {
  return mallinfo2().hblks;
}

}  // namespace

TEST(TiffRecord, GreyImageHasOnePlaneAndLeavesOtherFieldsAlone) {
  TIFF_img img = fresh_record();
  ASSERT_EQ(get_TIFF(&img, 4, 6, 'g'), 0);
  EXPECT_EQ(img.height, 4);
  EXPECT_EQ(img.width, 6);
  EXPECT_EQ(img.TIFF_type, 'g');
  EXPECT_EQ(img.compress_type, 'u');
  check_plane(img.plane, 4, 6, 0x11);
  EXPECT_EQ(img.channels, kUntouchedChannels);
  EXPECT_EQ(img.palette, kUntouchedPalette);
  EXPECT_EQ(channel_count(img), 1);
  free_TIFF(&img);
}

TEST(TiffRecord, PaletteImageHasIndexPlaneAndA256By3Palette) {
  TIFF_img img = fresh_record();
  ASSERT_EQ(get_TIFF(&img, 3, 5, 'p'), 0);
  check_plane(img.plane, 3, 5, 0x22);
  check_plane(img.palette, 256, 3, 0x33);
  EXPECT_NE(img.palette[0], img.plane[0]);
  EXPECT_EQ(img.channels, kUntouchedChannels);
  EXPECT_EQ(channel_count(img), 1);
  free_TIFF(&img);
}

TEST(TiffRecord, ColourImagesHaveThreeOrFourSeparatePlanes) {
  for (char type : {'c', 'a'}) {
    SCOPED_TRACE(std::string("type ") + type);
    const int planes = type == 'c' ? 3 : 4;
    TIFF_img img = fresh_record();
    ASSERT_EQ(get_TIFF(&img, 7, 2, type), 0);
    EXPECT_EQ(img.TIFF_type, type);
    EXPECT_EQ(img.compress_type, 'u');
    ASSERT_NE(img.channels, nullptr);
    for (int i = 0; i < planes; ++i) check_plane(img.channels[i], 7, 2, uint8_t(i + 1));
    // Filling each plane in turn must not have overwritten another one.
    for (int i = 0; i < planes; ++i) EXPECT_EQ(img.channels[i][3][1], i + 1) << "plane " << i;
    EXPECT_EQ(img.plane, kUntouchedPlane);
    EXPECT_EQ(img.palette, kUntouchedPalette);
    EXPECT_EQ(channel_count(img), 3);  // the engine reads red, green and blue only
    free_TIFF(&img);
  }
}

TEST(TiffRecord, EachPlaneIsOneAllocationAndFreeTiffReleasesThemAll) {
#if QUILLANE_TEST_UNDER_ASAN
  GTEST_SKIP() << "no malloc statistics under the sanitizer; LeakSanitizer checks this";
#endif
  // 400 x 400 planes are far above the (fixed) mmap threshold, so each plane is one mapped
  // chunk, while row tables, the plane table and the palette stay on the heap.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  const struct {
    char type;
    size_t planes;
  } cases[] = {{'g', 1}, {'p', 1}, {'c', 3}, {'a', 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("type ") + c.type);
    const size_t before = mapped_chunks();
    TIFF_img img = fresh_record();
    ASSERT_EQ(get_TIFF(&img, 400, 400, c.type), 0);
    EXPECT_EQ(mapped_chunks() - before, c.planes);
    free_TIFF(&img);
    EXPECT_EQ(mapped_chunks(), before);
    EXPECT_EQ(img.TIFF_type, c.type);  // the record's fields are not reset
    EXPECT_EQ(img.height, 400);
  }
}

TEST(TiffRecord, FreeTiffOfAnUnknownTypeFreesNothing) {
  TIFF_img img = fresh_record();
  img.TIFF_type = 'x';
  free_TIFF(&img);  // would crash on the bogus pointers if it freed anything
  EXPECT_EQ(img.plane, kUntouchedPlane);
  EXPECT_EQ(img.channels, kUntouchedChannels);
}

TEST(TiffRecord, NonPositiveSizeIsRefusedButTheFieldsAreStored) {
  const struct { int height, width; } sizes[] = {{0, 5}, {-3, 5}, {5, 0}, {4, -1}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.height) + " x " + std::to_string(size.width));
    TIFF_img img = fresh_record();
    ::testing::internal::CaptureStderr();
    int status = get_TIFF(&img, size.height, size.width, 'c');
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "tiff:  function get_TIFF:\nimage height and width must be positive\n");
    EXPECT_EQ(img.height, size.height);
    EXPECT_EQ(img.width, size.width);
    EXPECT_EQ(img.TIFF_type, 'c');
    EXPECT_EQ(img.compress_type, 'u');
    EXPECT_EQ(img.channels, kUntouchedChannels);  // nothing allocated
  }
}

TEST(TiffRecord, UnknownTypeLetterIsRefusedWithoutALineEnd) {
  TIFF_img img = fresh_record();
  ::testing::internal::CaptureStderr();
  int status = get_TIFF(&img, 8, 9, 'x');
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "tiff:  function get_TIFF:\nallocation for image of type x is not supported");
  EXPECT_EQ(img.height, 8);
  EXPECT_EQ(img.width, 9);
  EXPECT_EQ(img.TIFF_type, 'x');
  EXPECT_EQ(img.compress_type, 'u');
  EXPECT_EQ(img.plane, kUntouchedPlane);
  EXPECT_EQ(img.channels, kUntouchedChannels);
  EXPECT_EQ(img.palette, kUntouchedPalette);
}

TEST(TiffRecordDeathTest, OversizedImageEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TIFF_img img = fresh_record();
  EXPECT_EXIT(get_TIFF(&img, 1 << 15, 1 << 16, 'g'), ::testing::ExitedWithCode(255),
              "==> malloc\\(\\) error");
}
