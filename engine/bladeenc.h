#pragma once

// BladeEnc-compatible encoder calls, implemented here over libmp3lame's native API.
// The configuration record keeps the byte layout LAME publishes for its BladeEnc
// interface (BE_CONFIG with the LHV1 variant), so records built for that interface
// carry over unchanged.

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using SHORT = std::int16_t;
using PBYTE = BYTE *;
using PDWORD = DWORD *;
using PSHORT = SHORT *;

using BE_ERR = DWORD;
using HBE_STREAM = DWORD;
using PHBE_STREAM = HBE_STREAM *;

inline constexpr BE_ERR BE_ERR_SUCCESS = 0x00000000;
inline constexpr BE_ERR BE_ERR_INVALID_FORMAT = 0x00000001;
inline constexpr BE_ERR BE_ERR_INVALID_FORMAT_PARAMETERS = 0x00000002;
inline constexpr BE_ERR BE_ERR_NO_MORE_HANDLES = 0x00000003;
inline constexpr BE_ERR BE_ERR_INVALID_HANDLE = 0x00000004;
inline constexpr BE_ERR BE_ERR_BUFFER_TOO_SMALL = 0x00000005;
// Not part of the classic set: LAME itself failed (out of memory, internal error).
inline constexpr BE_ERR BE_ERR_ENCODER_FAILED = 0x00000100;

inline constexpr DWORD BE_CONFIG_LAME = 256;

inline constexpr std::int32_t BE_MP3_MODE_STEREO = 0;
inline constexpr std::int32_t BE_MP3_MODE_JSTEREO = 1;
inline constexpr std::int32_t BE_MP3_MODE_DUALCHANNEL = 2;
inline constexpr std::int32_t BE_MP3_MODE_MONO = 3;

inline constexpr DWORD MPEG1 = 1;
inline constexpr DWORD MPEG2 = 0;

// Only "no preset" and r3mix are supported; every other preset number is refused.
inline constexpr std::int32_t LQP_NOPRESET = -1;
inline constexpr std::int32_t LQP_R3MIX = 4;

enum VBRMETHOD : std::int32_t {
    VBR_METHOD_NONE = -1,
    VBR_METHOD_DEFAULT = 0,
    VBR_METHOD_OLD = 1,
    VBR_METHOD_NEW = 2,
    VBR_METHOD_MTRH = 3,
    VBR_METHOD_ABR = 4,
};

// BOOL fields: 0 is false, anything else true; writers use -1 (all bits set).
inline constexpr std::int32_t BE_TRUE = -1;
inline constexpr std::int32_t BE_FALSE = 0;

#pragma pack(push, 1)
struct BE_CONFIG {
    DWORD dwConfig;
    union {
        struct {
            DWORD dwStructVersion;
            DWORD dwStructSize;
            DWORD dwSampleRate;
            DWORD dwReSampleRate;
            std::int32_t nMode;
            DWORD dwBitrate;
            DWORD dwMaxBitrate;
            std::int32_t nPreset;
            DWORD dwMpegVersion;
            DWORD dwPsyModel;
            DWORD dwEmphasis;
            std::int32_t bPrivate;
            std::int32_t bCRC;
            std::int32_t bCopyright;
            std::int32_t bOriginal;
            std::int32_t bWriteVBRHeader;
            std::int32_t bEnableVBR;
            std::int32_t nVBRQuality;
            DWORD dwVbrAbr_bps;
            VBRMETHOD nVbrMethod;
            std::int32_t bNoRes;
            std::int32_t bStrictIso;
            WORD nQuality;
            BYTE btReserved[237];
        } LHV1;
    } format;
};
#pragma pack(pop)
using PBE_CONFIG = BE_CONFIG *;

inline constexpr DWORD BE_CONFIG_LHV1_VERSION = 1;
inline constexpr DWORD BE_CONFIG_LHV1_SIZE = 331;

static_assert(sizeof(BE_CONFIG) == 331);
static_assert(offsetof(BE_CONFIG, format) == 4);
static_assert(offsetof(BE_CONFIG, format.LHV1.dwSampleRate) == 12);
static_assert(offsetof(BE_CONFIG, format.LHV1.nPreset) == 32);
static_assert(offsetof(BE_CONFIG, format.LHV1.bPrivate) == 48);
static_assert(offsetof(BE_CONFIG, format.LHV1.nVBRQuality) == 72);
static_assert(offsetof(BE_CONFIG, format.LHV1.bStrictIso) == 88);
static_assert(offsetof(BE_CONFIG, format.LHV1.nQuality) == 92);
static_assert(offsetof(BE_CONFIG, format.LHV1.btReserved) == 94);

// Opens an encoder stream. On success: *samples = 16-bit values to pass per chunk (both
// channels together), *bufferSize = output bytes one chunk or the flush may need, *stream =
// handle. A configuration LAME would not carry out exactly as written (a bitrate the rate's
// MPEG version does not have, an unsupported rate, a value LAME would adjust on its own) is
// refused with a non-zero result; nothing is then allocated and the out values are untouched.
BE_ERR beInitStream(PBE_CONFIG config, PDWORD samples, PDWORD bufferSize, PHBE_STREAM stream);

// Encodes nSamples 16-bit values (interleaved when stereo); nSamples may be less than a chunk
// but must be a whole number of sample frames and at most one chunk. output must hold
// *bufferSize bytes as given by beInitStream; *outputBytes receives the bytes written (0 is
// normal while the encoder fills its pipeline).
BE_ERR beEncodeChunk(HBE_STREAM stream, DWORD nSamples, PSHORT samples, PBYTE output, PDWORD outputBytes);

// Flushes the last frames into output (*bufferSize bytes); the stream takes no more samples.
BE_ERR beDeinitStream(HBE_STREAM stream, PBYTE output, PDWORD outputBytes);

// After beDeinitStream of a stream opened with bWriteVBRHeader: LAME's finished tag frame
// (Xing for VBR and ABR, Info for CBR: the frame count, byte count, seek table, encoder delay
// and padding) into output (*bufferSize bytes). The caller writes it over the first frame of
// the stream, the one LAME reserved for it (a valid frame of silence until then, so a stream
// cut short still plays). *outputBytes is 0 when the stream has no tag.
BE_ERR beGetInfoTag(HBE_STREAM stream, PBYTE output, PDWORD outputBytes);

// Releases the stream; its handle is invalid afterwards.
BE_ERR beCloseStream(HBE_STREAM stream);
