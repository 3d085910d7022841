#pragma once

#include <cstdint>
#include <span>

#include "engine/dating/exif_reader.h"
#include "media/video_boxes.h"

// Camcorder AVCHD files (.MTS, .M2TS): MPEG transport streams whose H.264 video carries the
// recording date in an SEI message of unregistered user data, "MDPM" (modified digital video
// pack metadata) after its UUID. No Debian library reads it cheaply (libavformat does not read
// it at all; libmediainfo parses whole streams through a stack of libraries), so this is a
// bounded reader of its own: it looks at the first kMaxAvchdBytes of the file only.
namespace media {

inline constexpr std::uint64_t kMaxAvchdBytes = 4 << 20;
// Payload kept per stream while looking for the message, and streams followed.
inline constexpr std::size_t kMaxAvchdStreamBytes = 64 << 10;
inline constexpr std::size_t kMaxAvchdStreams = 16;

// True when the head (at least 3 packets) is a transport stream of 188-byte packets, or of
// 192-byte ones (a 4-byte time code before each, as in .M2TS).
bool LooksLikeTransportStream(std::span<const std::uint8_t> head);

// The recording date of the MDPM message (tags 0x18: time zone, year, month; 0x19: day, hour,
// minute, second; all BCD), as written: the camcorder's local time. Packets are reassembled
// per stream (PID) so a message split across packets is found; emulation-prevention bytes are
// removed. No date when there is none in the bytes looked at, or it is not a valid date from
// 1970 on.
engine::ExifInfo ReadAvchdDate(ByteSource& source);

} // namespace media
