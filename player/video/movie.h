// Movie: one open QRX movie played on the player's screen, in step with its companion MP3.
//
// On every idle tick the clock says which frame belongs to the moment: the sound's position on
// channel 0 when the movie has a companion MP3, the tick count since opening otherwise. A new
// frame is fetched from the reader, decoded and drawn; frames in between are skipped, and a frame
// is never shown twice in a row. The movie ends when the clock passes its last frame or when its
// sound channel stops playing; the shell then opens it again.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "player/video/display.h"
#include "player/video/frame_decoder.h"
#include "player/video/qrx_reader.h"

namespace reel {

// What a movie needs of the sound side: channel 0 of the player's audio output.
class MovieSound {
 public:
  virtual ~MovieSound() = default;
  // Opens `fileName` in `folder` (which ends with "/") on channel 0 and starts it at once,
  // without looping, replacing whatever played there.
  virtual void StartMusic(const std::string& folder, const std::string& fileName, int32_t volume,
                          bool wholeFile) = 0;
  // Channel 0's playing position in milliseconds, or a negative value when nothing plays there.
  virtual int32_t MusicPosition() = 0;
  // Where channel 0's first sample plays, in sample frames of the sound output since it opened;
  // none until that is known.
  virtual std::optional<uint32_t> MusicStartFrame() { return std::nullopt; }
  // Pauses or resumes the sound; paused, its position stands still.
  virtual void PauseMusic(bool /*paused*/) {}
  // Moves channel 0's sound to `milliseconds`, or as near before it as a whole frame of the sound
  // allows, and returns its position then; none when nothing plays there.
  virtual std::optional<int32_t> SeekMusic(uint32_t /*milliseconds*/) { return std::nullopt; }
};

// Milliseconds from an arbitrary start, wrapping at 32 bits.
using TickSource = std::function<uint32_t()>;
uint32_t SystemTickCount();

// The frame index for a clock reading: elapsed milliseconds x frames per second / 1000, truncated.
uint32_t FrameAtTime(uint32_t milliseconds, uint32_t frameRate);
// The first clock reading in milliseconds at which FrameAtTime gives `frame` or more.
uint64_t TimeOfFrame(uint32_t frame, uint32_t frameRate);

// The companion sound's path: the movie path with everything from the file name's last "." on
// replaced by `extension` (or `extension` appended when the file name has no ".").
std::string CompanionSoundPath(const std::string& moviePath, std::string_view extension = ".mp3");

// The companion sound file of a movie: CompanionSoundPath when that file exists, else a file of
// the movie's folder whose name differs from it only in the case of ASCII letters ("A.MP3" beside
// "A.qrx", as files copied from a system that ignores case keep them; the first by byte order if
// several do); none when there is neither.
std::optional<std::string> FindCompanionSound(const std::string& moviePath, std::string_view extension = ".mp3");

// Whichever companion the converter wrote: the MP3 as FindCompanionSound finds it, else the Ogg.
std::optional<std::string> FindAnyCompanionSound(const std::string& moviePath);

// Told about every movie opened (its path), every picture a movie presents (the movie's frame
// index and the clock in milliseconds at that moment) and, once a movie's sound has started, where
// its first sample plays.
struct PlaybackObserver {
  std::function<void(uint32_t frame, uint32_t clockMs)> framePresented;
  std::function<void(uint32_t outputFrame)> soundStarted;
  std::function<void(const std::string& path)> movieOpened;
};

// How a movie's pictures reach the display's surface. kDirect decodes a picture straight into the
// surface when it covers whole macroblocks inside the screen, its frame is of the movie's size and
// nothing is laid over the surface; the picture is then kept nowhere else (a redraw decodes its
// frame again). kCopied always decodes into the movie's picture buffer and draws it from there: the
// plain way, which kDirect must match pixel for pixel.
enum class PictureDrawing { kDirect, kCopied };

// The picture buffer, sized for the movie's picture (and never smaller than the screen), and the
// decoder that writes into it.
class PictureHolder {
 public:
  PictureHolder(uint32_t pictureWidth = kScreenWidth, uint32_t pictureHeight = kScreenHeight);
  PictureHolder(const PictureHolder&) = delete;
  PictureHolder& operator=(const PictureHolder&) = delete;

  // The decoder's result; after a refused frame the previous picture stays.
  Status Decode(std::span<const uint8_t> frame) { return decoder_.DecodeFrame(frame); }
  // The same, rendered into `target` at (left, top) instead; the buffer then does not hold it.
  Status DecodeInto(std::span<const uint8_t> frame, const PictureRows& target, uint32_t left, uint32_t top) {
    return decoder_.DecodeFrameInto(frame, target, left, top);
  }
  bool HasPicture() const { return !decoder_.Pixels().empty(); }
  // Forgets the picture and the decoder's tables, as a new holder would be; its memory is kept.
  void Reset() { decoder_.Reset(); }
  // The picture as the movie header sizes it.
  PictureView View(uint32_t width, uint32_t height) const;

 private:
  // Not cleared: the decoder writes every pixel of a picture before it is read, and a movie whose
  // pictures go straight into the surface never touches it.
  std::unique_ptr<uint16_t[]> pixels_;
  FrameDecoder decoder_;
};

class Movie {
 public:
  Movie(std::unique_ptr<QrxReader> reader, Display& display, MovieSound& sound, TickSource ticks,
        PlaybackObserver observer = {}, PictureDrawing drawing = PictureDrawing::kDirect);
  Movie(const Movie&) = delete;
  Movie& operator=(const Movie&) = delete;

  // Clears the screen, shows frame 0 and starts the companion sound if `soundFolder` is given.
  void Start(const std::string& soundFolder, const std::string& soundName, int32_t volume, bool wholeFile);
  // One clock step: true while the movie goes on, false when it has ended.
  bool Tick();
  // How long, by the clock as it stands now, until the next frame is due (0 when it is due or the
  // movie is to end); at most a tenth of a second, and a fiftieth while the sound has not
  // started. The player may sleep that long before the next Tick without showing anything later.
  std::chrono::milliseconds TimeToNextFrame();

  // Paused, the clock stands still (the sound's own clock stands with the paused sound).
  void SetPaused(bool paused);
  // Moves the clock by `milliseconds` from where it stands, stopping at the first and the last
  // frame: the sound goes to the whole frame of it that holds the new place, and the next Tick
  // shows the frame the clock then names.
  void SeekBy(int64_t milliseconds);
  // Draws the picture shown again, over a black screen.
  void Redraw();

  uint32_t CurrentFrame() const { return currentFrame_; }
  uint32_t FramesShown() const { return framesShown_; }
  bool HasSound() const { return hasSound_; }
  // True while the picture shown was decoded straight into the surface (PictureDrawing::kDirect).
  bool DrawsIntoSurface() const { return pictureInSurface_; }
  const QrxReader& Reader() const { return *reader_; }

  // What keeps the movie's pictures from the screen, told once per movie: a picture size beyond
  // what the player shows, or the first frame the decoder refuses (the picture before it stays).
  std::optional<std::string> TakePictureProblem();

 private:
  void NotePictureProblem(std::string what);
  void Decode(uint32_t index, std::span<const uint8_t> frame);
  // Where a decoded `frame` goes straight into the surface (its top-left pixel there); none when it
  // is to be decoded into the picture buffer and copied.
  std::optional<WindowRect> SurfacePlace(std::span<const uint8_t> frame) const;
  // Brings a picture decoded into the surface back into the picture buffer, by decoding its frame
  // again, before anything draws over the surface.
  void TakePictureFromSurface();
  // The clock in milliseconds; none while channel 0 plays nothing.
  std::optional<uint32_t> ClockMs();
  bool ShowFrame(uint32_t index, uint32_t clockMs);
  bool SoundClockLags(uint32_t clockMs);
  void DrawCurrentPicture();
  // Milliseconds since the start by the tick count, less the time paused.
  uint32_t TickClockMs() const;

  std::unique_ptr<QrxReader> reader_;
  Display& display_;
  MovieSound& sound_;
  TickSource ticks_;
  PlaybackObserver observer_;
  bool soundStartTold_ = false;
  PictureDrawing drawing_;
  PictureHolder picture_;
  bool pictureInSurface_ = false;  // the picture shown was decoded into the surface, not the buffer
  std::vector<uint8_t> surfaceFrame_;  // that picture's coded frame
  uint32_t currentFrame_ = 0;
  uint32_t startTick_ = 0;
  uint32_t framesShown_ = 0;
  bool hasSound_ = false;
  bool paused_ = false;
  uint32_t pausedClock_ = 0;  // the tick clock when it was paused
  struct ClockLook {
    uint32_t clock = 0;
    uint32_t tick = 0;
  };
  std::optional<ClockLook> lastLook_;  // the sound's clock and the tick count at the last wait
  std::optional<std::string> pictureProblem_;
  bool pictureProblemTold_ = false;
};

// The shell's movie slot: at most one open movie.
class MovieSlot {
 public:
  MovieSlot(Display& display, MovieSound& sound, TickSource ticks = SystemTickCount);

  void SetDisplayProperties(const DisplayProperties& properties) { surface_ = properties; }
  // Movies opened from now on tell `observer` about every picture they present.
  void SetObserver(PlaybackObserver observer) { observer_ = std::move(observer); }
  // Movies opened from now on draw their pictures this way (kDirect unless set).
  void SetPictureDrawing(PictureDrawing drawing) { drawing_ = drawing; }

  // Closes any open movie, then opens folder + fileName (the folder ends with "/"). An error
  // naming the file when it does not exist (kNotFound) or is not a readable movie; nothing is
  // open then.
  Status OpenMovie(const std::string& folder, const std::string& fileName, int32_t volume, bool wholeFile);
  // Advances the open movie: true while it goes on, false when it has ended (or none is open).
  bool TickMovie();
  // The open movie's TimeToNextFrame; 0 when none is open.
  std::chrono::milliseconds TimeToNextFrame();
  // Pauses or resumes the sound and the open movie, and every movie opened from now on.
  void SetPaused(bool paused);
  bool Paused() const { return paused_; }
  // The open movie's SeekBy and Redraw; nothing when none is open.
  void SeekBy(int64_t milliseconds);
  void Redraw();
  // True if a movie was open.
  bool CloseMovie();
  bool IsMovieOpen() const { return movie_ != nullptr; }

  const Movie* Current() const { return movie_.get(); }
  // The open movie's TakePictureProblem.
  std::optional<std::string> TakePictureProblem() { return movie_ ? movie_->TakePictureProblem() : std::nullopt; }

 private:
  Display& display_;
  MovieSound& sound_;
  TickSource ticks_;
  DisplayProperties surface_;
  PlaybackObserver observer_;
  PictureDrawing drawing_ = PictureDrawing::kDirect;
  bool paused_ = false;
  std::unique_ptr<Movie> movie_;
};

}  // namespace reel
