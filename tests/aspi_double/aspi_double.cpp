// The ASPI stand-in. See aspi_double.h.
#include "aspi_double.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "devices/win/aspi_srb.h"

using namespace verrin::win;

namespace {

constexpr uint8_t checkCondition = 0x02;  // target status
constexpr uint8_t dataOverrun = 0x12;     // host adapter status

struct State {
    uint32_t support = 0;
    std::vector<AspiDoubleDevice> devices;
    std::deque<AspiDoubleReply> script;
    std::vector<AspiDoubleCall> calls;
    SrbExecScsiCmd* waitingForever = nullptr;
    std::thread completion;
    void (*signal)(void*) = nullptr;
};

State& state()
{
    static State s;
    return s;
}

void signalEvent(void* event)
{
#ifdef _WIN32
    SetEvent(static_cast<HANDLE>(event));
#else
    if (state().signal) state().signal(event);
#endif
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

void putBe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

const AspiDoubleDevice* findDevice(uint8_t ha, uint8_t target)
{
    for (const AspiDoubleDevice& d : state().devices)
        if (d.hostAdapter == ha && d.target == target) return &d;
    return nullptr;
}

bool seekTo(std::FILE* f, uint64_t offset)
{
#ifdef _WIN32
    return _fseeki64(f, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

uint64_t mediumBlocks(const AspiDoubleDevice& d)
{
    std::FILE* f = std::fopen(d.imagePath, "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
#ifdef _WIN32
    const long long bytes = _ftelli64(f);
#else
    const off_t bytes = ftello(f);
#endif
    std::fclose(f);
    return bytes > 0 ? static_cast<uint64_t>(bytes) / d.blockSize : 0;
}

// Moves blocks between the image and the request's buffer.
bool moveBlocks(const AspiDoubleDevice& d, bool writing, uint32_t address, uint32_t blocks, uint8_t* buffer)
{
    std::FILE* f = std::fopen(d.imagePath, writing ? "r+b" : "rb");
    if (!f) return false;
    const size_t bytes = static_cast<size_t>(blocks) * d.blockSize;
    bool ok = seekTo(f, static_cast<uint64_t>(address) * d.blockSize);
    if (ok) ok = (writing ? std::fwrite(buffer, 1, bytes, f) : std::fread(buffer, 1, bytes, f)) == bytes;
    return std::fclose(f) == 0 && ok;
}

// Sets the three status bytes of a request.
void finish(SrbExecScsiCmd* s, uint8_t status, uint8_t haStat = 0, uint8_t targStat = 0)
{
    s->SRB_HaStat = haStat;
    s->SRB_TargStat = targStat;
    s->SRB_Status = status;
}

// Serves a command as the addressed device would.
void serve(SrbExecScsiCmd* s)
{
    if (s->SRB_HaId >= (state().support & 0xFF)) return finish(s, ssInvalidHa);
    const AspiDoubleDevice* d = findDevice(s->SRB_HaId, s->SRB_Target);
    if (!d || s->SRB_Lun != 0) return finish(s, ssNoDevice);
    const uint8_t* cdb = s->CDBByte;
    const bool hasMedium = d->imagePath[0] != 0;
    switch (cdb[0]) {
    case scsiInquiry: {
        uint8_t data[36] = {};
        data[0] = d->deviceType;
        data[1] = d->removable ? 0x80 : 0;
        data[4] = 31;
        std::memset(data + 8, ' ', 24);
        std::memcpy(data + 8, d->ident, std::min<size_t>(std::strlen(d->ident), 24));
        std::memcpy(s->SRB_BufPointer, data, std::min<uint32_t>({s->SRB_BufLen, cdb[4], sizeof data}));
        return finish(s, ssComp);
    }
    case scsiReadCapacity: {
        const uint64_t blocks = hasMedium && d->deviceType != deviceTape ? mediumBlocks(*d) : 0;
        if (blocks == 0 || s->SRB_BufLen < 8) return finish(s, ssErr, 0, checkCondition);
        putBe32(s->SRB_BufPointer, static_cast<uint32_t>(blocks - 1));
        putBe32(s->SRB_BufPointer + 4, d->blockSize);
        return finish(s, ssComp);
    }
    case scsiRead10:
    case scsiWrite10: {
        const bool writing = cdb[0] == scsiWrite10;
        const uint32_t address = be32(cdb + 2);
        const uint32_t blocks = static_cast<uint32_t>(cdb[7] << 8 | cdb[8]);
        if (d->maxBlocks && blocks > d->maxBlocks) return finish(s, ssBufferTooBig);
        if (s->SRB_BufLen != static_cast<uint64_t>(blocks) * d->blockSize) return finish(s, ssErr, dataOverrun);
        const bool writable = d->deviceType == deviceDisk || d->deviceType == deviceOptical;
        if (!hasMedium || d->deviceType == deviceTape || (writing && !writable) ||
            static_cast<uint64_t>(address) + blocks > mediumBlocks(*d) ||
            !moveBlocks(*d, writing, address, blocks, s->SRB_BufPointer))
            return finish(s, ssErr, 0, checkCondition);
        return finish(s, ssComp);
    }
    case scsiSynchronizeCache:
        return hasMedium ? finish(s, ssComp) : finish(s, ssErr, 0, checkCondition);
    case scsiReadToc:
        if (d->deviceType != deviceCdrom || !hasMedium) return finish(s, ssErr, 0, checkCondition);
        std::memcpy(s->SRB_BufPointer, d->toc, std::min<uint32_t>(s->SRB_BufLen, sizeof d->toc));
        return finish(s, ssComp);
    default:
        return finish(s, ssErr, 0, checkCondition);
    }
}

void answer(SrbExecScsiCmd* s, const AspiDoubleReply& reply)
{
    if (reply.status == aspiDoubleServe)
        serve(s);
    else
        finish(s, reply.status, reply.haStat, reply.targStat);
}

void settle()
{
    if (state().completion.joinable()) state().completion.join();
}

uint32_t abortRequest(SrbAbort* a)
{
    State& st = state();
    AspiDoubleCall call{};
    call.command = a->SRB_Cmd;
    call.hostAdapter = a->SRB_HaId;
    call.request = a->SRB_ToAbort;
    st.calls.push_back(call);
    if (st.waitingForever && st.waitingForever == a->SRB_ToAbort) {
        st.waitingForever->SRB_Status = ssAborted;
        st.waitingForever = nullptr;
    }
    a->SRB_Status = ssComp;
    return ssComp;
}

}  // namespace

extern "C" {

void aspiDoubleReset(uint32_t supportWord)
{
    settle();
    State& st = state();
    st.support = supportWord;
    st.devices.clear();
    st.script.clear();
    st.calls.clear();
    st.waitingForever = nullptr;
}

void aspiDoubleAddDevice(const AspiDoubleDevice* device) { state().devices.push_back(*device); }

void aspiDoubleScript(const AspiDoubleReply* replies, uint32_t count)
{
    state().script.insert(state().script.end(), replies, replies + count);
}

uint32_t aspiDoubleCalls(AspiDoubleCall* out, uint32_t capacity)
{
    const std::vector<AspiDoubleCall>& calls = state().calls;
    if (capacity > 0)
        std::memcpy(static_cast<void*>(out), calls.data(), std::min<size_t>(capacity, calls.size()) * sizeof *out);
    return static_cast<uint32_t>(calls.size());
}

void aspiDoubleSettle() { settle(); }

void aspiDoubleSetSignal(void (*signal)(void*)) { state().signal = signal; }

uint32_t GetASPI32SupportInfo(void) { return state().support; }

uint32_t SendASPI32Command(void* request)
{
    settle();
    State& st = state();
    const uint8_t command = *static_cast<uint8_t*>(request);
    if (command == scAbortSrb) return abortRequest(static_cast<SrbAbort*>(request));
    SrbExecScsiCmd* s = static_cast<SrbExecScsiCmd*>(request);
    AspiDoubleCall call{};
    call.command = command;
    call.hostAdapter = s->SRB_HaId;
    call.target = s->SRB_Target;
    call.flags = s->SRB_Flags;
    call.opcode = s->CDBByte[0];
    call.cdbLength = s->SRB_CDBLen;
    call.senseLength = s->SRB_SenseLen;
    call.bufferLength = s->SRB_BufLen;
    if (call.opcode == scsiRead10 || call.opcode == scsiWrite10) {
        call.address = be32(s->CDBByte + 2);
        call.blocks = static_cast<uint32_t>(s->CDBByte[7] << 8 | s->CDBByte[8]);
    }
    call.hasEvent = s->SRB_PostProc != nullptr;
    call.request = s;
    st.calls.push_back(call);
    if (command != scExecScsiCmd) {
        s->SRB_Status = 0x80;  // invalid request
        return s->SRB_Status;
    }
    AspiDoubleReply reply{aspiDoubleServe, 0, 0, completeNow};
    if (!st.script.empty()) {
        reply = st.script.front();
        st.script.pop_front();
    }
    if (reply.completion == completeNow) {
        answer(s, reply);
        return s->SRB_Status;
    }
    s->SRB_Status = ssPending;
    if (reply.completion == completeNever) {
        st.waitingForever = s;
        return ssPending;
    }
    st.completion = std::thread([s, reply] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        answer(s, reply);
        signalEvent(s->SRB_PostProc);
    });
    return ssPending;
}
}
