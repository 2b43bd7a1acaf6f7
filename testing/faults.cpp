#include "testing/faults.h"

#include "audio/AudioIO.h"

#include <new>
#include <utility>

namespace {

class FaultyMemory final : public TCaptureMemory {
public:
    void arm(TAudioMemoryFault fault) { fault_ = fault; }

    std::unique_ptr<WAVEHDR> NewHeader() override
    {
        if (strikes(TAudioMemoryFault::HeaderAllocate))
            throw std::bad_alloc();
        return TCaptureMemory::NewHeader();
    }
    std::unique_ptr<char[]> NewBuffer(std::size_t bytes) override
    {
        if (strikes(TAudioMemoryFault::BufferAllocate))
            throw std::bad_alloc();
        return TCaptureMemory::NewBuffer(bytes);
    }
    bool LockHeader(WAVEHDR *) override { return !strikes(TAudioMemoryFault::HeaderLock); }
    bool LockBuffer(char *) override { return !strikes(TAudioMemoryFault::BufferLock); }

private:
    bool strikes(TAudioMemoryFault kind)
    {
        if (fault_ != kind)
            return false;
        fault_ = TAudioMemoryFault::None;
        return true;
    }

    TAudioMemoryFault fault_ = TAudioMemoryFault::None;
};

FaultyMemory g_memory;

} // namespace

void SetAudioMemoryFault(TAudioMemoryFault fault)
{
    g_memory.arm(fault);
    SetCaptureMemory(&g_memory);
}

void setEncoderTap(EncoderTap tap)
{
    setEncoderInputObserver(std::move(tap));
}

void setFileCloseFunction(FileCloseFunction close)
{
    setFileCloser(close);
}
