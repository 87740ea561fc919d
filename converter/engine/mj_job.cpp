// The ".mj" job: header, index, the chunks' pictures through the frame loop, then the chunks'
// sound as one companion file.
#include <string>

#include "converter/engine/job_run.h"
#include "converter/engine/mj_file.h"
#include "converter/jpeg/frame_jpeg.h"

namespace reel {

Status CWavFileMake::Run::RunMj() {
  job_.framesDone.store(0);
  job_.framesTotal.store(0);
  Result<MjFile> mj = MjFile::Open(settings_.sourcePath);
  if (!mj) return mj.error();
  const MjHeader& header = mj->Header();
  const uint32_t rate = mj->SourceRate();
  if (rate == 0) {
    return SourceError(ErrorKind::kRefused, "the .mj frame rate is 0 frames per second; there is nothing to convert");
  }
  const auto timing = ComputeFrameTiming(rate, mj->ChunkCount(), settings_.frameRateChoice);
  if (!timing) return SourceError(ErrorKind::kRefused, "the .mj file is too long for one movie");
  const auto size = FitBoxFromHeader(BoxForChoice(settings_.pictureSizeChoice), {header.width, header.height});
  if (!size) return SourceError(ErrorKind::kDamaged, "the .mj header gives a picture size of 0");
  // The fit enlarges a source narrower than the box; a height beyond the largest picture the
  // scaler makes could never be coded (see FitBoxFromHeader), so nothing is written at all.
  if (size->height > BmpImage::kMaxDimension) {
    return SourceError(ErrorKind::kUnsupported, "the .mj picture is too narrow for its height to fit a movie");
  }
  if (Status free = RefuseOutputOverSource(".qrx"); !free) return free;
  if (Status free = RefuseOutputOverSource(".mp3"); !free) return free;

  MjFile& source = *mj;
  const uint32_t step = timing->step;
  const Status movie = WriteMovie(*timing, size, [&source, step](uint32_t k) -> std::optional<BmpImage> {
    const auto jpeg = source.Picture(SourceFrameFor(k, step));
    if (!jpeg) return std::nullopt;
    return DecodeFrameJpeg(*jpeg);
  }, nullptr);
  if (!movie) return movie;
  job_.CheckKilled();
  return WriteCompanion(MjSound(source));
}

PcmSoundtrack CWavFileMake::Run::MjSound(MjFile& mj) {
  const MjHeader& header = mj.Header();
  PcmSoundtrack pcm{CompanionTargetFormat(settings_.audioRate == AudioRate::k44100, settings_.channels == Channels::kStereo), {}};
  if (header.channels < 1 || header.channels > 2 || header.sampleRate == 0) {
    report_.warnings.push_back("the .mj sound has " + std::to_string(header.channels) + " channels at " +
                               std::to_string(header.sampleRate) + " Hz, which cannot be converted; the companion file is empty");
    return pcm;
  }
  pcm.format = PcmWaveFormat(header.sampleRate, header.channels, 16);
  uint32_t chunks = header.soundChunksPlusOne > 0 ? header.soundChunksPlusOne - 1u : 0u;
  if (chunks > header.indexEntries) {
    report_.warnings.push_back("the .mj header names more sound chunks than its index holds; the extra ones are ignored");
    chunks = header.indexEntries;
  }
  uint32_t damaged = 0;
  for (uint32_t e = 0; e < chunks; ++e) {
    const auto sound = mj.Sound(e);
    if (!sound) {
      ++damaged;
      continue;
    }
    pcm.data.insert(pcm.data.end(), sound->begin(), sound->end());
  }
  if (damaged > 0) {
    report_.warnings.push_back(std::to_string(damaged) + " .mj chunks have sound outside their bounds; it was left out");
  }
  pcm.data.resize(pcm.data.size() - pcm.data.size() % pcm.format.blockAlign);
  return pcm;
}

}  // namespace reel
