// The small printf-like formatter both programs build their computed texts with.
//
// Its syntax is its own: the conversion letter comes first and its sign flag and width follow,
// as in "%d+3" or "%f3.2". An upper-case letter gives the same field in full-width characters.
//
//   %%  a "%"                       %c  the low byte of an integer
//   %d  signed decimal              %u  unsigned decimal        %t  unsigned 64-bit decimal
//   %z  zero-padded decimal         %x  hexadecimal (A-F)       %o  octal
//   %f  fixed point, "%f<width>.<precision>", fraction truncated, never rounded
//   %s  text                        %S  text converted to full width
//   %r  keeps what the destination already holds and appends after it
//   %l  before d D u U x X o O is ignored; before anything else it swallows that byte
//
// Any other byte after "%" is an unknown letter: it is consumed and writes nothing. Under
// Shift-JIS that is the one byte even when it starts a double-byte character, whose second byte
// then stays as text; under UTF-8 it is the whole character.
//
// The numeric letters take a flag "+" or "-" (only d and f use it: "+" writes "+" or "-", "-"
// writes " " or "-"; without a flag no sign is written at all) and a width of one or two digits;
// s and S take a width only; c takes neither. Integer, character and text conversions take the
// low 32 bits of an integer argument; t takes 64 bits; f takes a double or an integer's value. A
// missing argument, or one of the wrong kind, gives an empty field; extra arguments are ignored.
//
// The destination is written from its start, like a buffer: text already there is overwritten,
// "%r" moves forward over it up to its first zero byte, and at the end the destination is cut
// where writing stopped.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace reel {

// One argument of FormatText: an integer, a floating-point number or a text. A FormatArg views
// the text it was made from, so it lives no longer than the call it is passed to.
class FormatArg {
 public:
  template <std::integral Integer>
  FormatArg(Integer value)  // NOLINT(google-explicit-constructor): arguments convert implicitly
      : kind_(std::signed_integral<Integer> ? Kind::Signed : Kind::Unsigned),
        bits_(static_cast<uint64_t>(static_cast<std::conditional_t<std::signed_integral<Integer>,
                                                                   int64_t, uint64_t>>(value))) {}
  FormatArg(double value) : kind_(Kind::Real), real_(value) {}  // NOLINT
  FormatArg(float value) : kind_(Kind::Real), real_(value) {}   // NOLINT
  // A null pointer is an empty text.
  FormatArg(const char* text)  // NOLINT
      : kind_(Kind::Text), text_(text == nullptr ? std::string_view() : std::string_view(text)) {}
  FormatArg(std::string_view text) : kind_(Kind::Text), text_(text) {}     // NOLINT
  FormatArg(const std::string& text) : kind_(Kind::Text), text_(text) {}  // NOLINT

  // The low 32 bits of an integer argument.
  std::optional<uint32_t> Low32() const;
  // All 64 bits of an integer argument, a signed one sign-extended.
  std::optional<uint64_t> Bits64() const;
  // A floating-point argument, or an integer argument's value.
  std::optional<double> Real() const;
  // A text argument.
  std::optional<std::string_view> Text() const;

 private:
  enum class Kind { Signed, Unsigned, Real, Text };
  Kind kind_;
  uint64_t bits_ = 0;
  double real_ = 0.0;
  std::string_view text_;
};

// Formats `format` with `args` into `destination` under the process code page.
void FormatText(std::string& destination, std::string_view format, std::span<const FormatArg> args);
void FormatText(std::string& destination, std::string_view format,
                std::initializer_list<FormatArg> args);

template <typename... Args>
  requires(std::constructible_from<FormatArg, const Args&> && ...)
void FormatText(std::string& destination, std::string_view format, const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
  FormatText(destination, format, std::span<const FormatArg>(list));
}

// Formats into a fresh string. A modifiable std::string as the first argument is always taken as
// the destination of the overload above, never as a format.
template <typename Format, typename... Args>
  requires(std::convertible_to<Format, std::string_view> && !std::same_as<Format, std::string&> &&
           (std::constructible_from<FormatArg, const Args&> && ...))
std::string FormatText(Format&& format, const Args&... args) {
  std::string text;
  FormatText(text, std::string_view(format), args...);
  return text;
}

}  // namespace reel
