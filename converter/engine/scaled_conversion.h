// A grabbed picture (of the media graph or an AVI frame reader) converted and scaled to the movie's size in one go: the colour converter's
// rows go a slice at a time straight into the scaler's row pass, so the full-size 24-bit picture
// (2.7 MB at 1280 x 720) is never written, read back or held. The result is byte for byte what
// converting the whole picture and then ScalePicture give, which stays the plain way.
#pragma once

#include <cstdint>
#include <optional>

#include "converter/coder/bmp_image.h"
#include "converter/coder/picture_scaler.h"
#include "platform/avifile/avi_frame_reader.h"
#include "platform/mediagraph/grabbed_picture.h"

namespace reel {

// Whether ConvertScaled takes `picture` to `width` x `height`: a picture the converter slices, to
// a size other than its own (a picture of the movie's very size is converted straight into place)
// that ScalePicture makes.
bool ConvertsScaled(const GrabbedPicture& picture, uint32_t width, uint32_t height);

// The picture at `width` x `height` (its byte size is result->Size()), or none when the colour
// conversion fails or the size is one ScalePicture refuses. For pictures ConvertsScaled takes.
std::optional<BmpImage> ConvertScaled(GrabbedPictureConverter& converter, const GrabbedPicture& picture, uint32_t width,
                                      uint32_t height, ScalerLanes lanes = ScalerLanes::Widest);

// The same for a frame grabbed from an AVI frame reader, as AviFrameConverter::Convert's DIB.
bool ConvertsScaled(const AviGrabbedFrame& frame, uint32_t width, uint32_t height);
std::optional<BmpImage> ConvertScaled(AviFrameConverter& converter, const AviGrabbedFrame& frame, uint32_t width,
                                      uint32_t height, ScalerLanes lanes = ScalerLanes::Widest);

}  // namespace reel
