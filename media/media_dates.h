#pragma once

#include <string>

#include "engine/date_source.h"

namespace media {

// Capture dates of pictures and videos, for the run's MediaDates option.
//
// Pictures (HEIC/HEIF, AVIF, CR3, TIFF-based raw files such as CR2, NEF, NRW, ARW, DNG, ORF,
// PEF, RW2, RAF, plain TIFF, PNG with eXIf, WebP with EXIF, and JPEGs whose EXIF block the
// engine's reader does not find) are read through libexiv2, in a module of this layer that is
// loaded at the first picture (exiv2_pictures.h; without it pictures give no date): EXIF
// DateTimeOriginal, then DateTimeDigitized, then DateTime, the first that qualifies by the engine's
// rules (engine::TakeExifDate); Make and Model give the camera name by the engine's rule. Videos
// (MP4, MOV, M4V, 3GP: an ISO-BMFF or QuickTime movie that is not a still picture) are read by the
// box reader of video_boxes.h.
//
// Files are opened non-blocking and read only when they are regular files; reads go through
// the open descriptor (no second open by name) and are bounded. Every exiv2 exception and
// every failure to read gives an empty result. Not thread-safe: one reader per run's thread.
class MediaDateReader : public engine::DateSource {
public:
    engine::ExifInfo ReadDates(const std::string& path) override;
};

} // namespace media
