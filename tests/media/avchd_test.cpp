// The AVCHD reader on byte-built transport streams: the date message in one packet or split,
// 188- and 192-byte packets, emulation-prevention bytes, bad dates, cut and broken streams;
// and a stream made by ffmpeg, which writes no date.
#include "media/avchd.h"

#include <gtest/gtest.h>
#include <string>

#include "media/media_dates.h"
#include "tests/support/temp_folder.h"

namespace {

using Bytes = std::string;

// One 188-byte packet of pid: header, an adaptation field of `stuffing` bytes when asked, the
// payload (cut or padded with 0xFF to fill the packet).
Bytes Packet(int pid, const Bytes& payload, int stuffing = -1)
{
    Bytes p = {'\x47', static_cast<char>(pid >> 8 & 0x1F), static_cast<char>(pid),
               static_cast<char>(stuffing >= 0 ? 0x30 : 0x10)};
    if (stuffing >= 0)
        p += static_cast<char>(stuffing) + Bytes(static_cast<std::size_t>(stuffing), '\xFF');
    p += payload.substr(0, 188 - p.size());
    return p + Bytes(188 - p.size(), '\xFF');
}

// A PES packet of H.264 video whose SEI holds the MDPM message with these raw entry bytes.
Bytes Video(const Bytes& entries, int count)
{
    const Bytes uuid("\x17\xEE\x8C\x60\xF8\x4D\x11\xD9\x8C\xD6\x08\x00\x20\x0C\x9A\x66", 16);
    const Bytes sei = uuid + "MDPM" + static_cast<char>(count) + entries;
    return Bytes("\0\0\x01\xE0\0\0\x80\x80\x05\x21\0\x01\0\x01", 14) + Bytes("\0\0\0\x01\x06\x05", 6) +
           static_cast<char>(sei.size()) + sei + "\x80";
}

const Bytes kDate = Bytes("\x18\x00\x20\x23\x07", 5) + "\x19\x08\x22\x31\x01"; // 2023-07-08 22:31:01

Bytes Stream(const Bytes& video, std::size_t split = 0, int packets = 6)
{
    Bytes ts = Packet(0, Bytes(1, '\0') + "PAT") + Packet(0x100, "PMT");
    if (split == 0) {
        ts += Packet(0x1011, video);
    } else { // the rest after an adaptation field, another stream's packet between
        ts += Packet(0x1011, Bytes(184 - split, '\xFF') + video.substr(0, split));
        ts += Packet(0x1100, "audio");
        ts += Packet(0x1011, video.substr(split), 7);
    }
    for (int i = 0; i < packets; ++i)
        ts += Packet(0x1011, Bytes(184, '\0'));
    return ts;
}

Bytes M2ts(const Bytes& ts)
{
    Bytes out;
    for (std::size_t at = 0; at < ts.size(); at += 188)
        out += Bytes("\0\0\0\0", 4) + ts.substr(at, 188);
    return out;
}

std::string DateOf(const engine::ExifInfo& info)
{
    return info.HasDate ? info.Year4 + info.Month + info.Day + info.Hour + info.Minute + info.Second
                        : "";
}

TEST(AvchdTest, DateMessagesInStreamsOfEveryShape)
{
    const Bytes video = Video(kDate, 2);
    Bytes late = Stream(Video("", 0), 0, 0);
    while (late.size() < media::kMaxAvchdBytes)
        late += Packet(0x1011, Bytes(184, '\0'));
    const std::pair<Bytes, const char*> cases[] = {
        {Stream(video), "20230708223101"},
        {Stream(video, 30), "20230708223101"}, // split inside the UUID
        {Stream(video, 46), "20230708223101"}, // split inside the entries
        {M2ts(Stream(video, 40)), "20230708223101"},
        // An entry holding 00 00 01, written 00 00 03 01, before the date.
        {Stream(Video(Bytes("\x70\x00\x00\x03\x00\x01", 6) + kDate, 3)), "20230708223101"},
        // A message without a valid date, then one with it.
        {Stream(Video(Bytes("\x18\x00\x20\x23\x13", 5) + "\x19\x08\x22\x31\x01", 2) + video),
         "20230708223101"},
        {Stream(Video(Bytes("\x18\x00\x19\x69\x07", 5) + "\x19\x08\x22\x31\x01", 2)), ""},
        {Stream(Video(Bytes("\x18\x00\x20\x23\x02", 5) + "\x19\x30\x22\x31\x01", 2)), ""},
        {Stream(Video(Bytes("\x18\x00\x20\x23\x07", 5) + "\x19\x08\x24\x31\x01", 2)), ""},
        {Stream(Video(Bytes("\x18\x00\x20\x2A\x07", 5) + "\x19\x08\x22\x31\x01", 2)), ""},
        {Stream(Video(kDate.substr(0, 5), 1)), ""},  // no clock
        {Stream(Video(kDate, 200)), "20230708223101"}, // a count past its bytes: what is there
        {Stream(video).substr(0, 2 * 188 + 60), ""}, // the file ends in the message
        {Stream("") + video, ""},                    // out of the packets' rhythm
        {late + Packet(0x1011, video), ""},          // past the part looked at
        {Bytes(600, '\x47'), ""},
        {"", ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const Bytes& file = cases[i].first;
        media::MemorySource source({reinterpret_cast<const std::uint8_t*>(file.data()), file.size()});
        EXPECT_EQ(DateOf(media::ReadAvchdDate(source)), cases[i].second);
    }

    // Through the media reader, by content whatever the name; ffmpeg's streams hold no date.
    test::TempFolder dir;
    test::WriteFile(dir / "00001.MTS", M2ts(Stream(video, 50)));
    media::MediaDateReader reader;
    EXPECT_EQ(DateOf(reader.ReadDates((dir / "00001.MTS").string())), "20230708223101");
    if (std::system(("ffmpeg -loglevel error -y -f lavfi -i color=c=blue:s=176x144:d=0.2 -c:v "
                     "libx264 -f mpegts '" +
                     (dir / "made.m2ts").string() + "' >/dev/null 2>&1")
                        .c_str()) == 0) {
        EXPECT_EQ(DateOf(reader.ReadDates((dir / "made.m2ts").string())), "");
    }
}

} // namespace
