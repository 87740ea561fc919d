#include "player/video/movie.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "common/qrx_format.h"
#include "common/string_search.h"

namespace reel {
namespace {

// A frame index no movie has: the clock's answer while channel 0 plays nothing.
constexpr uint32_t kNoFrame = 0xFFFFFFFF;

// While the sound has not started its clock stands at 0 and cannot tell when it will move: the
// movie looks again after this long, well within the time to the second frame (67 ms at 15 frames
// a second), so the second frame is not shown late.
constexpr std::chrono::milliseconds kSoundStartPoll{20};
// The longest wait a movie asks for, so that a clock that jumps (a sound device that stalled and
// caught up) is followed soon.
constexpr std::chrono::milliseconds kLongestWait{100};
// The sound's clock stands still when the device takes its next sound late, and then jumps ahead;
// while it lags behind the tick count by more than the slack, the movie looks again this often,
// so that the jump is followed at once.
constexpr uint32_t kStallSlackMs = 3;
constexpr std::chrono::milliseconds kStallPoll{2};

bool IsExistingFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

uint32_t SystemTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// The product is taken in 64 bits, so a long position at a high rate cannot wrap to an early frame.
uint32_t FrameAtTime(uint32_t milliseconds, uint32_t frameRate) {
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{milliseconds} * frameRate / 1000, kNoFrame));
}

// FrameAtTime(t, rate) >= frame exactly when t * rate >= 1000 * frame.
uint64_t TimeOfFrame(uint32_t frame, uint32_t frameRate) {
  if (frameRate == 0) return UINT64_MAX;
  return (uint64_t{frame} * 1000 + frameRate - 1) / frameRate;
}

std::string CompanionSoundPath(const std::string& moviePath, std::string_view extension) {
  const auto slash = FindLastChar(moviePath, '/');
  const std::size_t nameStart = slash ? *slash + 1 : 0;
  const auto dot = FindLastChar(std::string_view(moviePath).substr(nameStart), '.');
  const std::string base = dot ? moviePath.substr(0, nameStart + *dot) : moviePath;
  return base + std::string(extension);
}

std::optional<std::string> FindCompanionSound(const std::string& moviePath, std::string_view extension) {
  std::string exact = CompanionSoundPath(moviePath, extension);
  if (IsExistingFile(exact)) return exact;
  const auto slash = FindLastChar(exact, '/');
  const std::string folder = slash ? exact.substr(0, *slash + 1) : std::string();
  const std::string name = exact.substr(folder.size());
  std::optional<std::string> found;
  std::error_code error;
  std::filesystem::directory_iterator it(folder.empty() ? "." : folder, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::string candidate = it->path().filename().string();
    if (!EqualNoCase(candidate, name) || (found && candidate >= *found)) continue;
    if (IsExistingFile(folder + candidate)) found = candidate;
  }
  if (!found) return std::nullopt;
  return folder + *found;
}

std::optional<std::string> FindAnyCompanionSound(const std::string& moviePath) {
  if (auto mp3 = FindCompanionSound(moviePath, ".mp3")) return mp3;
  return FindCompanionSound(moviePath, ".ogg");
}

namespace {

// Room for a picture of the movie's size, padded to whole macroblocks, and at least the screen's.
std::size_t PictureBufferPixels(uint32_t width, uint32_t height) {
  const ScreenSize screen = ScreenSizeFor(width, height);
  const auto padded = [](uint32_t side) { return (std::size_t{side} + 15) / 16 * 16; };
  return std::max(std::size_t{kScreenWidth} * kScreenHeight,
                  padded(std::min(width, screen.width)) * padded(std::min(height, screen.height)));
}

}  // namespace

PictureHolder::PictureHolder(uint32_t pictureWidth, uint32_t pictureHeight)
    : pixels_(std::make_unique_for_overwrite<uint16_t[]>(PictureBufferPixels(pictureWidth, pictureHeight))) {
  decoder_.SetPictureBuffer(std::span(pixels_.get(), PictureBufferPixels(pictureWidth, pictureHeight)));
}

PictureView PictureHolder::View(uint32_t width, uint32_t height) const {
  PictureView view;
  view.pixels = decoder_.Pixels();
  view.rowPixels = decoder_.RowBytes() / 2;
  view.width = width;
  view.height = height;
  return view;
}

Movie::Movie(std::unique_ptr<QrxReader> reader, Display& display, MovieSound& sound, TickSource ticks,
             PlaybackObserver observer, PictureDrawing drawing)
    : reader_(std::move(reader)),
      display_(display),
      sound_(sound),
      ticks_(std::move(ticks)),
      observer_(std::move(observer)),
      drawing_(drawing),
      picture_(reader_->Width(), reader_->Height()) {
  if (!PlayerShowsPicture(reader_->Width(), reader_->Height())) {
    NotePictureProblem("its pictures are " + std::to_string(reader_->Width()) + " x " + std::to_string(reader_->Height()) +
                       ", more than the player shows (at most " + std::to_string(kMaxShownSide) + " pixels a side and " +
                       std::to_string(kMaxShownMacroblocks) + " macroblocks); only its sound plays");
  }
}

void Movie::NotePictureProblem(std::string what) {
  if (!pictureProblemTold_ && !pictureProblem_) pictureProblem_ = std::move(what);
}

std::optional<std::string> Movie::TakePictureProblem() {
  if (!pictureProblem_) return std::nullopt;
  pictureProblemTold_ = true;
  std::optional<std::string> problem = std::move(pictureProblem_);
  pictureProblem_.reset();
  return problem;
}

// A refused frame leaves the previous picture shown (or none), wherever it is, and the first one
// is told.
void Movie::Decode(uint32_t index, std::span<const uint8_t> frame) {
  const std::optional<WindowRect> place = SurfacePlace(frame);
  const PictureRows surface{display_.Bits(), display_.SurfaceWidth(), display_.SurfaceHeight(), true};
  const Status decoded = place ? picture_.DecodeInto(frame, surface, static_cast<uint32_t>(place->left),
                                                     static_cast<uint32_t>(place->top))
                               : picture_.Decode(frame);
  if (!decoded) {
    NotePictureProblem("frame " + std::to_string(index) + " cannot be shown: " + decoded.error().message);
    return;
  }
  pictureInSurface_ = place.has_value();
  if (place) surfaceFrame_.assign(frame.begin(), frame.end());
}

// A picture goes straight into the surface where drawing it from the buffer would copy every one
// of its decoded pixels and nothing else: whole groups of eight columns and whole macroblocks,
// inside the screen; and nothing is laid over the surface, which would draw over the picture.
std::optional<WindowRect> Movie::SurfacePlace(std::span<const uint8_t> frame) const {
  if (drawing_ != PictureDrawing::kDirect || display_.HasOverlay() || !display_.HasBitmap()) return std::nullopt;
  if (frame.size() < kQrxFrameHeaderSize) return std::nullopt;
  const QrxFrameHeader header = ReadQrxFrameHeader(frame.first<kQrxFrameHeaderSize>());
  const uint32_t width = reader_->Width();
  const uint32_t height = reader_->Height();
  if (header.width != width || header.height != height || width % 16 != 0 || height % 16 != 0) return std::nullopt;
  const WindowRect place = PicturePlacement(width, height, display_.Screen());
  const auto screenWidth = static_cast<int32_t>(std::min(display_.Screen().width, display_.SurfaceWidth()));
  const auto screenHeight = static_cast<int32_t>(std::min(display_.Screen().height, display_.SurfaceHeight()));
  if (place.left < 0 || place.top < 0 || place.right > screenWidth || place.bottom > screenHeight) return std::nullopt;
  return place;
}

void Movie::TakePictureFromSurface() {
  if (!pictureInSurface_) return;
  pictureInSurface_ = false;
  // The frame decoded before and the decoder's tables are as they were then, so the picture is
  // the same.
  static_cast<void>(picture_.Decode(surfaceFrame_));
}

void Movie::Start(const std::string& soundFolder, const std::string& soundName, int32_t volume, bool wholeFile) {
  // The screen takes the movie's picture size; the window scales it to fit.
  display_.SetScreenSize(ScreenSizeFor(reader_->Width(), reader_->Height()));
  ClearSurface(display_);
  if (reader_->FrameCount() != 0) {
    const auto frame = reader_->GetFrame(0);
    // A frame that is refused leaves no picture; the screen stays clear until one decodes.
    if (!frame.empty()) Decode(0, frame);
  }
  DrawCurrentPicture();
  if (observer_.framePresented && picture_.HasPicture()) observer_.framePresented(0, 0);
  if (!soundName.empty()) {
    hasSound_ = true;
    sound_.StartMusic(soundFolder, soundName, volume, wholeFile);
  }
  currentFrame_ = 0;
  startTick_ = ticks_();
}

std::optional<uint32_t> Movie::ClockMs() {
  if (hasSound_) {
    if (observer_.soundStarted && !soundStartTold_) {
      if (const std::optional<uint32_t> start = sound_.MusicStartFrame()) {
        soundStartTold_ = true;
        observer_.soundStarted(*start);
      }
    }
    const int32_t position = sound_.MusicPosition();
    if (position < 0) return std::nullopt;
    return static_cast<uint32_t>(position);
  }
  return TickClockMs();
}

uint32_t Movie::TickClockMs() const { return paused_ ? pausedClock_ : ticks_() - startTick_; }

void Movie::SetPaused(bool paused) {
  if (paused == paused_) return;
  if (paused) {
    pausedClock_ = TickClockMs();
  } else {
    startTick_ = ticks_() - pausedClock_;
  }
  paused_ = paused;
  lastLook_.reset();
}

void Movie::SeekBy(int64_t milliseconds) {
  const uint32_t count = reader_->FrameCount();
  const uint64_t lastFrame = count == 0 ? 0 : TimeOfFrame(count - 1, reader_->FrameRate());
  const int64_t now = ClockMs().value_or(0);
  const auto target = static_cast<uint32_t>(
      std::clamp<int64_t>(now + milliseconds, 0, static_cast<int64_t>(std::min<uint64_t>(lastFrame, INT32_MAX))));
  lastLook_.reset();
  if (hasSound_) {
    sound_.SeekMusic(target);
    return;
  }
  pausedClock_ = target;
  startTick_ = ticks_() - target;
}

void Movie::Redraw() {
  TakePictureFromSurface();
  BlankScreen(display_);
  if (!picture_.HasPicture()) {
    RepaintSurface(display_);
    return;
  }
  DrawPicture(display_, picture_.View(reader_->Width(), reader_->Height()));
  RepaintSurface(display_);
}

void Movie::DrawCurrentPicture() {
  if (!picture_.HasPicture()) return;
  if (pictureInSurface_) {
    PresentPicture(display_, reader_->Width(), reader_->Height());
  } else {
    DrawPicture(display_, picture_.View(reader_->Width(), reader_->Height()));
  }
  ++framesShown_;
}

// False when the frame cannot be had: the file could not be read any more.
bool Movie::ShowFrame(uint32_t index, uint32_t clockMs) {
  const auto frame = reader_->GetFrame(index);
  if (frame.empty() && reader_->Failed()) return false;
  Decode(index, frame);
  const uint32_t shownBefore = framesShown_;
  DrawCurrentPicture();
  if (observer_.framePresented && framesShown_ != shownBefore) observer_.framePresented(index, clockMs);
  return true;
}

bool Movie::Tick() {
  const uint32_t old = currentFrame_;
  const std::optional<uint32_t> clock = ClockMs();
  currentFrame_ = clock ? FrameAtTime(*clock, reader_->FrameRate()) : kNoFrame;
  if (currentFrame_ != old) {
    if (currentFrame_ >= reader_->FrameCount()) return false;
    if (!ShowFrame(currentFrame_, *clock)) return false;
  }
  return true;
}

std::chrono::milliseconds Movie::TimeToNextFrame() {
  if (paused_) return kLongestWait;  // nothing moves; a key wakes the player
  const std::optional<uint32_t> clock = ClockMs();
  if (!clock) return std::chrono::milliseconds(0);  // the sound stopped: the next tick ends the movie
  if (hasSound_ && *clock == 0) return kSoundStartPoll;
  const uint32_t next = currentFrame_ == kNoFrame ? 0 : currentFrame_ + 1;
  const uint64_t due = TimeOfFrame(next, reader_->FrameRate());
  if (due <= *clock) return std::chrono::milliseconds(0);
  const auto wait = std::min<std::chrono::milliseconds>(std::chrono::milliseconds(due - *clock), kLongestWait);
  return hasSound_ && SoundClockLags(*clock) ? std::min(wait, kStallPoll) : wait;
}

// Compares the sound's clock with the tick count since the previous look.
bool Movie::SoundClockLags(uint32_t clockMs) {
  const uint32_t now = ticks_();
  const bool lags = lastLook_ && static_cast<int32_t>((now - lastLook_->tick) - (clockMs - lastLook_->clock)) >
                                     static_cast<int32_t>(kStallSlackMs);
  lastLook_ = ClockLook{clockMs, now};
  return lags;
}

MovieSlot::MovieSlot(Display& display, MovieSound& sound, TickSource ticks)
    : display_(display), sound_(sound), ticks_(std::move(ticks)) {}

Status MovieSlot::OpenMovie(const std::string& folder, const std::string& fileName, int32_t volume, bool wholeFile) {
  CloseMovie();
  const std::string path = folder + fileName;
  if (!IsExistingFile(path)) return MakeError(ErrorKind::kNotFound, path, "no such movie");
  Result<std::unique_ptr<QrxReader>> reader = QrxReader::Open(path);
  if (!reader) return reader.error();
  movie_ = std::make_unique<Movie>(std::move(*reader), display_, sound_, ticks_, observer_, drawing_);
  if (observer_.movieOpened) observer_.movieOpened(path);

  std::string soundFolder;
  std::string soundName;
  if (const std::optional<std::string> soundPath = FindAnyCompanionSound(path)) {
    const auto slash = FindLastChar(*soundPath, '/');
    const std::size_t nameStart = slash ? *slash + 1 : 0;
    soundFolder = soundPath->substr(0, nameStart);
    soundName = soundPath->substr(nameStart);
  }
  movie_->Start(soundFolder, soundName, volume, wholeFile);
  movie_->SetPaused(paused_);
  return {};
}

bool MovieSlot::TickMovie() { return movie_ ? movie_->Tick() : false; }

std::chrono::milliseconds MovieSlot::TimeToNextFrame() {
  return movie_ ? movie_->TimeToNextFrame() : std::chrono::milliseconds(0);
}

void MovieSlot::SetPaused(bool paused) {
  paused_ = paused;
  sound_.PauseMusic(paused);
  if (movie_) movie_->SetPaused(paused);
}

void MovieSlot::SeekBy(int64_t milliseconds) {
  if (movie_) movie_->SeekBy(milliseconds);
}

void MovieSlot::Redraw() {
  if (movie_) movie_->Redraw();
}

bool MovieSlot::CloseMovie() {
  if (!movie_) return false;
  movie_.reset();
  return true;
}

}  // namespace reel
