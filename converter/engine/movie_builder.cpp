#include "converter/engine/movie_builder.h"

#include <utility>

#include "converter/coder/picture_scaler.h"
#include "converter/engine/code_frame.h"

namespace reel {

Result<MovieBuilder> MovieBuilder::Begin(const std::string& path, const FrameTiming& timing,
                                         PictureSizeChoice pictureSizeChoice, int32_t quality) {
  QrxOutput movie = CreateQrxFile(path);
  // The container writer's errors name the file.
  if (Status begun = BeginQrx(movie, timing.frameCount, timing.targetRate, pictureSizeChoice); !begun) {
    return begun.error();
  }
  return MovieBuilder(std::move(movie), quality);
}

void MovieBuilder::SetSize(PictureSize size) { SetQrxPictureSize(movie_, size.width, size.height); }

PictureSize MovieBuilder::Size() const { return {QrxWidth(movie_), QrxHeight(movie_)}; }

std::optional<std::vector<uint8_t>> CodeSourcePicture(const BmpImage& source, PictureSize size, int32_t quality) {
  const auto scaled = ScalePicture(source, size.width, size.height);
  if (!scaled) return std::nullopt;
  return CodeFrame(*scaled, quality);
}

std::optional<std::vector<uint8_t>> MovieBuilder::StandInFrame() const {
  if (!previousFrame_.empty()) return previousFrame_;
  const PictureSize size = Size();
  const auto black = BmpImage::Create(size.width, size.height);
  if (!black) return std::nullopt;
  return CodeFrame(*black, quality_);
}

// CodeSourcePicture's frame, through the builder's own frame coding.
Status MovieBuilder::AddPicture(const std::optional<BmpImage>& source) {
  if (!source) return AddCoded(true, std::nullopt);
  const PictureSize size = Size();
  const std::optional<BmpImage> scaled = ScalePicture(*source, size.width, size.height);
  return AddCoded(false, scaled ? coding_.Code(*scaled, quality_) : std::nullopt);
}

Status MovieBuilder::AddCoded(bool pictureMissing, std::optional<std::vector<uint8_t>> coded) {
  if (pictureMissing) {
    ++missingPictures_;
  } else if (!coded) {
    ++uncodablePictures_;
  }
  if (!coded) coded = StandInFrame();
  if (!coded) return MakeError(ErrorKind::kCannotWrite, movie_.path, "no frame can be coded at this picture size");
  if (Status appended = AppendQrxFrame(movie_, *coded); !appended) return appended;
  previousFrame_ = std::move(*coded);
  return {};
}

Status MovieBuilder::Finish() { return FinishQrx(movie_); }

}  // namespace reel
