#pragma once

#include <cstddef>
#include <cstdint>

// The interface of the exiv2 module (velmora-exiv2.so, built from exiv2_pictures.cpp). The
// media layer loads it at its first picture, so a program that never reads capture dates never
// loads libexiv2 and starts as fast as before. Plain C: no exception and no C++ object crosses
// it.
extern "C" {

// One picture to read: an open regular file and what of it has been read already.
struct VelmoraPictureRequest {
    int fd;                   // open for reading; read with pread, never closed by the module
    std::uint64_t size;       // the file's size when it was opened
    const char* path;         // for exiv2's own use only
    const std::uint8_t* head; // the file's first headSize bytes
    std::size_t headSize;
    std::size_t mapFill; // a whole-file map holds the first mapFill bytes, zeros after them
};

enum { VelmoraTagBytes = 255 };

// A tag's raw value bytes, whatever its type, without trailing zero bytes, cut to
// VelmoraTagBytes.
struct VelmoraTag {
    int present;
    std::uint32_t size;
    char bytes[VelmoraTagBytes];
};

struct VelmoraPictureTags {
    // Exif.Photo.DateTimeOriginal, Exif.Image.DateTimeOriginal, Exif.Photo.DateTimeDigitized,
    // Exif.Image.DateTime, in the order a date is chosen from them.
    VelmoraTag dates[4];
    VelmoraTag make, model; // Exif.Image.Make/Model, or Panasonic's raw directory's
    int mapPartial;         // exiv2 mapped the file and saw only its first mapFill bytes
};

// Reads the EXIF tags of a picture into tags (cleared first). Returns 0 when exiv2 read the
// file as a picture, -1 otherwise (an unknown type, a video, any exiv2 error).
int velmora_exiv2_read_picture(const VelmoraPictureRequest* request, VelmoraPictureTags* tags);
using VelmoraReadPicture = int (*)(const VelmoraPictureRequest*, VelmoraPictureTags*);
}
