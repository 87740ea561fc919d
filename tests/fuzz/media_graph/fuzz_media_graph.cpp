// Arbitrary bytes as a file for the media framework: probed, opened and rendered, its length
// asked in both time formats, then (told that only every second picture is kept, so that pictures
// may be passed over undecoded) three steps, a positioning backwards and forwards and a short run,
// taking the picture on screen after each (at once, and grabbed to be converted later). Every
// picture must be the connected type's size. The limits are tight (a short quiet time, few packets
// without a picture) so that a damaged input ends quickly; the graph's own refusals are what is
// under test.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/mediagraph/media_graph.h"
#include "tests/fuzz/input_file.h"

namespace {

// One decoding thread: the same pictures, without threads started for every input.
constexpr reel::GraphLimits kLimits{std::chrono::milliseconds(1000), 64, reel::DecoderThreads::kOne};

// The picture on screen, at once and grabbed to be converted later: both the connected size.
void TakePicture(reel::MediaGraph& graph) {
  const std::size_t expected = 4 + std::size_t{graph.ConnectedType().sampleSize};
  const auto picture = graph.GetCurrentBuffer(4);
  if (picture && picture->size() != expected) std::abort();
  const auto grabbed = graph.GrabCurrentPicture();
  if (!grabbed) return;
  reel::GrabbedPictureConverter converter;
  const auto converted = converter.Convert(*grabbed, 4);
  if (converted && converted->size() != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const reel::fuzz::InputFile input;
  if (!input.Write(std::span(data, size))) return 0;
  auto rendered = reel::MediaGraph::Render(input.Path(), kLimits);
  if (!rendered) return 0;
  reel::MediaGraph& graph = *rendered;
  const reel::GrabberType& type = graph.ConnectedType();
  if (type.width <= 0 || type.height <= 0) std::abort();
  const int64_t frames = graph.Duration(reel::TimeFormat::kFrame);
  (void)graph.Duration(reel::TimeFormat::kMediaTime);
  TakePicture(graph);
  graph.KeepOnly(2);
  for (int step = 0; step < 3 && graph.Step(); ++step) {
    (void)graph.WaitForCompletion(std::chrono::milliseconds(0));
    if (step > 0) TakePicture(graph);
  }
  if (graph.SetPositions(frames / 2, std::nullopt)) TakePicture(graph);
  if (graph.SetPositions(0, frames > 3 ? std::optional<int64_t>(3) : std::nullopt)) TakePicture(graph);
  if (graph.Run() && graph.RunUntil(2)) TakePicture(graph);
  return 0;
}
