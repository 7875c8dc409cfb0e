// Test photos encoded with libjpeg: small ones after a recipe, and a big one
// grown from a sample.
#include "files.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

// jpeglib.h expects these declared first.
#include <jpeglib.h>

namespace e2e {

uint8_t ScrambledByte(uint32_t& state) {
  state = state * 1664525u + 1013904223u;  // a linear congruential step
  return static_cast<uint8_t>(state >> 24);
}

Bytes MakeJpeg(int width, int height) {
  JpegRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  return MakeJpeg(recipe);
}

namespace {

using Space = JpegRecipe::Space;

int ComponentsOf(Space space) {
  switch (space) {
    case Space::kGray:
      return 1;
    case Space::kCmyk:
    case Space::kYcck:
      return 4;
    case Space::kRgb:
      break;
  }
  return 3;
}

// One row of the recipe's picture, `components` samples per pixel.
void FillRow(const JpegRecipe& recipe, int y, uint32_t& noise, std::vector<JSAMPLE>& row) {
  const int components = ComponentsOf(recipe.space);
  for (int x = 0; x < recipe.width; ++x) {
    JSAMPLE* pixel = row.data() + static_cast<size_t>(x) * components;
    for (int c = 0; c < components; ++c) {
      switch (recipe.picture) {
        case JpegRecipe::Picture::kFlat:
          pixel[c] = recipe.flat.at(static_cast<size_t>(c));
          break;
        case JpegRecipe::Picture::kNoise:
          pixel[c] = ScrambledByte(noise);
          break;
        case JpegRecipe::Picture::kGradient:
          pixel[c] =
              static_cast<JSAMPLE>(c == 0   ? x * 255 / (recipe.width > 1 ? recipe.width - 1 : 1)
                                   : c == 1 ? y * 255 / (recipe.height > 1 ? recipe.height - 1 : 1)
                                   : c == 2 ? 128
                                            : 255);  // inverted CMYK: no black
          break;
      }
    }
  }
}

// Encodes a width by height image at quality 90 with libjpeg's defaults for
// the input `setup` gives (components, colour space, then any change of the
// defaults), taking its rows one at a time from `fill`.
Bytes EncodeRows(const std::function<void(jpeg_compress_struct&)>& setup, int width, int height,
                 const std::function<void(int y, std::vector<JSAMPLE>& row)>& fill) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  setup(cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * cinfo.input_components);
  while (cinfo.next_scanline < cinfo.image_height) {
    fill(static_cast<int>(cinfo.next_scanline), row);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(out, out + outSize);
  std::free(out);
  return bytes;
}

}  // namespace

Bytes MakeJpeg(const JpegRecipe& recipe) {
  const J_COLOR_SPACE space = recipe.space == Space::kGray  ? JCS_GRAYSCALE
                              : recipe.space == Space::kRgb ? JCS_RGB
                                                            : JCS_CMYK;
  uint32_t noise = 12345;
  return EncodeRows(
      [&](jpeg_compress_struct& cinfo) {
        cinfo.input_components = ComponentsOf(recipe.space);
        cinfo.in_color_space = space;
        jpeg_set_defaults(&cinfo);  // CMYK in: CMYK stored, with Adobe's marker
        if (recipe.space == Space::kYcck)
          jpeg_set_colorspace(&cinfo, JCS_YCCK);
        if (recipe.progressive)
          jpeg_simple_progression(&cinfo);
        cinfo.restart_in_rows = recipe.restartRows;
      },
      recipe.width, recipe.height,
      [&](int y, std::vector<JSAMPLE>& row) { FillRow(recipe, y, noise, row); });
}

namespace {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<JSAMPLE> rgb;  // rows of width RGB pixels
};

Picture DecodeRgb(const Bytes& jpeg) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);  // the samples decode: exiting is fine
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  Picture picture;
  picture.width = static_cast<int>(cinfo.output_width);
  picture.height = static_cast<int>(cinfo.output_height);
  picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row =
        picture.rgb.data() + static_cast<size_t>(cinfo.output_scanline) * picture.width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return picture;
}

// The picture `zoom` times as wide and high, interpolated bilinearly.
Picture Enlarged(const Picture& small, int zoom) {
  Picture big;
  big.width = small.width * zoom;
  big.height = small.height * zoom;
  big.rgb.resize(static_cast<size_t>(big.width) * big.height * 3);
  auto at = [&](int x, int y, int c) {
    return static_cast<int>(small.rgb[(static_cast<size_t>(y) * small.width + x) * 3 + c]);
  };
  for (int y = 0; y < big.height; ++y) {
    const int y0 = y / zoom, y1 = std::min(y0 + 1, small.height - 1);
    const int wy = (y % zoom) * 256 / zoom;
    for (int x = 0; x < big.width; ++x) {
      const int x0 = x / zoom, x1 = std::min(x0 + 1, small.width - 1);
      const int wx = (x % zoom) * 256 / zoom;
      for (int c = 0; c < 3; ++c) {
        const int top = at(x0, y0, c) * (256 - wx) + at(x1, y0, c) * wx;
        const int bottom = at(x0, y1, c) * (256 - wx) + at(x1, y1, c) * wx;
        big.rgb[(static_cast<size_t>(y) * big.width + x) * 3 + c] =
            static_cast<JSAMPLE>((top * (256 - wy) + bottom * wy + (1 << 15)) >> 16);
      }
    }
  }
  return big;
}

}  // namespace

Bytes MakeBigPhoto(const Bytes& sample, int width, int height, bool progressive) {
  constexpr int kZoom = 2;
  constexpr int kGrain = 6;  // grain from -6 to +6 on every sample
  const Picture tile = Enlarged(DecodeRgb(sample), kZoom);
  // Grain from a table, read from a different place on each row: drawing it
  // afresh for 600 million samples would take most of the time.
  std::vector<int> grain(static_cast<size_t>(width) * 3 + 4099);
  uint32_t noise = 2024;
  for (int& g : grain)
    g = ScrambledByte(noise) % (2 * kGrain + 1) - kGrain;

  return EncodeRows(
      [&](jpeg_compress_struct& cinfo) {
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);  // 4:2:0, as cameras store it
        if (progressive)
          jpeg_simple_progression(&cinfo);
      },
      width, height,
      [&](int y, std::vector<JSAMPLE>& row) {
        const int tileRow = y / tile.height;
        const int inTile = tileRow % 2 ? tile.height - 1 - y % tile.height : y % tile.height;
        const JSAMPLE* source = tile.rgb.data() + static_cast<size_t>(inTile) * tile.width * 3;
        const int* rowGrain = grain.data() + static_cast<size_t>(y) * 7919 % 4099;
        for (int x = 0, tileColumn = 0; x < width; x += tile.width, ++tileColumn) {
          const int shade =
              static_cast<int>(
                  (static_cast<uint32_t>(tileColumn * 7 + tileRow * 13) * 2654435761u) >> 28) -
              8;
          const int count = std::min(tile.width, width - x);
          for (int i = 0; i < count; ++i) {
            const int from = tileColumn % 2 ? tile.width - 1 - i : i;
            for (int c = 0; c < 3; ++c) {
              const size_t to = (static_cast<size_t>(x) + i) * 3 + c;
              const int value = source[from * 3 + c] + shade + rowGrain[to];
              row[to] = static_cast<JSAMPLE>(std::clamp(value, 0, 255));
            }
          }
        }
      });
}

}  // namespace e2e
