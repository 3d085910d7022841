#include "media/avchd.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <vector>

#include "engine/dating/date_source.h"

namespace media {

namespace {

constexpr std::uint8_t kSync = 0x47;
// The UUID of the user-data SEI and the tag that follows it.
constexpr std::array<std::uint8_t, 20> kMarker = {0x17, 0xEE, 0x8C, 0x60, 0xF8, 0x4D, 0x11,
                                                  0xD9, 0x8C, 0xD6, 0x08, 0x00, 0x20, 0x0C,
                                                  0x9A, 0x66, 'M',  'D',  'P',  'M'};
// A count byte and at most this many 5-byte entries, with room for emulation-prevention bytes.
constexpr std::size_t kMaxEntries = 64;
constexpr std::size_t kMessageBytes = 1 + kMaxEntries * 5 * 3 / 2;

std::size_t PacketSize(std::span<const std::uint8_t> head)
{
    for (const std::size_t size : {std::size_t{188}, std::size_t{192}}) {
        const std::size_t lead = size - 188;
        if (head.size() >= lead + 2 * size + 1 && head[lead] == kSync &&
            head[lead + size] == kSync && head[lead + 2 * size] == kSync)
            return size;
    }
    return 0;
}

bool Bcd(std::uint8_t b, int& value)
{
    if ((b >> 4) > 9 || (b & 0xF) > 9)
        return false;
    value = (b >> 4) * 10 + (b & 0xF);
    return true;
}

// Reads the message after the marker (raw, as in the stream). complete tells whether raw held
// all of it, or as much as is ever looked at.
bool ReadMessage(std::span<const std::uint8_t> raw, engine::ExifInfo& info, bool& complete)
{
    // Undo the emulation prevention of the NAL unit: 00 00 03 stands for 00 00.
    std::vector<std::uint8_t> b;
    int zeros = 0;
    for (const std::uint8_t byte : raw.first(std::min(raw.size(), kMessageBytes))) {
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        b.push_back(byte);
    }
    complete = raw.size() >= kMessageBytes || (!b.empty() && b.size() >= 1 + std::size_t{b[0]} * 5);
    if (!complete || b.empty())
        return false;
    const std::size_t entries = std::min<std::size_t>(b[0], (b.size() - 1) / 5);
    std::array<std::uint8_t, 4> date{}, clock{};
    bool hasDate = false, hasClock = false;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint8_t* entry = b.data() + 1 + i * 5;
        if (entry[0] == 0x18 && !hasDate) {
            std::memcpy(date.data(), entry + 1, 4);
            hasDate = true;
        } else if (entry[0] == 0x19 && !hasClock) {
            std::memcpy(clock.data(), entry + 1, 4);
            hasClock = true;
        }
    }
    int century, year, month, day, hour, minute, second;
    return hasDate && hasClock && Bcd(date[1], century) && Bcd(date[2], year) &&
           Bcd(date[3], month) && Bcd(clock[0], day) && Bcd(clock[1], hour) &&
           Bcd(clock[2], minute) && Bcd(clock[3], second) && century * 100 + year >= 1970 &&
           engine::SetCaptureDate(info, century * 100 + year, month, day, hour, minute, second);
}

// The payload of one stream, kept from a marker on (pending) or, before one is seen, only its
// tail.
struct Stream {
    std::vector<std::uint8_t> bytes;
    bool pending = false;
};

// Looks for the marker in the bytes added since `from`; keeps the stream from it on.
void Seek(Stream& stream, std::size_t from)
{
    from = from > kMarker.size() ? from - (kMarker.size() - 1) : 0;
    const auto found = std::search(stream.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                   stream.bytes.end(), kMarker.begin(), kMarker.end());
    if (found != stream.bytes.end()) {
        stream.bytes.erase(stream.bytes.begin(), found);
        stream.pending = true;
    } else if (stream.bytes.size() > kMaxAvchdStreamBytes) {
        stream.bytes.erase(stream.bytes.begin(),
                           stream.bytes.end() - static_cast<std::ptrdiff_t>(kMarker.size()));
    }
}

} // namespace

bool LooksLikeTransportStream(std::span<const std::uint8_t> head)
{
    return PacketSize(head) != 0;
}

engine::ExifInfo ReadAvchdDate(ByteSource& source)
{
    engine::ExifInfo info;
    std::array<std::uint8_t, 3 * 192 + 1> head{};
    const std::size_t headSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(source.Size(), head.size()));
    if (!source.ReadAt(0, head.data(), headSize))
        return info;
    const std::size_t size = PacketSize({head.data(), headSize});
    if (size == 0)
        return info;
    const std::size_t lead = size - 188;
    const std::uint64_t end = std::min<std::uint64_t>(source.Size(), kMaxAvchdBytes);
    std::map<std::uint16_t, Stream> streams;
    std::vector<std::uint8_t> chunk(size * 256);
    for (std::uint64_t at = 0; at + size <= end;) {
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(chunk.size(), (end - at) / size * size));
        if (!source.ReadAt(at, chunk.data(), n))
            return info;
        for (std::size_t p = 0; p < n; p += size) {
            const std::uint8_t* packet = chunk.data() + p + lead;
            if (packet[0] != kSync)
                return info; // lost the packets' rhythm: stop
            const auto pid = static_cast<std::uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
            const int control = packet[3] >> 4 & 3;
            std::size_t payload = 4;
            if (control == 3)
                payload += 1 + packet[4];
            if ((control & 1) == 0 || payload >= 188 || pid == 0x1FFF)
                continue;
            auto it = streams.find(pid);
            if (it == streams.end()) {
                if (streams.size() >= kMaxAvchdStreams)
                    continue;
                it = streams.emplace(pid, Stream{}).first;
            }
            Stream& stream = it->second;
            const std::size_t before = stream.bytes.size();
            stream.bytes.insert(stream.bytes.end(), packet + payload, packet + 188);
            if (!stream.pending)
                Seek(stream, before);
            while (stream.pending) {
                bool complete = false;
                if (ReadMessage(std::span(stream.bytes).subspan(kMarker.size()), info, complete))
                    return info;
                if (!complete)
                    break; // the rest comes with later packets
                // A message without a valid date: look on after its marker.
                stream.pending = false;
                stream.bytes.erase(stream.bytes.begin());
                Seek(stream, 0);
            }
        }
        at += n;
    }
    return info;
}

} // namespace media
