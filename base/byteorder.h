// Big-endian accessors: every multi-byte number on a Mac medium and in the
// Mac file formats (MacBinary, BinHex, DiskCopy) is read and written
// through these. Little-endian ones for the PC system's own records (disk
// geometry, DOS device parameters, the absolute-disk packet). Calls
// nothing.
#pragma once

#include <cstdint>

namespace verrin {

inline uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t read32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline void write16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void write32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline uint16_t readLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t readLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t readLe64(const uint8_t* p) { return readLe32(p) | static_cast<uint64_t>(readLe32(p + 4)) << 32; }
inline void writeLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void writeLe32(uint8_t* p, uint32_t v)
{
    writeLe16(p, static_cast<uint16_t>(v));
    writeLe16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void writeLe64(uint8_t* p, uint64_t v)
{
    writeLe32(p, static_cast<uint32_t>(v));
    writeLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace verrin
