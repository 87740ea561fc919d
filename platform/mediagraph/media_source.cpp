#include "platform/mediagraph/media_source.h"

#include "platform/mediagraph/format_probe.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string_view>
#include <vector>

namespace reel {
namespace {

// Formats whose files only name other files or addresses to read (playlists, lists of parts,
// session descriptions). Only the source itself may be opened, so such a file can give no picture;
// a live playlist would wait for new entries until the quiet time ran out.
constexpr std::string_view kListFormats[] = {"concat", "dash", "hls", "imf", "sdp"};

bool IsListFormat(const AVInputFormat& format) {
  return std::find(std::begin(kListFormats), std::end(kListFormats), std::string_view(format.name)) !=
         std::end(kListFormats);
}

// Opens the source file itself and nothing else. Playlists and lists of files (HLS, concat and the
// like) name other files or network addresses that their demuxers would open: a source must not
// make the converter read whatever it names.
int OpenOnlyTheSource(AVFormatContext* context, AVIOContext** pb, const char* url, int flags, AVDictionary** options) {
  const auto* source = static_cast<const MediaSource*>(context->opaque);
  if (source == nullptr || url == nullptr || source->Path() != url) return AVERROR(EPERM);
  return avio_open2(pb, url, flags, &context->interrupt_callback, options);
}

// Leaves the video streams out of the stream-information pass when the header names a single audio
// stream; see StreamsWanted::kSound.
void LeaveOutPictures(AVFormatContext& context) {
  if ((context.ctx_flags & AVFMTCTX_NOHEADER) != 0) return;
  int sounds = 0;
  for (unsigned i = 0; i < context.nb_streams; ++i) {
    if (context.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) ++sounds;
  }
  if (sounds != 1) return;
  for (unsigned i = 0; i < context.nb_streams; ++i) {
    if (context.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) context.streams[i]->discard = AVDISCARD_ALL;
  }
}

}  // namespace

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

MediaSource::MediaSource(Key, std::string path, std::chrono::milliseconds quietFor)
    : path_(std::move(path)), quietFor_(quietFor), lastProgress_(std::chrono::steady_clock::now()) {}

MediaSource::~MediaSource() { avformat_close_input(&context_); }

int MediaSource::Interrupt(void* opaque) { return static_cast<const MediaSource*>(opaque)->Starved() ? 1 : 0; }

Result<std::unique_ptr<MediaSource>> MediaSource::Open(const std::string& path, std::chrono::milliseconds quietFor,
                                                      const std::optional<SourceFormat>& known, StreamsWanted wanted) {
  // The converter reports its own errors; the libraries' chatter would only interleave with them.
  av_log_set_level(AV_LOG_QUIET);
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return MakeError(ErrorKind::kNotFound, path, "no such file");
  if (std::filesystem::is_directory(path, error)) return MakeError(ErrorKind::kCannotRead, path, "is a folder");
  // A pipe or a device would block the first read until something writes to it, perhaps forever.
  if (!std::filesystem::is_regular_file(path, error)) {
    return MakeError(ErrorKind::kCannotRead, path, "not a regular file");
  }
  const AVInputFormat* reader = known ? known->ReaderFor(path) : nullptr;
  if (reader != nullptr && !IsListFormat(*reader)) {
    auto opened = OpenWith(path, quietFor, reader, wanted);
    // A file that no longer opens with the reader it opened with is probed afresh, so that it fails
    // as any file would; a stalled read would only stall again.
    if (opened || opened.kind() == ErrorKind::kTimedOut) return opened;
  }
  const FormatProbe probe = ProbeFormat(path);
  if (!probe.readable) return MakeError(ErrorKind::kCannotRead, path, "cannot open the file");
  if (probe.format == nullptr) {
    return MakeError(ErrorKind::kNotThisFormat, path, "not a media file: no reader recognises its contents");
  }

  if (IsListFormat(*probe.format)) {
    return MakeError(ErrorKind::kNotThisFormat, path,
                     std::string("a list of other files (") + probe.format->name + "), not a media file itself");
  }
  return OpenWith(path, quietFor, probe.format, wanted);
}

Result<std::unique_ptr<MediaSource>> MediaSource::OpenWith(const std::string& path, std::chrono::milliseconds quietFor,
                                                          const AVInputFormat* reader, StreamsWanted wanted) {
  auto source = std::make_unique<MediaSource>(Key(), path, quietFor);
  source->context_ = avformat_alloc_context();
  if (source->context_ == nullptr) return MakeError(ErrorKind::kOutOfMemory, path, "out of memory");
  source->context_->interrupt_callback = AVIOInterruptCB{&MediaSource::Interrupt, source.get()};
  source->context_->opaque = source.get();
  source->context_->io_open = &OpenOnlyTheSource;
  source->Feed();
  const std::string formatName = reader->name;
  int result = avformat_open_input(&source->context_, path.c_str(), reader, nullptr);
  if (result < 0) {
    if (source->Starved()) return MakeError(ErrorKind::kTimedOut, path, "opening the file did not finish");
    return MakeError(ErrorKind::kDamaged, path,
                     "a " + formatName + " file that cannot be opened (" + AvErrorText(result) + ")");
  }
  if (wanted == StreamsWanted::kSound) LeaveOutPictures(*source->context_);
  source->Feed();
  result = avformat_find_stream_info(source->context_, nullptr);
  if (result < 0) {
    if (source->Starved()) return MakeError(ErrorKind::kTimedOut, path, "reading the stream headers did not finish");
    return MakeError(ErrorKind::kDamaged, path, "its stream headers cannot be read (" + AvErrorText(result) + ")");
  }
  source->format_ = SourceFormat::Of(path, reader);
  return source;
}

Result<bool> MediaSource::NextPacket(int stream, AVPacket* packet) {
  while (true) {
    av_packet_unref(packet);
    const int result = av_read_frame(context_, packet);
    if (result == AVERROR_EOF) return false;
    if (result < 0) {
      if (Starved()) return MakeError(ErrorKind::kTimedOut, path_, "reading the file stalled");
      // A read error in the middle of a file ends it as a truncated file would end.
      if (result == AVERROR(EIO) || result == AVERROR_INVALIDDATA) return false;
      return MakeError(ErrorKind::kCannotRead, path_, "cannot read the file (" + AvErrorText(result) + ")");
    }
    Feed();
    if (packet->stream_index == stream) return true;
  }
}

}  // namespace reel
