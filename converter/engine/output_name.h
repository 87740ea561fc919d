// The names of a job's output files: the output folder, then the source's file name with its
// extension replaced (".qrx" for the movie, ".mp3" or ".ogg" for the companion sound).
//
// The separators are found with FindLastChar, so a "/" or "." inside a multibyte character of the
// process code page never counts.
#pragma once

#include <string>
#include <string_view>

namespace reel {

// "/out" + "/movies/clip.avi" + ".qrx" gives "/out/clip.qrx"; "a.b.avi" keeps "a.b". A source
// without any "/" is taken whole as the file name. Only the file name is searched for its last
// ".": a name without one gets the extension appended, so a dot in a folder name ("/my.tools")
// never cuts the path. `extension` includes its dot.
std::string MakeOutputName(std::string_view outputFolder, std::string_view sourcePath, std::string_view extension);

}  // namespace reel
