// Reelforge's icon, drawn in code: a frame of film, its picture a blue sky over a green hill.
// The window uses it, and the build writes it out as the PNG files the desktop menu shows.
#pragma once

#include <QIcon>
#include <QImage>

namespace reel {

// The icon drawn `size` pixels square, with a transparent background.
QImage AppIconImage(int size);

// The icon at the sizes desktops ask for.
QIcon AppIcon();

}  // namespace reel
