#pragma once

#include <cstddef>
#include <cstdint>

// The interface of the picture module (velmora-exiv2.so, built from exiv2_pictures.cpp, with
// libexiv2 and libheif). The media layer loads it at its first picture, so a program that never
// reads capture dates never loads those libraries and starts as fast as before. Plain C: no
// exception and no C++ object crosses it.
extern "C" {

// One picture to read: an open regular file and what of it has been read already.
struct VelmoraPictureRequest {
    int fd;                   // open for reading; read with pread, never closed by the module
    std::uint64_t size;       // the file's size when it was opened
    const char* path;         // for exiv2's own use only
    const std::uint8_t* head; // the file's first headSize bytes
    std::size_t headSize;
    std::size_t mapFill; // a whole-file map holds the first mapFill bytes, zeros after them
    int heif;            // a HEIF or AVIF file, already checked to keep the box limits:
                         // read by libheif, its metadata items then by exiv2
};

enum { VelmoraTagBytes = 255 };

// A tag's raw value bytes, whatever its type, without trailing zero bytes, cut to
// VelmoraTagBytes.
struct VelmoraTag {
    int present;
    std::uint32_t size;
    char bytes[VelmoraTagBytes];
};

// The date tags, in the order a capture date is chosen from them.
enum {
    VelmoraExifOriginal,      // Exif.Photo.DateTimeOriginal
    VelmoraExifImageOriginal, // Exif.Image.DateTimeOriginal
    VelmoraXmpOriginal,       // Xmp.exif.DateTimeOriginal
    VelmoraXmpCreate,         // Xmp.xmp.CreateDate
    VelmoraXmpCreated,        // Xmp.photoshop.DateCreated
    VelmoraExifDigitized,     // Exif.Photo.DateTimeDigitized
    VelmoraExifDateTime,      // Exif.Image.DateTime
    VelmoraDateTags
};

struct VelmoraPictureTags {
    VelmoraTag dates[VelmoraDateTags]; // EXIF values as raw bytes, XMP ones as their text
    VelmoraTag make, model; // Exif.Image.Make/Model, or Panasonic's raw directory's
    int mapPartial;         // exiv2 mapped the file and saw only its first mapFill bytes
};

// The module's build of this interface; the media layer loads only a module of its own.
enum { VelmoraPictureInterface = 2 };

// Reads the EXIF tags of a picture into tags (cleared first). Returns 0 when exiv2 read the
// file as a picture, -1 otherwise (an unknown type, a video, any exiv2 error).
int velmora_exiv2_read_picture(const VelmoraPictureRequest* request, VelmoraPictureTags* tags);
using VelmoraReadPicture = int (*)(const VelmoraPictureRequest*, VelmoraPictureTags*);
int velmora_exiv2_interface(void);
}
