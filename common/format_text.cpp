#include "common/format_text.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "common/code_page.h"
#include "common/full_width.h"

namespace reel {

std::optional<uint32_t> FormatArg::Low32() const {
  if (kind_ != Kind::Signed && kind_ != Kind::Unsigned) return std::nullopt;
  return static_cast<uint32_t>(bits_);
}

std::optional<uint64_t> FormatArg::Bits64() const {
  if (kind_ != Kind::Signed && kind_ != Kind::Unsigned) return std::nullopt;
  return bits_;
}

std::optional<double> FormatArg::Real() const {
  switch (kind_) {
    case Kind::Signed: return static_cast<double>(static_cast<int64_t>(bits_));
    case Kind::Unsigned: return static_cast<double>(bits_);
    case Kind::Real: return real_;
    case Kind::Text: break;
  }
  return std::nullopt;
}

std::optional<std::string_view> FormatArg::Text() const {
  if (kind_ != Kind::Text) return std::nullopt;
  return text_;
}

namespace {

constexpr std::string_view kDigits = "0123456789ABCDEF";

// Fraction digits are computed to at most nine places, the most whose place value (10^9) fits in
// 32 bits; further places are written as '0'.
constexpr std::size_t kMaxComputedFractionDigits = 9;
constexpr std::array<double, kMaxComputedFractionDigits + 1> kPowersOfTen = {
    1.0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
constexpr double kTwoToThe32 = 4294967296.0;

// One parsed conversion: "%" letter [flag] [width] ["." precision].
struct Conversion {
  char letter = 0;  // lower-cased for the full-width variants; 0 after a lone "l" or a character
  bool fullWidth = false;
  char flag = 0;  // '+', '-' or 0
  std::size_t width = 0;
  std::size_t precision = 0;
  bool takesArgument = false;
};

// Writes into the destination from its start, overwriting what is there.
class DestinationWriter {
 public:
  explicit DestinationWriter(std::string& destination) : destination_(destination) {}

  void Write(std::string_view bytes) {
    const std::size_t overlap = std::min(bytes.size(), destination_.size() - position_);
    destination_.replace(position_, overlap, bytes);
    position_ += bytes.size();
  }

  // Moves over the text already there, up to its first zero byte.
  void SkipExisting() {
    while (position_ < destination_.size() && destination_[position_] != '\0') ++position_;
  }

  void Finish() { destination_.resize(position_); }

 private:
  std::string& destination_;
  std::size_t position_ = 0;
};

// Reads the format one byte at a time.
class FormatCursor {
 public:
  explicit FormatCursor(std::string_view format) : format_(format) {}

  bool AtEnd() const { return position_ >= format_.size(); }
  char Peek() const { return AtEnd() ? '\0' : format_[position_]; }
  char Next() { return AtEnd() ? '\0' : format_[position_++]; }
  std::size_t Position() const { return position_; }
  void Advance(std::size_t count) { position_ = std::min(position_ + count, format_.size()); }
  std::string_view Text() const { return format_; }

  // Up to two decimal digits; a third digit is left as text.
  std::size_t ReadNumber() {
    std::size_t value = 0;
    for (int digits = 0; digits < 2 && Peek() >= '0' && Peek() <= '9'; ++digits) {
      value = value * 10 + static_cast<std::size_t>(Next() - '0');
    }
    return value;
  }

 private:
  std::string_view format_;
  std::size_t position_ = 0;
};

bool IsNumericLetter(char letter) {
  return std::string_view("duzxoft").find(letter) != std::string_view::npos;
}

bool TakesArgument(char letter) {
  return letter == 'c' || letter == 's' || IsNumericLetter(letter);
}

char ToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The letter after "%" with its case split off. Upper-case numeric letters and "S" are the
// full-width variants; every other upper-case letter is unknown and keeps its case.
Conversion ClassifyLetter(char letter) {
  Conversion conversion;
  const char lower = ToLower(letter);
  const bool upper = lower != letter;
  if (upper && !IsNumericLetter(lower) && lower != 's') {
    conversion.letter = letter;
    return conversion;
  }
  conversion.letter = lower;
  conversion.fullWidth = upper;
  conversion.takesArgument = TakesArgument(lower);
  return conversion;
}

// Parses what follows a "%". Returns none at the end of the format, where output stops.
std::optional<Conversion> ParseConversion(FormatCursor& cursor, CodePage page) {
  if (cursor.AtEnd()) return std::nullopt;
  char letter = cursor.Next();
  if (letter == 'l') {
    if (cursor.AtEnd()) return std::nullopt;
    letter = cursor.Next();
    if (std::string_view("dDuUxXoO").find(letter) == std::string_view::npos) return Conversion{};
  } else if (page == CodePage::Utf8) {
    // Under Shift-JIS the byte after "%" is the letter whatever it is: a lead byte there is an
    // unknown letter and the byte after it stays as text. A UTF-8 continuation byte is no text on
    // its own, so under UTF-8 a whole character after "%" is the unknown letter.
    if (const std::size_t length = CharacterLength(cursor.Text(), cursor.Position() - 1, page); length > 1) {
      cursor.Advance(length - 1);
      return Conversion{};
    }
  }
  Conversion conversion = ClassifyLetter(letter);
  if (IsNumericLetter(conversion.letter)) {
    if (cursor.Peek() == '+' || cursor.Peek() == '-') conversion.flag = cursor.Next();
  }
  if (IsNumericLetter(conversion.letter) || conversion.letter == 's') {
    conversion.width = cursor.ReadNumber();
  }
  if (conversion.letter == 'f' && cursor.Peek() == '.') {
    cursor.Next();
    conversion.precision = cursor.ReadNumber();
  }
  return conversion;
}

std::string Digits(uint64_t value, uint64_t base) {
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[value % base]);
    value /= base;
  } while (value != 0);
  return digits;
}

// Right-aligns digits in `width` positions, keeping the lowest ones; width 0 keeps them all.
std::string FitRight(std::string digits, std::size_t width, char pad) {
  if (width == 0) return digits;
  if (digits.size() >= width) return digits.substr(digits.size() - width);
  return std::string(width - digits.size(), pad) + digits;
}

std::optional<char> SignFor(char flag, bool negative) {
  if (flag == '+') return negative ? '-' : '+';
  if (flag == '-') return negative ? '-' : ' ';
  return std::nullopt;
}

// The sign takes the last padding space before the digits; when the digits fill the field it
// goes in front of them and the field grows by one, so it is never lost.
std::string PlaceSign(std::string field, std::optional<char> sign) {
  if (!sign) return field;
  const std::size_t firstDigit = field.find_first_not_of(' ');
  if (firstDigit == 0 || firstDigit == std::string::npos) return *sign + field;
  field[firstDigit - 1] = *sign;
  return field;
}

std::string SignedField(const Conversion& conversion, const FormatArg* arg) {
  const std::optional<uint32_t> bits = arg ? arg->Low32() : std::nullopt;
  if (!bits) return {};
  const bool negative = static_cast<int32_t>(*bits) < 0;
  const uint32_t magnitude = negative ? 0u - *bits : *bits;
  return PlaceSign(FitRight(Digits(magnitude, 10), conversion.width, ' '),
                   SignFor(conversion.flag, negative));
}

std::string UnsignedField(const Conversion& conversion, const FormatArg* arg) {
  if (!arg) return {};
  const std::optional<uint64_t> bits =
      conversion.letter == 't' ? arg->Bits64() : std::optional<uint64_t>(arg->Low32());
  if (!bits) return {};
  return FitRight(Digits(*bits, 10), conversion.width, ' ');
}

// z, x and o: exactly `width` digits, zero-padded; no width, no field.
std::string ZeroPaddedField(const Conversion& conversion, const FormatArg* arg) {
  const std::optional<uint32_t> bits = arg ? arg->Low32() : std::nullopt;
  if (!bits || conversion.width == 0) return {};
  const uint64_t base = conversion.letter == 'x' ? 16 : conversion.letter == 'o' ? 8 : 10;
  return FitRight(Digits(*bits, base), conversion.width, '0');
}

std::string FractionDigits(double fraction, std::size_t precision) {
  const std::size_t computed = std::min(precision, kMaxComputedFractionDigits);
  std::string digits;
  if (computed > 0) {
    const double scale = kPowersOfTen[computed];
    // A fraction just below 1 may round up to the scale itself; it must not carry.
    const double scaled = std::min(std::trunc(fraction * scale), scale - 1.0);
    digits = FitRight(Digits(static_cast<uint64_t>(scaled), 10), computed, '0');
  }
  return digits + std::string(precision - computed, '0');
}

// The integer part taken modulo 2^32 and the true fractional part; NaN and infinities have a
// magnitude of 0.
std::string RealField(const Conversion& conversion, const FormatArg* arg) {
  const std::optional<double> value = arg ? arg->Real() : std::nullopt;
  if (!value) return {};
  const bool negative = *value < 0.0;
  const double magnitude = std::isfinite(*value) ? std::fabs(*value) : 0.0;
  const double integerPart = std::trunc(magnitude);
  const auto wrapped = static_cast<uint32_t>(std::fmod(integerPart, kTwoToThe32));
  const std::string integerField = PlaceSign(FitRight(Digits(wrapped, 10), conversion.width, ' '),
                                             SignFor(conversion.flag, negative));
  return integerField + "." + FractionDigits(magnitude - integerPart, conversion.precision);
}

std::string CharacterField(const FormatArg* arg) {
  const std::optional<uint32_t> bits = arg ? arg->Low32() : std::nullopt;
  if (!bits) return {};
  return std::string(1, static_cast<char>(*bits & 0xFF));
}

// Exactly `columns` screen columns of UTF-8 text: whole characters only, then spaces.
std::string FitColumns(std::string_view text, std::size_t columns) {
  std::string field;
  std::size_t used = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::string_view character =
        text.substr(pos, CharacterLength(text, pos, CodePage::Utf8));
    const std::size_t width = Utf8CharacterColumns(character);
    if (used + width > columns) break;
    field.append(character);
    used += width;
    pos += character.size();
  }
  return field + std::string(columns - used, ' ');
}

// s: the text, or with a width exactly that many bytes. S: the full-width text in twice the
// width, counted in bytes under CP932 (which may cut a character in half) and in screen columns
// under UTF-8 (which never does).
std::string TextField(const Conversion& conversion, const FormatArg* arg, CodePage page) {
  const std::optional<std::string_view> text = arg ? arg->Text() : std::nullopt;
  if (!text) return {};
  std::string field(UpToZero(*text));
  if (!conversion.fullWidth) {
    if (conversion.width > 0) field.resize(conversion.width, ' ');
    return field;
  }
  ToFullWidth(field, field, page);
  if (conversion.width == 0) return field;
  if (page == CodePage::Utf8) return FitColumns(field, 2 * conversion.width);
  field.resize(2 * conversion.width, ' ');
  return field;
}

std::string NumericField(const Conversion& conversion, const FormatArg* arg) {
  switch (conversion.letter) {
    case 'd': return SignedField(conversion, arg);
    case 'u':
    case 't': return UnsignedField(conversion, arg);
    case 'f': return RealField(conversion, arg);
    default: return ZeroPaddedField(conversion, arg);
  }
}

std::string BuildField(const Conversion& conversion, const FormatArg* arg, CodePage page) {
  if (conversion.letter == '%') return "%";
  if (conversion.letter == 'c') return CharacterField(arg);
  if (conversion.letter == 's') return TextField(conversion, arg, page);
  if (!IsNumericLetter(conversion.letter)) return {};
  std::string field = NumericField(conversion, arg);
  if (conversion.fullWidth) ToFullWidth(field, field, page);
  return field;
}

}  // namespace

void FormatText(std::string& destination, std::string_view format,
                std::span<const FormatArg> args) {
  const CodePage page = CurrentCodePage();
  DestinationWriter writer(destination);
  FormatCursor cursor(UpToZero(format));
  std::size_t nextArg = 0;
  while (!cursor.AtEnd()) {
    const char byte = cursor.Next();
    if (byte != '%') {
      writer.Write(std::string_view(&byte, 1));
      continue;
    }
    const std::optional<Conversion> conversion = ParseConversion(cursor, page);
    if (!conversion) break;
    if (conversion->letter == 'r') {
      writer.SkipExisting();
      continue;
    }
    const FormatArg* arg = nullptr;
    if (conversion->takesArgument) {
      arg = nextArg < args.size() ? &args[nextArg] : nullptr;
      ++nextArg;
    }
    writer.Write(BuildField(*conversion, arg, page));
  }
  writer.Finish();
}

void FormatText(std::string& destination, std::string_view format,
                std::initializer_list<FormatArg> args) {
  FormatText(destination, format, std::span<const FormatArg>(args.begin(), args.size()));
}

}  // namespace reel
