#include "platform/window/player_window.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/window/close_signals.h"
#include "platform/window/pixel_widening.h"
#include "platform/window/window_size.h"

namespace reel {

struct PlayerWindow::Resources {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  uint32_t clientWidth = 0;
  uint32_t clientHeight = 0;
  uint32_t surfaceWidth = 0;
  uint32_t surfaceHeight = 0;
  bool invisible = false;  // a driver that shows nothing and delivers no events
  std::optional<PixelWidener> widener;  // set when the texture holds 8-8-8 pixels widened here
  bool keepShown = false;  // a window nobody sees keeps what it is shown, for checks
  std::vector<uint16_t> shown;  // top row first

  ~Resources() {
    if (texture != nullptr) SDL_DestroyTexture(texture);
    if (renderer != nullptr) SDL_DestroyRenderer(renderer);
    if (window != nullptr) SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
};

namespace {

// Windows virtual-key codes for the SDL keys; 0 for keys without one.
uint32_t VirtualKey(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return static_cast<uint32_t>('A' + (key - SDLK_a));
  if (key >= SDLK_0 && key <= SDLK_9) return static_cast<uint32_t>('0' + (key - SDLK_0));
  switch (key) {
    case SDLK_LEFT: return kKeyLeft;
    case SDLK_UP: return kKeyUp;
    case SDLK_RIGHT: return kKeyRight;
    case SDLK_DOWN: return kKeyDown;
    case SDLK_RETURN: return 0x0D;
    case SDLK_ESCAPE: return 0x1B;
    case SDLK_SPACE: return kKeySpace;
    case SDLK_PAGEUP: return kKeyPageUp;
    case SDLK_PAGEDOWN: return kKeyPageDown;
    case SDLK_HOME: return kKeyHome;
    case SDLK_END: return 0x23;
    case SDLK_F1: return kKeyF1;
    case SDLK_BACKSPACE: return 0x08;
    case SDLK_TAB: return 0x09;
    default: return 0;
  }
}

WindowMessageType WindowEventType(uint8_t event) {
  switch (event) {
    case SDL_WINDOWEVENT_EXPOSED: return WindowMessageType::Paint;
    case SDL_WINDOWEVENT_SIZE_CHANGED: return WindowMessageType::Size;
    case SDL_WINDOWEVENT_MOVED: return WindowMessageType::Move;
    case SDL_WINDOWEVENT_FOCUS_GAINED: return WindowMessageType::Activate;
    case SDL_WINDOWEVENT_CLOSE: return WindowMessageType::Close;
    default: return WindowMessageType::Other;
  }
}

// The size a window for a picture of this size opens at on the first display.
WindowSize DesktopWindowSize(uint32_t width, uint32_t height) {
  SDL_Rect usable{};
  if (SDL_GetDisplayUsableBounds(0, &usable) != 0) usable = SDL_Rect{};
  return InitialWindowSize(width, height, static_cast<uint32_t>(std::max(usable.w, 0)),
                           static_cast<uint32_t>(std::max(usable.h, 0)));
}

// True for SDL's drivers that show nothing; SDL falls back to one of them when no display answers.
bool IsInvisibleDriver(std::string_view driver) { return driver == "offscreen" || driver == "dummy"; }

// True when SDL_VIDEODRIVER names `driver` (it may list several, separated by commas).
bool DriverAskedFor(std::string_view driver) {
  const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
  std::string_view list = asked != nullptr ? asked : "";
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view entry = list.substr(0, comma);
    if (entry.size() == driver.size() && SDL_strncasecmp(entry.data(), driver.data(), driver.size()) == 0) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

// True when the machine has a graphics processor that programs may draw with (a render node).
bool HasRenderNode() {
  std::error_code error;
  for (std::filesystem::directory_iterator it("/dev/dri", error); !error && it != std::filesystem::directory_iterator();
       it.increment(error)) {
    if (it->path().filename().string().rfind("renderD", 0) == 0) return true;
  }
  return false;
}

// Without a graphics processor, OpenGL would draw in software through a shader compiler, which
// costs more per picture (and far more at start-up) than the graphics library's own software
// drawing; nor is the window's surface then to be routed through OpenGL. Set at the lowest
// priority, so that SDL_RENDER_DRIVER and SDL_FRAMEBUFFER_ACCELERATION still choose.
void PreferSoftwareDrawingWithoutGraphicsProcessor() {
  if (HasRenderNode()) return;
  SDL_SetHintWithPriority(SDL_HINT_RENDER_DRIVER, "software", SDL_HINT_DEFAULT);
  SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
}

bool IsSoftwareRenderer(SDL_Renderer* renderer) {
  SDL_RendererInfo info{};
  return SDL_GetRendererInfo(renderer, &info) == 0 && (info.flags & SDL_RENDERER_SOFTWARE) != 0;
}

// The window row `row` of a bottom-up surface `width` x `height`, from column `left` on.
const uint16_t* SurfaceRow(std::span<const uint16_t> bottomUpPixels, uint32_t width, uint32_t height, int32_t row,
                           int32_t left) {
  return bottomUpPixels.data() + (std::size_t{height} - 1 - static_cast<std::size_t>(row)) * width +
         static_cast<std::size_t>(left);
}

// Writes the rectangle's rows of the bottom-up surface straight into the texture, top row first,
// widened to 8-8-8 when a widener is given: the surface is copied once, with no copy in between.
void UpdateTextureFromSurface(SDL_Texture* texture, const PixelWidener* widener, const SDL_Rect& rect,
                              std::span<const uint16_t> bottomUpPixels, uint32_t width, uint32_t height) {
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(texture, &rect, &pixels, &pitch) != 0) return;
  auto* line = static_cast<uint8_t*>(pixels);
  const auto columns = static_cast<std::size_t>(rect.w);
  for (int32_t row = rect.y; row < rect.y + rect.h; ++row, line += pitch) {
    const std::span<const uint16_t> from(SurfaceRow(bottomUpPixels, width, height, row, rect.x), columns);
    if (widener != nullptr) {
      widener->Run(from, std::span(reinterpret_cast<uint32_t*>(line), columns));
    } else {
      std::copy(from.begin(), from.end(), reinterpret_cast<uint16_t*>(line));
    }
  }
  SDL_UnlockTexture(texture);
}

}  // namespace

Result<std::unique_ptr<PlayerWindow>> PlayerWindow::Create(const std::string& title, uint32_t clientWidth,
                                                           uint32_t clientHeight) {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    return MakeError(ErrorKind::kDevice, "", std::string("the window system cannot be started: ") + SDL_GetError());
  }
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || (IsInvisibleDriver(driver) && !DriverAskedFor(driver))) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return MakeError(ErrorKind::kDevice, "",
                     "there is no display to open the window on (set DISPLAY or WAYLAND_DISPLAY, or "
                     "SDL_VIDEODRIVER=dummy to run without one)");
  }
  auto resources = std::make_unique<Resources>();
  // A window nobody sees is not enlarged: scaling the picture for it would be work for nothing.
  const WindowSize size = IsInvisibleDriver(driver) ? WindowSize{clientWidth, clientHeight}
                                                   : DesktopWindowSize(clientWidth, clientHeight);
  resources->window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                       static_cast<int>(size.width), static_cast<int>(size.height),
                                       SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (resources->window == nullptr) {
    return MakeError(ErrorKind::kDevice, "", std::string("the window cannot be made: ") + SDL_GetError());
  }
  resources->clientWidth = clientWidth;
  resources->clientHeight = clientHeight;
  resources->invisible = IsInvisibleDriver(driver);
  return std::make_unique<PlayerWindow>(ConstructionKey(), std::move(resources));
}

namespace {

Error CannotShowPictures() {
  return MakeError(ErrorKind::kDevice, "", std::string("the window cannot show pictures: ") + SDL_GetError());
}

}  // namespace

PlayerWindow::PlayerWindow(ConstructionKey, std::unique_ptr<Resources> resources) : resources_(std::move(resources)) {}

PlayerWindow::~PlayerWindow() = default;

uint32_t PlayerWindow::ClientWidth() const { return resources_->clientWidth; }
uint32_t PlayerWindow::ClientHeight() const { return resources_->clientHeight; }

Status PlayerWindow::OpenSurface(uint32_t width, uint32_t height) {
  Resources& r = *resources_;
  if (r.window == nullptr) return MakeError(ErrorKind::kDevice, "", "the window cannot show pictures: it is gone");
  if (r.renderer == nullptr) {
    if (!r.invisible) PreferSoftwareDrawingWithoutGraphicsProcessor();
    r.renderer = SDL_CreateRenderer(r.window, -1, 0);
    if (r.renderer == nullptr) r.renderer = SDL_CreateRenderer(r.window, -1, SDL_RENDERER_SOFTWARE);
    if (r.renderer == nullptr) return CannotShowPictures();
  }
  if (r.texture != nullptr) SDL_DestroyTexture(r.texture);
  r.texture = nullptr;
  // Drawn in software, the texture takes the window's own 8-8-8 format and is scaled by repeating
  // pixels: the library then copies and stretches rows, where converting 5-6-5 pixels and
  // smoothing them while scaling would cost it several times more on every picture.
  const bool software = IsSoftwareRenderer(r.renderer);
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, software ? "nearest" : "linear");  // smooth when scaled
  r.widener = software && !r.invisible ? PixelWidener::FromLibrary() : std::nullopt;
  if (r.widener) {
    r.texture = SDL_CreateTexture(r.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                  static_cast<int>(width), static_cast<int>(height));
    if (r.texture == nullptr) r.widener.reset();
  }
  if (r.texture == nullptr) {
    r.texture = SDL_CreateTexture(r.renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING,
                                  static_cast<int>(width), static_cast<int>(height));
  }
  if (r.texture == nullptr) return CannotShowPictures();
  r.surfaceWidth = width;
  r.surfaceHeight = height;
  r.clientWidth = width;
  r.clientHeight = height;
  r.shown.assign(r.invisible && r.keepShown ? std::size_t{width} * height : 0, 0);
  return {};
}

void PlayerWindow::FitToPicture(uint32_t width, uint32_t height) {
  SDL_Window* window = resources_->window;
  if (window == nullptr || (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0) return;
  const WindowSize size = resources_->invisible ? WindowSize{width, height} : DesktopWindowSize(width, height);
  SDL_SetWindowSize(window, static_cast<int>(size.width), static_cast<int>(size.height));
}

void PlayerWindow::ToggleFullScreen() {
  SDL_Window* window = resources_->window;
  if (window == nullptr) return;
  const bool full = (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0;
  SDL_SetWindowFullscreen(window, full ? 0u : static_cast<Uint32>(SDL_WINDOW_FULLSCREEN_DESKTOP));
}

void PlayerWindow::PresentSurface(std::span<const uint16_t> bottomUpPixels, uint32_t width, uint32_t height,
                                  int32_t left, int32_t top, int32_t right, int32_t bottom) {
  Resources& r = *resources_;
  if (r.texture == nullptr || width != r.surfaceWidth || height != r.surfaceHeight ||
      bottomUpPixels.size() < std::size_t{width} * height) {
    return;
  }
  left = std::clamp<int32_t>(left, 0, static_cast<int32_t>(width));
  right = std::clamp<int32_t>(right, left, static_cast<int32_t>(width));
  top = std::clamp<int32_t>(top, 0, static_cast<int32_t>(height));
  bottom = std::clamp<int32_t>(bottom, top, static_cast<int32_t>(height));
  if (left == right || top == bottom) return;
  if (r.invisible) {
    // A window nobody sees draws nothing: at most it keeps what it was shown, for checks.
    if (!r.keepShown) return;
    const auto columns = static_cast<std::size_t>(right - left);
    for (int32_t row = top; row < bottom; ++row) {
      const uint16_t* from = SurfaceRow(bottomUpPixels, width, height, row, left);
      std::copy(from, from + columns,
                r.shown.begin() + static_cast<std::ptrdiff_t>(std::size_t{width} * static_cast<std::size_t>(row) + left));
    }
    return;
  }
  const SDL_Rect rect{left, top, right - left, bottom - top};
  UpdateTextureFromSurface(r.texture, r.widener ? &*r.widener : nullptr, rect, bottomUpPixels, width, height);
  // The renderer scales the whole surface to fit the window, keeping its shape.
  int outputWidth = 0;
  int outputHeight = 0;
  if (SDL_GetRendererOutputSize(r.renderer, &outputWidth, &outputHeight) != 0) return;
  const FittedRect fitted = FitPicture(width, height, static_cast<uint32_t>(std::max(outputWidth, 0)),
                                       static_cast<uint32_t>(std::max(outputHeight, 0)));
  const SDL_Rect target{static_cast<int>(fitted.left), static_cast<int>(fitted.top),
                        static_cast<int>(fitted.width), static_cast<int>(fitted.height)};
  // Black bars beside the picture; a picture that fills the window leaves nothing to clear.
  if (fitted.width != static_cast<uint32_t>(outputWidth) || fitted.height != static_cast<uint32_t>(outputHeight)) {
    SDL_SetRenderDrawColor(r.renderer, 0, 0, 0, 255);
    SDL_RenderClear(r.renderer);
  }
  SDL_RenderCopy(r.renderer, r.texture, nullptr, &target);
  SDL_RenderPresent(r.renderer);
}

void PlayerWindow::KeepShownPixels() {
  Resources& r = *resources_;
  if (!r.invisible || r.keepShown) return;
  r.keepShown = true;
  r.shown.assign(std::size_t{r.surfaceWidth} * r.surfaceHeight, 0);
}

std::span<const uint16_t> PlayerWindow::ShownPixels() const { return resources_->shown; }

void PlayerWindow::SetTitle(const std::string& title) {
  if (resources_->window != nullptr) SDL_SetWindowTitle(resources_->window, title.c_str());
}

std::string PlayerWindow::Title() const {
  if (resources_->window == nullptr) return {};
  return SDL_GetWindowTitle(resources_->window);
}

void PlayerWindow::Show() {
  if (resources_->window != nullptr) SDL_ShowWindow(resources_->window);
}

void PlayerWindow::BringToFront() {
  if (resources_->window == nullptr) return;
  SDL_RestoreWindow(resources_->window);
  SDL_RaiseWindow(resources_->window);
}

void PlayerWindow::Destroy() {
  Resources& r = *resources_;
  if (r.texture != nullptr) SDL_DestroyTexture(r.texture);
  if (r.renderer != nullptr) SDL_DestroyRenderer(r.renderer);
  if (r.window != nullptr) SDL_DestroyWindow(r.window);
  r.texture = nullptr;
  r.renderer = nullptr;
  r.window = nullptr;
}

bool PlayerWindow::Exists() const { return resources_->window != nullptr; }

void PlayerWindow::PostMessage(const WindowMessage& message) { posted_.push_back(message); }

void PlayerWindow::PostQuit(int32_t code) {
  WindowMessage quit;
  quit.type = WindowMessageType::Quit;
  quit.code = code;
  posted_.push_back(quit);
}

std::optional<WindowMessage> PlayerWindow::PeekMessage() {
  if (!posted_.empty()) {
    const WindowMessage message = posted_.front();
    posted_.pop_front();
    return message;
  }
  if (std::optional<WindowMessage> message = TranslateEvent()) return message;
  if (TakeCloseSignal()) return MakeMessage(WindowMessageType::Close);
  return std::nullopt;
}

std::string PlayerWindow::DisplayName() {
  const char* driver = SDL_GetCurrentVideoDriver();
  std::string name = driver != nullptr ? driver : "none";
  const char* display = nullptr;
  if (name == "x11") display = SDL_getenv("DISPLAY");
  if (name == "wayland") display = SDL_getenv("WAYLAND_DISPLAY");
  if (display != nullptr) name += std::string(":") + display;
  return name;
}

std::optional<WindowMessage> PlayerWindow::WaitMessage(std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (std::optional<WindowMessage> message = PeekMessage()) return message;
    // Rounded up: a wait of less than a millisecond left is a millisecond, not none.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    // Wakes on the next event, which stays queued for PeekMessage. A close signal is noticed on
    // waking, so no single wait is longer than a tenth of a second. SDL waits for the invisible
    // drivers' events by looking every millisecond; they have none, so a plain sleep does.
    const auto wait = static_cast<int>(std::min<int64_t>(left.count(), 100));
    if (resources_->invisible) {
      SDL_Delay(static_cast<Uint32>(wait));
    } else {
      SDL_WaitEventTimeout(nullptr, wait);
    }
  }
}

std::optional<WindowMessage> PlayerWindow::TranslateEvent() {
  SDL_Event event;
  while (SDL_PollEvent(&event) != 0) {
    WindowMessage message;
    switch (event.type) {
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        if (event.key.keysym.sym == SDLK_F11) {  // the window's own key
          if (event.type == SDL_KEYDOWN && event.key.repeat == 0) ToggleFullScreen();
          continue;
        }
        message.type = event.type == SDL_KEYDOWN ? WindowMessageType::KeyDown : WindowMessageType::KeyUp;
        message.virtualKey = VirtualKey(event.key.keysym.sym);
        message.shift = (event.key.keysym.mod & KMOD_SHIFT) != 0;
        return message;
      case SDL_TEXTINPUT: {
        // One message per character typed, as the key's own layout makes it ("?" is Shift and "/"
        // on some keyboards and a key of its own on others); only ASCII characters are told.
        const auto first = static_cast<unsigned char>(event.text.text[0]);
        if (first == 0 || first >= 0x80 || event.text.text[1] != '\0') continue;
        message.type = WindowMessageType::Char;
        message.code = first;
        return message;
      }
      case SDL_DROPFILE:
        if (event.drop.file == nullptr) continue;
        message.type = WindowMessageType::DropFile;
        message.path = event.drop.file;
        SDL_free(event.drop.file);
        return message;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        if (event.button.button != SDL_BUTTON_LEFT) continue;
        message.type = event.type == SDL_MOUSEBUTTONDOWN ? WindowMessageType::LeftButtonDown
                                                         : WindowMessageType::LeftButtonUp;
        return message;
      case SDL_MOUSEMOTION:
        message.type = WindowMessageType::MouseMove;
        return message;
      case SDL_QUIT:
        message.type = WindowMessageType::Close;
        return message;
      case SDL_WINDOWEVENT:
        message.type = WindowEventType(event.window.event);
        if (message.type == WindowMessageType::Other) continue;
        return message;
      default:
        continue;
    }
  }
  return std::nullopt;
}

void ShowErrorBox(const std::string& caption, const std::string& text) {
  if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), nullptr) != 0) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
}

}  // namespace reel
