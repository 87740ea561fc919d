#include "converter/jpeg/jpeg_bit_reader.h"

#include <algorithm>

namespace reel {

void CJpegBitReader::Open(CByteSource& source) {
  *this = CJpegBitReader();
  source_ = &source;
  Refill();
}

void CJpegBitReader::Refill() {
  std::copy_n(buffer_.end() - kSaveSize, kSaveSize, buffer_.begin());
  const auto window = std::span<uint8_t>(buffer_).subspan(kSaveSize);
  const std::size_t real = source_ != nullptr ? source_->Read(window) : 0;
  for (std::size_t i = real; i < kWindowSize; ++i) window[i] = (paddingServed_++ % 2 == 0) ? 0xFF : 0xD9;
  position_ = kSaveSize;
  left_ = kWindowSize;
  realEnd_ = kSaveSize + real;
}

uint8_t CJpegBitReader::ReadByte() {
  if (left_ == 0) Refill();
  lastPastEnd_ = position_ >= realEnd_;
  pastEnd_ = pastEnd_ || lastPastEnd_;
  --left_;
  return buffer_[position_++];
}

void CJpegBitReader::StepBack(std::size_t count) {
  position_ -= count;
  left_ += count;
}

uint16_t CJpegBitReader::ReadU16() {
  const uint8_t high = ReadByte();
  return static_cast<uint16_t>((high << 8) | ReadByte());
}

void CJpegBitReader::ReadBytes(std::span<uint8_t> destination) {
  for (uint8_t& byte : destination) byte = ReadByte();
}

void CJpegBitReader::Skip(int32_t count) {
  for (int32_t i = 0; i < count; ++i) ReadByte();
}

uint8_t CJpegBitReader::NextMarker() {
  for (;;) {
    if (ReadByte() != 0xFF) continue;
    uint8_t code = ReadByte();
    while (code == 0xFF) code = ReadByte();  // fill bytes before a marker
    if (code != 0x00) return code;
  }
}

// Loads the next entropy-coded byte as the current one, undoing byte stuffing; a marker is
// remembered and left in the stream.
void CJpegBitReader::LoadCurrent() {
  current_ = ReadByte();
  currentPastEnd_ = lastPastEnd_;
  taken_ = 0;
  if (current_ != 0xFF) return;
  const uint8_t code = ReadByte();
  if (code == 0x00) return;
  markerCode_ = code;
  StepBack(2);
}

void CJpegBitReader::StartBits() {
  if (active_) return;
  markerCode_ = 0;
  active_ = true;
  LoadCurrent();
}

int CJpegBitReader::GetBit() {
  if (currentPastEnd_) exhausted_ = true;
  const int bit = current_ >> 7;
  current_ = static_cast<uint8_t>(current_ << 1);
  if (++taken_ == 8) LoadCurrent();
  return bit;
}

uint32_t CJpegBitReader::GetBits(int count) {
  uint32_t value = 0;
  while (count > 0) {
    const int take = std::min(count, 8 - taken_);
    if (currentPastEnd_) exhausted_ = true;
    value = (value << take) | static_cast<uint32_t>(current_ >> (8 - take));
    current_ = static_cast<uint8_t>(current_ << take);
    count -= take;
    taken_ += take;
    if (taken_ == 8) LoadCurrent();
  }
  return value;
}

void CJpegBitReader::SkipBits(int count) { GetBits(count); }

bool CJpegBitReader::PeekBits(uint32_t& bits) const {
  // The current byte never holds more than 8 bits, so the look always reaches into the next byte.
  static_assert(kPeekBits > 8 && kPeekBits <= 9, "the bits must span the current byte and one more");
  // LoadCurrent would take the next byte from position_: it must be a data byte the window holds.
  if (!active_ || left_ == 0 || position_ >= realEnd_) return false;
  const uint8_t next = buffer_[position_];
  if (next == 0xFF) return false;
  // The bits left in current_ sit at its top (it is shifted left as bits are taken).
  const int left = 8 - taken_;
  const int fromNext = kPeekBits - left;
  bits = ((uint32_t{current_} >> taken_) << fromNext) | (uint32_t{next} >> (8 - fromNext));
  return true;
}

void CJpegBitReader::StopBits() {
  if (!active_) return;
  if (markerCode_ == 0 && taken_ == 0) StepBack(1);
  active_ = false;
}

uint8_t CJpegBitReader::FindRestart() {
  const uint8_t code = NextMarker();
  if (code >= 0xD0 && code <= 0xD7) return code;
  StepBack(2);
  return 0;
}

}  // namespace reel
