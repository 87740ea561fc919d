#include "tests/support/jpeg_pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "common/zigzag.h"

namespace reel::test {
namespace {

struct JumpErrors {
  jpeg_error_mgr manager{};
  std::jmp_buf jump{};
};

[[noreturn]] void JumpOut(j_common_ptr info) { std::longjmp(static_cast<JumpErrors*>(info->client_data)->jump, 1); }

uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

}  // namespace

std::vector<uint8_t> NaturalRgb(int width, int height, uint32_t seed) {
  std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  uint32_t state = seed;
  const double cx = width * 0.6;
  const double cy = height * 0.4;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double distance = std::hypot(x - cx, y - cy);
      const bool inDisc = distance < std::min(width, height) * 0.3;
      const double wave = 40.0 * std::sin(x * 0.07 + y * 0.03);
      const int noise = static_cast<int>(NextRandom(state) % 9) - 4;
      const double r = 60 + 150.0 * x / std::max(1, width - 1) + wave + noise;
      const double g = inDisc ? 200 - distance : 80 + 120.0 * y / std::max(1, height - 1) + noise;
      const double b = 128 + 90 * std::cos(distance * 0.05) - wave * 0.5 + noise;
      uint8_t* pixel = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      pixel[0] = static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
      pixel[1] = static_cast<uint8_t>(std::clamp(g, 0.0, 255.0));
      pixel[2] = static_cast<uint8_t>(std::clamp(b, 0.0, 255.0));
    }
  }
  return rgb;
}

BmpImage BottomUpPicture(std::span<const uint8_t> rgb, int width, int height) {
  BmpImage picture = *BmpImage::Create(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 24);
  for (int y = 0; y < height; ++y) {
    auto row = picture.Row(static_cast<uint32_t>(height - 1 - y));
    for (int x = 0; x < width; ++x) {
      const auto pixel = rgb.subspan((static_cast<std::size_t>(y) * width + x) * 3, 3);
      row[x * 3u] = pixel[2];
      row[x * 3u + 1] = pixel[1];
      row[x * 3u + 2] = pixel[0];
    }
  }
  return picture;
}

std::vector<uint8_t> MakeTestJpeg(const TestJpegOptions& options, std::span<const uint8_t> samples) {
  jpeg_compress_struct info{};
  JumpErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JumpOut;
  info.client_data = &errors;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return {};
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(options.width);
  info.image_height = static_cast<JDIMENSION>(options.height);
  const int components = options.grey ? 1 : options.components;
  info.input_components = components;
  info.in_color_space = options.grey ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_UNKNOWN;
  jpeg_set_defaults(&info);
  if (components != 3 && !options.grey) jpeg_set_colorspace(&info, JCS_UNKNOWN);
  jpeg_set_quality(&info, options.quality, options.sixteenBitTables ? FALSE : TRUE);
  if (components == 3) {
    const int luminanceH = options.sampling == Sampling::k444 ? 1 : 2;
    const int luminanceV = options.sampling == Sampling::k420 ? 2 : 1;
    info.comp_info[0].h_samp_factor = luminanceH;
    info.comp_info[0].v_samp_factor = luminanceV;
    for (int c = 1; c < 3; ++c) info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
  }
  info.restart_interval = static_cast<unsigned int>(options.restartInterval);
  if (options.progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  const std::size_t rowBytes = static_cast<std::size_t>(options.width) * components;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(samples.data()) + info.next_scanline * rowBytes;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> jpeg(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return jpeg;
}

std::vector<uint8_t> MergeQuantSegments(std::span<const uint8_t> jpeg) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);  // SOI
  std::vector<uint8_t> merged;
  std::size_t firstDqt = 0;
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
    const std::size_t length = (jpeg[pos + 2] << 8) | jpeg[pos + 3];
    if (jpeg[pos + 1] == 0xDB) {
      if (merged.empty()) firstDqt = out.size();
      merged.insert(merged.end(), jpeg.begin() + static_cast<long>(pos + 4), jpeg.begin() + static_cast<long>(pos + 2 + length));
    } else {
      out.insert(out.end(), jpeg.begin() + static_cast<long>(pos), jpeg.begin() + static_cast<long>(pos + 2 + length));
    }
    pos += 2 + length;
  }
  std::vector<uint8_t> segment = {0xFF, 0xDB, static_cast<uint8_t>((merged.size() + 2) >> 8),
                                  static_cast<uint8_t>(merged.size() + 2)};
  segment.insert(segment.end(), merged.begin(), merged.end());
  out.insert(out.begin() + static_cast<long>(firstDqt), segment.begin(), segment.end());
  out.insert(out.end(), jpeg.begin() + static_cast<long>(pos), jpeg.end());
  return out;
}

std::optional<CoefficientSet> ReadWithLibjpeg(std::span<const uint8_t> jpeg) {
  jpeg_decompress_struct info{};
  JumpErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JumpOut;
  info.client_data = &errors;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  jvirt_barray_ptr* arrays = jpeg_read_coefficients(&info);
  CoefficientSet set;
  set.width = info.image_width;
  set.height = info.image_height;
  const int maxH = info.max_h_samp_factor;
  const int maxV = info.max_v_samp_factor;
  const unsigned across = (info.image_width + 8u * maxH - 1) / (8u * maxH);
  const unsigned down = (info.image_height + 8u * maxV - 1) / (8u * maxV);
  for (unsigned my = 0; my < down; ++my) {
    for (unsigned mx = 0; mx < across; ++mx) {
      for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        const JQUANT_TBL* quant = info.quant_tbl_ptrs[component.quant_tbl_no];
        for (int by = 0; by < component.v_samp_factor; ++by) {
          const JBLOCKARRAY rows = info.mem->access_virt_barray(
              reinterpret_cast<j_common_ptr>(&info), arrays[c], my * component.v_samp_factor + by, 1, FALSE);
          for (int bx = 0; bx < component.h_samp_factor; ++bx) {
            const JCOEF* coefficients = rows[0][mx * component.h_samp_factor + bx];
            CoefficientBlock block{};
            for (int k = 0; k < 64; ++k) block[k] = coefficients[k] * quant->quantval[k];
            set.blocks.push_back(block);
          }
        }
      }
    }
  }
  for (int t = 0; t < 2; ++t) {
    if (info.quant_tbl_ptrs[t] == nullptr) continue;
    for (int k = 0; k < 64; ++k) set.quantTables[t][k] = info.quant_tbl_ptrs[t]->quantval[kZigZag[k]];
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return set;
}

std::vector<uint8_t> DecodeWithLibjpeg(std::span<const uint8_t> jpeg, int& width, int& height, bool smoothChroma) {
  jpeg_decompress_struct info{};
  JumpErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JumpOut;
  info.client_data = &errors;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return {};
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  info.dct_method = JDCT_ISLOW;
  info.do_fancy_upsampling = smoothChroma ? TRUE : FALSE;
  jpeg_start_decompress(&info);
  width = static_cast<int>(info.output_width);
  height = static_cast<int>(info.output_height);
  std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = rgb.data() + static_cast<std::size_t>(info.output_scanline) * width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return rgb;
}

double Psnr(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  double squared = 0;
  for (std::size_t i = 0; i < a.size(); ++i) squared += (a[i] - b[i]) * double(a[i] - b[i]);
  if (squared == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / squared);
}

}  // namespace reel::test
