// CJpegBitReader: bytes and bits of a JPEG stream, read through a 2048-byte window.
//
// Marker segments are read a byte at a time; entropy-coded data a bit at a time, most significant
// bit first, with one byte held ahead. A stuffed 0xFF 0x00 reads as one 0xFF data byte. When a
// marker turns up inside entropy-coded data, the reader steps back over it and from then on feeds
// 1-bits until bit mode is restarted, so the marker stays in the stream for FindRestart or for the
// header parser. Stepping back (two bytes at most) works across a window refill because the last
// four bytes of the previous window are kept in a save area just before the window.
//
// For table-driven Huffman decoding the next few bits can be looked at without taking them, as
// long as they lie in the current byte and the plain data byte after it; GetBits and SkipBits take
// several bits with exactly the effects of as many GetBit calls.
//
// Past the end of the data (a truncated stream) the reader yields the bytes of EOI markers,
// 0xFF 0xD9 repeated, and remembers that a bit was taken from them, so that every search for a
// marker ends and the decoder can tell an incomplete stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "converter/jpeg/byte_source.h"

namespace reel {

class CJpegBitReader {
 public:
  static constexpr std::size_t kWindowSize = 2048;
  static constexpr std::size_t kSaveSize = 4;

  // Clears all state and reads the first window from `source`, which must outlive the reader's use.
  void Open(CByteSource& source);

  // Byte operations (marker segments).
  uint8_t ReadByte();
  uint16_t ReadU16();  // big-endian
  void ReadBytes(std::span<uint8_t> destination);
  void Skip(int32_t count);  // nothing for count <= 0
  // Reads until a 0xFF is followed by a byte other than 0x00, skipping 0xFF fill bytes, and
  // returns that byte; both are consumed.
  uint8_t NextMarker();

  // Bit operations (entropy-coded data).
  void StartBits();
  int GetBit();
  // `count` (0 ... 16) bits as a number, first bit most significant; the same as `count` GetBit calls.
  uint32_t GetBits(int count);
  void SkipBits(int count);
  // The next kPeekBits bits, first bit most significant, when they lie in the current byte and, if
  // it has fewer bits left, the next byte of the window, itself plain data (not 0xFF, not past the
  // end). False otherwise: the caller then reads bit by bit.
  static constexpr int kPeekBits = 9;
  bool PeekBits(uint32_t& bits) const;
  void StopBits();
  // The next marker if it is RST0 ... RST7 (consumed and returned); otherwise the reader steps back
  // over the marker and returns 0.
  uint8_t FindRestart();

  // A marker met inside entropy-coded data (0 = none).
  uint8_t MarkerCode() const { return markerCode_; }
  // A bit was taken from the bytes that lie past the end of the data.
  bool Exhausted() const { return exhausted_; }
  // Some byte past the end of the data has been read (also by a marker search).
  bool PastEnd() const { return pastEnd_; }

 private:
  void Refill();
  void StepBack(std::size_t count);
  void LoadCurrent();

  CByteSource* source_ = nullptr;
  // Save area followed by the window.
  std::array<uint8_t, kSaveSize + kWindowSize> buffer_{};
  std::size_t position_ = kSaveSize;  // index into buffer_
  std::size_t left_ = 0;              // bytes left in the window
  std::size_t realEnd_ = 0;           // index into buffer_ where the window's real bytes end
  uint64_t paddingServed_ = 0;        // EOI bytes generated past the end so far

  uint8_t current_ = 0;
  int taken_ = 0;
  bool active_ = false;
  uint8_t markerCode_ = 0;
  bool lastPastEnd_ = false;     // the byte ReadByte returned last lies past the end
  bool currentPastEnd_ = false;  // the current entropy-coded byte lies past the end
  bool exhausted_ = false;
  bool pastEnd_ = false;
};

}  // namespace reel
