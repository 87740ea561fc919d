#include "platform/mediagraph/grabbed_picture.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/mediagraph/picture_converter.h"

namespace reel {

GrabbedPicture::GrabbedPicture(std::unique_ptr<Contents> contents) : contents_(std::move(contents)) {}
GrabbedPicture::GrabbedPicture(GrabbedPicture&&) noexcept = default;
GrabbedPicture& GrabbedPicture::operator=(GrabbedPicture&&) noexcept = default;
GrabbedPicture::~GrabbedPicture() = default;

int64_t GrabbedPicture::Index() const { return contents_->index; }

uint32_t GrabbedPicture::Width() const {
  return static_cast<uint32_t>(TurnedSize(contents_->storedWidth, contents_->storedHeight, contents_->rotation).width);
}

uint32_t GrabbedPicture::Height() const {
  return static_cast<uint32_t>(TurnedSize(contents_->storedWidth, contents_->storedHeight, contents_->rotation).height);
}

GrabbedPictureConverter::GrabbedPictureConverter() = default;
GrabbedPictureConverter::GrabbedPictureConverter(GrabbedPictureConverter&&) noexcept = default;
GrabbedPictureConverter& GrabbedPictureConverter::operator=(GrabbedPictureConverter&&) noexcept = default;
GrabbedPictureConverter::~GrabbedPictureConverter() = default;

namespace {

Error Unconvertible(const GrabbedPicture::Contents& held) {
  return MakeError(ErrorKind::kUnsupported, held.path,
                   "picture " + std::to_string(held.index) + " cannot be converted to 24-bit RGB");
}

}  // namespace

PictureConverter& GrabbedPictureConverter::ConverterFor(const GrabbedPicture::Contents& held) {
  if (!converter_ || !converter_->Delivers(held.storedWidth, held.storedHeight, held.rotation)) {
    converter_ = std::make_unique<PictureConverter>(held.storedWidth, held.storedHeight, held.rotation);
  }
  return *converter_;
}

bool GrabbedPictureConverter::Slices(const GrabbedPicture& picture) {
  const GrabbedPicture::Contents& held = picture.Held();
  return PictureConverter::SlicesAt(*held.frame, held.storedWidth, held.storedHeight, held.rotation);
}

Status GrabbedPictureConverter::ConvertInSlices(const GrabbedPicture& picture, PictureRowSink& sink) {
  const GrabbedPicture::Contents& held = picture.Held();
  PictureConverter& converter = ConverterFor(held);
  if (!converter.Slices(*held.frame) || !converter.ConvertInSlices(*held.frame, sink)) return Unconvertible(held);
  return {};
}

Result<std::vector<uint8_t>> GrabbedPictureConverter::Convert(const GrabbedPicture& picture, uint32_t leadingBytes,
                                                             std::vector<uint8_t> storage) {
  const GrabbedPicture::Contents& held = picture.Held();
  PictureConverter& converter = ConverterFor(held);
  storage.resize(std::max<std::size_t>(storage.size(), leadingBytes));
  std::fill_n(storage.begin(), leadingBytes, uint8_t{0});
  if (!converter.ConvertInPlace(*held.frame, storage, leadingBytes) ||
      storage.size() != std::size_t{leadingBytes} + held.sampleSize) {
    return Unconvertible(held);
  }
  return storage;
}

}  // namespace reel
