// A panel of text drawn over the picture on the display's surface: the lines, in white capitals
// of a built-in 5 x 7 font (a 6 x 9 cell each), in a black box with a grey edge, centred on the
// screen. Lower-case letters are drawn as capitals; a character the font lacks is a blank.
#pragma once

#include <string>
#include <vector>

#include "player/video/display.h"

namespace reel {

// Draws the panel into the surface without showing it and returns the window rectangle it covers
// (clipped to the screen).
WindowRect DrawTextPanel(Display& display, const std::vector<std::string>& lines);

}  // namespace reel
