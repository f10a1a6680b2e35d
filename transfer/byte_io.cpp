// In-memory byte sources and sinks for the codecs.
// Calls only the standard library and base/errors.h.
#include "transfer/byte_io.h"

#include <algorithm>

namespace verrin {

namespace {

int memoryRead(void* context)
{
    auto& s = *static_cast<MemorySource*>(context);
    std::span<const uint8_t> bytes = s.inResource ? s.resource : s.data;
    if (s.position >= bytes.size()) return -1;
    return bytes[s.position++];
}

uint32_t memoryReadRun(void* context, uint8_t* buffer, uint32_t max)
{
    auto& s = *static_cast<MemorySource*>(context);
    std::span<const uint8_t> bytes = s.inResource ? s.resource : s.data;
    const size_t n = s.position >= bytes.size() ? 0 : std::min<size_t>(max, bytes.size() - s.position);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(s.position), n, buffer);
    s.position += n;
    return static_cast<uint32_t>(n);
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

void memoryWriteRun(void* context, const uint8_t* bytes, uint32_t length)
{
    auto& s = *static_cast<MemorySink*>(context);
    if (lastError != errNone) return;
    std::vector<uint8_t>& fork = s.inResource ? s.resource : s.data;
    const size_t room = fork.size() >= s.limit ? 0 : s.limit - fork.size();
    fork.insert(fork.end(), bytes, bytes + std::min<size_t>(length, room));
    if (length > room) setError(errPcDiskFull);
}

void memorySinkNextFork(void* context) { static_cast<MemorySink*>(context)->inResource = true; }

}  // namespace

ByteSource memorySource(MemorySource& state) { return {memoryRead, memorySourceNextFork, &state, memoryReadRun}; }

ByteSink memorySink(MemorySink& state) { return {memoryWrite, memorySinkNextFork, &state, memoryWriteRun}; }

}  // namespace verrin
