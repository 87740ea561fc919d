// libpng reports errors through a callback that must not return: it leaves with longjmp to the
// jump point of the one function that calls the library, which holds no objects with destructors.
#include "tools/qrxtool/png_file.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace reel {
namespace {

void Quiet(png_structp, png_const_charp) {}

// Writes the picture to an open file; false when libpng gives up.
bool WritePng(std::FILE* file, uint32_t width, uint32_t height, const uint8_t* rgb) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, Quiet);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) png_write_row(png, rgb + std::size_t{y} * width * 3);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

Status WritePngFile(const std::string& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb) {
  if (width == 0 || height == 0 || rgb.size() != std::size_t{width} * height * 3) {
    return MakeError(ErrorKind::kUsage, path, "the picture's bytes do not match its size");
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return MakeError(ErrorKind::kCannotWrite, path, std::string("cannot create the file: ") + std::strerror(errno));
  }
  const bool written = WritePng(file, width, height, rgb.data());
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) return MakeError(ErrorKind::kCannotWrite, path, "write failed");
  return {};
}

}  // namespace reel
