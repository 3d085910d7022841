#pragma once

#include <string>

#include "engine/dating/date_source.h"

namespace media {

// Capture dates of pictures and videos, for the run's MediaDates option.
//
// Pictures (CR3, TIFF-based raw files such as CR2, NEF, NRW, ARW, DNG, ORF, PEF, RW2, RAF,
// plain TIFF, PNG, WebP, and JPEGs whose EXIF block the engine's reader does not find) are read
// through libexiv2, HEIF and AVIF files (told by their brands and boxes, video_boxes.h) through
// libheif, whose EXIF and XMP items of the primary image exiv2 then reads; both libraries live
// in a module of this layer that is loaded at the first picture, from the program's own tree
// only (exiv2_pictures.h; without it pictures give no date). The capture date is the first
// valid one of: EXIF DateTimeOriginal, XMP exif:DateTimeOriginal, xmp:CreateDate,
// photoshop:DateCreated, a PNG's "Creation Time" text, EXIF DateTimeDigitized, IFD0 DateTime.
// EXIF texts must qualify by the engine's rules (engine::TakeExifDate) and hold a valid date and
// clock; other texts are read as written, an offset never applied (picture_tags.h). Make and
// Model give the camera name by the engine's rule. A CR3 that exiv2 refuses is read from its
// CMT boxes by the own box and TIFF readers. Box files whose nesting passes the limits of
// BoxTreeWithinLimits never reach the libraries. Videos (MP4, MOV, M4V, 3GP: an ISO-BMFF or
// QuickTime movie that is not a still picture) are read by the box reader of video_boxes.h,
// camcorder AVCHD files (.MTS, .M2TS) by the bounded reader of avchd.h.
//
// Files are opened non-blocking and read only when they are regular files; reads go through
// the open descriptor (no second open by name) and are bounded. Every exiv2 exception and
// every failure to read gives an empty result. Not thread-safe: one reader per run's thread.
class MediaDateReader : public engine::DateSource {
public:
    engine::ExifInfo ReadDates(const std::string& path) override;
};

} // namespace media
