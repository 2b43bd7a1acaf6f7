#pragma once

// MP3 checks for tests: decode a stream with libmpg123, and walk its frame headers with a
// parser of our own (so a stray byte between frames is noticed, not skipped over).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DecodedMp3 {
    bool ok = false;
    std::string error;
    long rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples; // interleaved when stereo
    std::vector<int> frameBitrates;    // kbps of every decoded frame, as the decoder read it

    std::size_t sampleFrames() const { return channels > 0 ? samples.size() / channels : 0; }
};

DecodedMp3 decodeMp3(const std::vector<std::uint8_t> &bytes);
DecodedMp3 decodeMp3File(const std::string &path);

// A file's length as libmpg123 tells it a player, and as it decodes, with gapless trimming
// (the encoder delay and padding a LAME tag names are cut off).
struct Mp3Length {
    bool ok = false;
    std::string error;
    long rate = 0;
    int channels = 0;
    long long reported = -1; // mpg123_length on open: what a player shows before scanning
    long long scanned = -1;  // mpg123_length after mpg123_scan
    long long frames = -1;   // mpg123_framelength after the scan
    int vbr = -1;            // MPG123_CBR, MPG123_VBR or MPG123_ABR, as the first frame says
    std::size_t decoded = 0; // sample frames decoded
};

Mp3Length measureMp3Length(const std::string &path);

struct Mp3FrameHeader {
    std::size_t offset = 0;
    std::size_t length = 0; // whole frame, header included
    int version = 0;        // 10 = MPEG-1, 20 = MPEG-2, 25 = MPEG-2.5
    int layer = 0;
    int bitrateKbps = 0;
    int sampleRate = 0;
    bool crc = false;
    bool padding = false;
    bool privateBit = false;
    int channelMode = 0; // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    bool copyright = false;
    bool original = false;
    int emphasis = 0;
};

struct Mp3FrameScan {
    std::vector<Mp3FrameHeader> frames;
    std::size_t parsedBytes = 0; // bytes covered by whole frames from offset 0
    bool clean(std::size_t total) const { return parsedBytes == total; }
};

// Parses one header at bytes[offset]; false when no valid layer I-III header starts there.
bool parseMp3FrameHeader(const std::uint8_t *bytes, std::size_t size, std::size_t offset, Mp3FrameHeader &header);

// Walks frame after frame from the first byte and stops at the first thing that is not a
// whole frame.
Mp3FrameScan scanMp3Frames(const std::vector<std::uint8_t> &bytes);

std::vector<std::uint8_t> readFileBytes(const std::string &path);
