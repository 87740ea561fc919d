// The messages the player's window delivers to its handler, with keys as virtual-key codes.
#pragma once

#include <cstdint>
#include <string>

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
  Char,     // a character typed; `code` is its code (ASCII only)
  DropFile, // a file or folder dropped on the window; `path` names it
  Other,
};

struct WindowMessage {
  WindowMessageType type = WindowMessageType::Other;
  uint32_t virtualKey = 0;  // KeyDown and KeyUp; 0 for keys without a code
  int32_t code = 0;         // Quit, Char
  bool shift = false;       // KeyDown and KeyUp: a Shift key was held
  std::string path;         // DropFile
};

// A message of a type, with a key's virtual-key code or the quit message's code.
inline WindowMessage MakeMessage(WindowMessageType type, uint32_t virtualKey = 0, int32_t code = 0) {
  WindowMessage message;
  message.type = type;
  message.virtualKey = virtualKey;
  message.code = code;
  return message;
}

// Virtual-key codes of the keys the player uses.
inline constexpr uint32_t kKeyLeft = 0x25;
inline constexpr uint32_t kKeyUp = 0x26;
inline constexpr uint32_t kKeyRight = 0x27;
inline constexpr uint32_t kKeyDown = 0x28;
inline constexpr uint32_t kKeySpace = 0x20;
inline constexpr uint32_t kKeyPageUp = 0x21;
inline constexpr uint32_t kKeyPageDown = 0x22;
inline constexpr uint32_t kKeyHome = 0x24;
inline constexpr uint32_t kKeyF1 = 0x70;

}  // namespace reel
