// The player's one window: a client area of the picture's size, a message pump that delivers the
// window's events (keys as virtual-key codes) and the messages posted to it, and a 16-bit 5-6-5
// surface shown through a texture. Headless only when SDL_VIDEODRIVER asks for the dummy or
// offscreen driver; a window nobody sees draws nothing, and keeps the pixels it was given
// (ShownPixels) when asked to, for checks. A window on a display copies each presented rectangle
// straight into its texture and keeps no copy of its own.
//
// On a desktop the window opens at twice the picture's size when there is room, can be resized,
// and F11 switches it between full screen and a window (F11 reaches no one else). The surface is
// scaled to fit the window keeping its shape, black bars beside it, by the renderer. The client
// size the window reports is the picture's: the scaling is the window's own business.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "common/result.h"
#include "platform/window/window_message.h"

namespace reel {

class PlayerWindow {
 public:
  // Creates the window, hidden, with a client area of the given size and the title. An error of
  // kind kDevice, with the window system's reason, when it cannot be started or the window cannot
  // be made, and when no display answers: an invisible driver (dummy, offscreen) is used only when
  // SDL_VIDEODRIVER asks for it.
  static Result<std::unique_ptr<PlayerWindow>> Create(const std::string& title, uint32_t clientWidth,
                                                      uint32_t clientHeight);
  struct Resources;
  // Only Create makes windows; the key lets it do so through make_unique.
  class ConstructionKey {
    ConstructionKey() = default;
    friend class PlayerWindow;
  };
  PlayerWindow(ConstructionKey, std::unique_ptr<Resources> resources);
  ~PlayerWindow();
  PlayerWindow(const PlayerWindow&) = delete;
  PlayerWindow& operator=(const PlayerWindow&) = delete;

  // The display the window system runs on, such as "x11::0" or "wayland:wayland-0" (the driver
  // alone for others); valid while a window exists.
  static std::string DisplayName();

  uint32_t ClientWidth() const;
  uint32_t ClientHeight() const;

  // Makes the texture the surface is shown through; the client size becomes the surface's. An error
  // of kind kDevice, with the window system's reason, when the window cannot show pictures.
  Status OpenSurface(uint32_t width, uint32_t height);
  // Gives a window (not full screen) the size it would open at for a picture of this size.
  void FitToPicture(uint32_t width, uint32_t height);
  void ToggleFullScreen();
  // Copies the rectangle [left, right) x [top, bottom) of a bottom-up surface to the window.
  void PresentSurface(std::span<const uint16_t> bottomUpPixels, uint32_t width, uint32_t height, int32_t left,
                      int32_t top, int32_t right, int32_t bottom);

  void SetTitle(const std::string& title);
  std::string Title() const;
  void Show();
  void BringToFront();
  // Destroys the window; later messages come only from the posted queue.
  void Destroy();
  bool Exists() const;

  // The next waiting message (posted ones first, then the window's events, then a close request
  // for a received SIGINT or SIGTERM); none when nothing is waiting. Keys come as virtual-key
  // codes with the Shift state, the characters they type as Char messages after them, and a file
  // dropped on the window as DropFile with its path.
  std::optional<WindowMessage> PeekMessage();
  // The next waiting message, waiting up to `timeout` for one to come (without spinning); none when
  // the time ran out.
  std::optional<WindowMessage> WaitMessage(std::chrono::milliseconds timeout);
  void PostMessage(const WindowMessage& message);
  void PostQuit(int32_t code);

  // From now on a window nobody sees keeps a copy of what it is shown (ShownPixels); without it,
  // presenting to such a window costs nothing.
  void KeepShownPixels();
  // The pixels last shown in a window nobody sees that keeps them, top row first (for checks), as
  // far as they were shown since it was asked to keep them; empty otherwise.
  std::span<const uint16_t> ShownPixels() const;

 private:
  std::optional<WindowMessage> TranslateEvent();

  std::unique_ptr<Resources> resources_;
  std::deque<WindowMessage> posted_;
};

// Shows a message box; without a display the text goes to the standard error stream.
void ShowErrorBox(const std::string& caption, const std::string& text);

}  // namespace reel
