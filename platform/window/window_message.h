// The messages the player's window delivers to its handler, with keys as virtual-key codes.
#pragma once

#include <cstdint>

namespace reel {

enum class WindowMessageType {
  KeyDown,
  KeyUp,
  LeftButtonDown,
  LeftButtonUp,
  MouseMove,
  Close,    // a request to close the window (the close box, a close key, a signal)
  Destroy,  // the window is being destroyed
  Paint,
  Size,
  Move,
  Activate,
  Command,
  Quit,     // ends the message loop; `code` is the exit code
  Other,
};

struct WindowMessage {
  WindowMessageType type = WindowMessageType::Other;
  uint32_t virtualKey = 0;  // KeyDown and KeyUp; 0 for keys without a code
  int32_t code = 0;         // Quit
};

// Virtual-key codes of the keys the player uses.
inline constexpr uint32_t kKeyLeft = 0x25;
inline constexpr uint32_t kKeyUp = 0x26;
inline constexpr uint32_t kKeyRight = 0x27;
inline constexpr uint32_t kKeyDown = 0x28;

}  // namespace reel
