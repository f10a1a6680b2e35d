// The byte source and sink that the BinHex and MacBinary codecs read from
// and write to, and the facts about one Mac file that both codecs carry.
//
// A source or sink is a plain record of function pointers and a context, so
// that the transfer streams, a PC file or a block of memory can stand behind
// it alike. Failures travel through lastError as everywhere else: a source
// or sink that fails sets it, and the codecs stop at the next byte once it
// is set. The in-memory versions here serve tests and small conversions.
// Calls only the standard library and base/errors.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/errors.h"

namespace verrin {

// Hands out bytes one at a time (the BinHex codec) or in runs (the forks
// of a MacBinary file).
struct ByteSource {
    // The next byte (0..255), or -1 at the end of the data. A source that
    // fails sets lastError and gives -1 or any value: callers test lastError.
    int (*read)(void* context);
    // Moves from the data fork to the resource fork of the same file
    // (a two-fork source such as a Mac file); null when the source is one
    // plain byte stream.
    void (*nextFork)(void* context);
    void* context;
    // Up to `max` bytes into `buffer`, as that many `read` calls would give
    // them; returns the count, 0 at the end of the data or on a failure.
    // The MacBinary codec needs it; null where only `read` is used.
    uint32_t (*readRun)(void* context, uint8_t* buffer, uint32_t max) = nullptr;
};

// Takes bytes one at a time or in runs.
struct ByteSink {
    void (*write)(void* context, uint8_t byte);
    // Moves from the data fork to the resource fork of the file being made;
    // null when the sink is one plain byte stream.
    void (*nextFork)(void* context);
    void* context;
    // `length` bytes, as that many `write` calls would take them. The
    // MacBinary codec needs it; null where only `write` is used.
    void (*writeRun)(void* context, const uint8_t* bytes, uint32_t length) = nullptr;
};

inline int readByte(const ByteSource& source) { return source.read(source.context); }
inline void writeByte(const ByteSink& sink, uint8_t byte) { sink.write(sink.context, byte); }
inline uint32_t readRun(const ByteSource& source, uint8_t* buffer, uint32_t max)
{
    return source.readRun(source.context, buffer, max);
}
inline void writeRun(const ByteSink& sink, const uint8_t* bytes, uint32_t length)
{
    sink.writeRun(sink.context, bytes, length);
}
inline void nextFork(const ByteSource& source)
{
    if (source.nextFork) source.nextFork(source.context);
}
inline void nextFork(const ByteSink& sink)
{
    if (sink.nextFork) sink.nextFork(sink.context);
}

// The largest fork an HFS file can hold; longer forks in a MacBinary or
// BinHex header are taken as damage.
constexpr uint32_t maxForkLength = 0x7FFFFFFF;

// The catalog facts of one Mac file as the codecs write and read them.
struct MacFileInfo {
    std::array<uint8_t, 64> name{};        // length-prefixed Mac Roman; name[0] is the length
    std::array<uint8_t, 16> finderInfo{};  // type, creator, flags, location, folder (big-endian)
    uint32_t dataLength = 0;
    uint32_t resourceLength = 0;
    uint32_t created = 0;   // HFS seconds; 0 = not given
    uint32_t modified = 0;  // HFS seconds; 0 = not given
};

// ---------------------------------------------------------------------------
// In-memory sources and sinks.

// Reads a block of memory; with a second block, nextFork moves on to it.
struct MemorySource {
    std::span<const uint8_t> data;
    std::span<const uint8_t> resource;
    bool inResource = false;
    size_t position = 0;
};
ByteSource memorySource(MemorySource& state);

// Collects bytes; nextFork moves from `data` to `resource`.
struct MemorySink {
    std::vector<uint8_t> data;
    std::vector<uint8_t> resource;
    bool inResource = false;
    size_t limit = SIZE_MAX;  // more bytes than this in one fork set errPcDiskFull
};
ByteSink memorySink(MemorySink& state);

}  // namespace verrin
