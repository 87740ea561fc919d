// Picture times from hand-made MPEG-4 part 2 headers: the seconds of references and B-frames, a
// group header's time code, placeholders, and the headers that must not be trusted.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/mpeg4video/vop_timeline.h"

namespace reel {
namespace {

constexpr int kResolution = 25;  // ticks a second: 5-bit increments
constexpr int kIncrementBits = 5;

// Header bytes built field by field, most significant bit first; a header ends padded with 1 bits
// (so no start code appears inside).
class Headers {
 public:
  Headers& Layer() {
    StartCode(0x20);
    // Random access, object type, no layer identifier, square pixels, no control parameters,
    // rectangular; then the resolution between marker bits, and no fixed rate.
    Bits(0, 1).Bits(1, 8).Bits(0, 1).Bits(1, 4).Bits(0, 1).Bits(0, 2);
    return Bits(1, 1).Bits(kResolution, 16).Bits(1, 1).Bits(0, 1).Pad();
  }
  Headers& Group(int seconds) {
    StartCode(0xB3);
    return Bits(0, 5).Bits(0, 6).Bits(1, 1).Bits(static_cast<uint32_t>(seconds), 6).Bits(1, 2).Pad();
  }
  // type: 'I', 'P' or 'B'; `seconds` 1 bits of modulo_time_base.
  Headers& Picture(char type, int seconds, int increment, bool coded = true, int marker = 1) {
    StartCode(0xB6);
    Bits(type == 'I' ? 0 : type == 'P' ? 1 : 2, 2);
    for (int i = 0; i < seconds; ++i) Bits(1, 1);
    Bits(0, 1).Bits(1, 1).Bits(static_cast<uint32_t>(increment), kIncrementBits);
    return Bits(static_cast<uint32_t>(marker), 1).Bits(coded ? 1 : 0, 1).Pad();
  }
  std::vector<uint8_t> Take() { return std::exchange(bytes_, {}); }

 private:
  void StartCode(uint8_t code) { bytes_.insert(bytes_.end(), {0, 0, 1, code}); }
  Headers& Bits(uint32_t value, int count) {
    for (int i = count; i-- > 0;) {
      if (used_ == 0) bytes_.push_back(0);
      bytes_.back() = static_cast<uint8_t>(bytes_.back() | (((value >> i) & 1U) << (7 - used_)));
      used_ = (used_ + 1) % 8;
    }
    return *this;
  }
  Headers& Pad() {
    while (used_ != 0) Bits(1, 1);
    return Bits(0xFF, 8);
  }
  std::vector<uint8_t> bytes_;
  int used_ = 0;
};

struct TimelineCase {
  const char* name;
  std::vector<std::vector<uint8_t>> packets;
  std::vector<int64_t> times;  // of all coded pictures, in stored order
  bool lost;
};

void PrintTo(const TimelineCase& c, std::ostream* out) { *out << c.name; }

class VopTimelineTest : public ::testing::TestWithParam<TimelineCase> {};

TEST_P(VopTimelineTest, DatesEachCodedPicture) {
  VopTimeline timeline;
  std::vector<int64_t> times;
  for (const auto& packet : GetParam().packets) {
    if (const auto got = timeline.PicturesIn(packet)) times.insert(times.end(), got->begin(), got->end());
  }
  EXPECT_EQ(times, GetParam().times);
  EXPECT_EQ(timeline.Lost(), GetParam().lost);
}

Headers h;
INSTANTIATE_TEST_SUITE_P(
    Headers, VopTimelineTest,
    ::testing::Values(
        // B-frames count their seconds from the reference shown before them: B 24 and B 26 lie
        // either side of the second that P 27 counts.
        TimelineCase{"references_and_b_frames",
                     {h.Layer().Picture('I', 0, 0).Take(), h.Picture('P', 0, 23).Take(), h.Picture('B', 0, 22).Take(),
                      h.Picture('P', 1, 2).Take(), h.Picture('B', 0, 24).Take(), h.Picture('B', 1, 1).Take()},
                     {0, 23, 22, 27, 24, 26}, false},
        // A packed chunk (reference and B-frame), then its placeholder, which dates nothing.
        TimelineCase{"packed_and_placeholder",
                     {h.Layer().Picture('I', 0, 0).Take(), h.Picture('P', 0, 2).Picture('B', 0, 1).Take(),
                      h.Picture('P', 0, 2, false).Take(), h.Picture('P', 0, 3).Take()},
                     {0, 2, 1, 3}, false},
        // A group header's time code sets the seconds for the reference after it and its B-frames.
        TimelineCase{"group_time_code",
                     {h.Layer().Picture('I', 0, 0).Take(), h.Picture('P', 0, 24).Take(),
                      h.Group(1).Picture('I', 0, 2).Take(), h.Picture('B', 0, 0).Take()},
                     {0, 24, 27, 25}, false},
        // An encoder that forgot a second where the increment wrapped: the second is given back.
        TimelineCase{"missing_second",
                     {h.Layer().Picture('I', 0, 23).Take(), h.Picture('P', 0, 24).Take(), h.Picture('P', 0, 0).Take(),
                      h.Picture('P', 0, 1).Take()},
                     {23, 24, 25, 26}, false},
        // Not to be trusted: a reference dated back by more than a lost second explains, a B-frame
        // outside its references, a broken marker bit, pictures before any layer header.
        TimelineCase{"reference_far_back",
                     {h.Layer().Picture('I', 0, 20).Take(), h.Picture('P', 0, 18).Take(), h.Picture('P', 0, 21).Take()},
                     {20}, true},
        TimelineCase{"b_frame_outside",
                     {h.Layer().Picture('I', 0, 0).Take(), h.Picture('P', 0, 3).Take(), h.Picture('B', 0, 4).Take()},
                     {0, 3}, true},
        TimelineCase{"broken_marker",
                     {h.Layer().Picture('I', 0, 0).Take(), h.Picture('P', 0, 1, true, 0).Take()},
                     {0}, true},
        TimelineCase{"no_layer_header", {h.Picture('I', 0, 0).Take()}, {}, true}),
    [](const ::testing::TestParamInfo<TimelineCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace reel
