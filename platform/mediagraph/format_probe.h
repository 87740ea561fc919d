// Which reader (demuxer) takes a file, from its first bytes. Internal to platform/mediagraph.
//
// The plain probe runs libavformat's av_probe_input_format3 over the file's first megabyte, where
// every demuxer's probe scans the whole buffer: tens of milliseconds, paid at each of the several
// openings of a source in one job. The quick probe first looks at the first 2 KiB and takes the
// verdict when it names one of the containers that name themselves in their first bytes with full
// marks (AVI, Matroska and WebM, QuickTime and MP4, Ogg, FLV), a verdict the long look would not
// change; any other file gets the long look. Both give the same reader for the same file.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <string>

namespace reel {

enum class ProbeLook { kQuick, kWholeMegabyte };

struct FormatProbe {
  const AVInputFormat* format = nullptr;  // none: no reader is sure enough of the file
  bool readable = false;                  // the file could be opened and read
};

FormatProbe ProbeFormat(const std::string& path, ProbeLook look = ProbeLook::kQuick);

// The probed reader's name ("avi", "matroska,webm", ...), empty when there is none.
std::string ProbedFormatName(const std::string& path, ProbeLook look);

}  // namespace reel
