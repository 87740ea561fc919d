// Arbitrary formats and arguments for FormatText, and arbitrary text for ToFullWidth, under both
// code pages. The input is: one byte choosing the code page (bit 0) and the number of arguments
// (bits 1-3); nine bytes per argument (a kind byte: signed, unsigned, double or text; then eight
// bytes of value, for a text its length); then the format, a zero byte, and the text that the
// text arguments and the destination's earlier content (for "%r") are cut from.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/code_page.h"
#include "common/format_text.h"
#include "common/full_width.h"

namespace {

constexpr std::size_t kArgumentBytes = 9;

uint64_t Little64(const uint8_t* bytes) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const reel::CodePage page = (data[0] & 1) != 0 ? reel::CodePage::Utf8 : reel::CodePage::Cp932;
  const std::size_t count = (data[0] >> 1) & 7u;
  if (size < 1 + count * kArgumentBytes) return 0;
  const reel::ScopedCodePage scoped(page);

  const std::string_view rest(reinterpret_cast<const char*>(data) + 1 + count * kArgumentBytes,
                              size - 1 - count * kArgumentBytes);
  const std::size_t zero = rest.find('\0');
  const std::string_view format = rest.substr(0, zero);
  const std::string_view pool = zero == std::string_view::npos ? std::string_view() : rest.substr(zero + 1);

  std::vector<reel::FormatArg> args;
  std::size_t poolAt = 0;
  for (std::size_t a = 0; a < count; ++a) {
    const uint8_t* at = data + 1 + a * kArgumentBytes;
    const uint64_t value = Little64(at + 1);
    switch (at[0] % 4) {
      case 0: args.emplace_back(static_cast<int64_t>(value)); break;
      case 1: args.emplace_back(value); break;
      case 2: {
        double real = 0.0;
        std::memcpy(&real, &value, sizeof real);
        args.emplace_back(real);
        break;
      }
      default: {
        const std::size_t length = std::min<std::size_t>(value % 512, pool.size() - std::min(poolAt, pool.size()));
        args.emplace_back(pool.substr(std::min(poolAt, pool.size()), length));
        poolAt += length;
        break;
      }
    }
  }

  std::string destination(pool.substr(0, std::min<std::size_t>(pool.size(), 64)));
  reel::FormatText(destination, format, std::span<const reel::FormatArg>(args));

  // Every converted character takes two bytes in Shift-JIS and three in UTF-8.
  std::string wide;
  const std::size_t converted = reel::ToFullWidth(wide, pool, page);
  const std::string_view source = reel::UpToZero(pool);
  if (converted > source.size()) std::abort();
  if (wide.size() > 3 * source.size()) std::abort();
  return 0;
}
