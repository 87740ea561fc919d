// Small clips made with the ffmpeg tool at test time, whose pictures carry their own index: every
// pixel of picture n is grey level 8 × n, so 32 pictures can be told apart after lossy coding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mediagraph/media_graph.h"
#include "tests/support/scratch_folder.h"

namespace reel::test {

struct IndexedClip {
  std::string name;          // file name, its extension choosing the container
  int width = 0;
  int height = 0;
  std::string rate;          // "25", "30000/1001"
  int frames = 0;            // at most 32
  std::string videoOptions;  // codec and its settings
};

// The lavfi source of the indexed pictures.
std::string IndexedPictures(int width, int height, const std::string& rate);

// Makes `clip` in `folder` and returns its path, or "" when ffmpeg failed.
std::string MakeIndexedClip(const ScratchFolder& folder, const IndexedClip& clip, const std::string& extra = "");

// The index the picture on screen carries: its middle pixel's grey level over 8, rounded.
int IndexOf(const std::vector<uint8_t>& rows, const GrabberType& type);

}  // namespace reel::test
