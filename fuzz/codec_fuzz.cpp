// Fuzz target: mutated BinHex text and MacBinary files go through the
// decoders. The first byte picks the decoder. A BinHex file that decodes is
// encoded again and must decode to the same file. Any crash, hang or
// sanitizer report is a fault; errors set in lastError are the expected
// outcome for bad input. Calls the two codecs only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "base/errors.h"
#include "transfer/binhex.h"
#include "transfer/macbinary.h"

using namespace verrin;

namespace {

struct Decoded {
    MacFileInfo info;
    MemorySink forks;
};

bool decodeBinHex(std::span<const uint8_t> text, Decoded& out)
{
    MemorySource source{text, {}};
    ByteSource in = memorySource(source);
    in.nextFork = nullptr;
    BinHexReader reader;
    // A small limit keeps runs from making huge forks.
    if (!readBinHexHeader(reader, in, out.info, 1 << 20)) return false;
    return readBinHexForks(reader, out.info, memorySink(out.forks));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    std::span<const uint8_t> input(data + 1, size - 1);
    lastError = errNone;
    if (data[0] & 1) {
        MemorySource source{input, {}};
        ByteSource in = memorySource(source);
        in.nextFork = nullptr;
        MacBinaryHeader header;
        MemorySink sink;
        if (readMacBinaryHeader(in, input.size(), header)) readMacBinaryForks(in, header, memorySink(sink));
    } else {
        Decoded first;
        if (decodeBinHex(input, first) && first.info.name[0] > 0) {
            MemorySource forks{first.forks.data, first.forks.resource};
            MemorySink text;
            writeBinHex(first.info, memorySource(forks), memorySink(text));
            Decoded second;
            if (lastError != errNone || !decodeBinHex(text.data, second)) std::abort();
            if (second.info.name != first.info.name || second.forks.data != first.forks.data ||
                second.forks.resource != first.forks.resource)
                std::abort();
        }
    }
    lastError = errNone;
    return 0;
}
