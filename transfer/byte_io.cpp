// In-memory byte sources and sinks for the codecs.
// Calls only the standard library and base/errors.h.
#include "transfer/byte_io.h"

namespace verrin {

namespace {

int memoryRead(void* context)
{
    auto& s = *static_cast<MemorySource*>(context);
    std::span<const uint8_t> bytes = s.inResource ? s.resource : s.data;
    if (s.position >= bytes.size()) return -1;
    return bytes[s.position++];
}

void memorySourceNextFork(void* context)
{
    auto& s = *static_cast<MemorySource*>(context);
    s.inResource = true;
    s.position = 0;
}

void memoryWrite(void* context, uint8_t byte)
{
    auto& s = *static_cast<MemorySink*>(context);
    if (lastError != errNone) return;
    std::vector<uint8_t>& fork = s.inResource ? s.resource : s.data;
    if (fork.size() >= s.limit) {
        setError(errPcDiskFull);
        return;
    }
    fork.push_back(byte);
}

void memorySinkNextFork(void* context) { static_cast<MemorySink*>(context)->inResource = true; }

}  // namespace

ByteSource memorySource(MemorySource& state) { return {memoryRead, memorySourceNextFork, &state}; }

ByteSink memorySink(MemorySink& state) { return {memoryWrite, memorySinkNextFork, &state}; }

}  // namespace verrin
