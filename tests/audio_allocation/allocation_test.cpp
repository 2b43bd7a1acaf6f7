// Capture takes no memory per buffer: every allocation in this binary is counted (it has a
// binary of its own because it replaces the global operator new and delete).
#include "audio/AudioIO.h"
#include "testing/virtualwavein.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
} // namespace

void *operator new(std::size_t size)
{
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

TEST(CaptureAllocation, NoneWhileBuffersCirculate)
{
    VirtualWaveIn::Devices devices({"Mic"});
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(440, 8000));
    QWidget owner;
    auto *in = new TAudioIn(&owner);
    in->SetBufferSize(4096);
    long delivered = 0;
    in->OnBufferFilled = [&](void *, std::int32_t &) {
        ++delivered;
        return true;
    };
    ASSERT_TRUE(in->StartCapture(in));
    const HWAVEIN handle = VirtualWaveIn::handles().at(0);
    // Warm up: the first rounds fill Qt's posted-event list and the notice pool.
    for (int i = 0; i < 20; ++i) {
        VirtualWaveIn::pumpFrames(handle, 2048);
        VirtualWaveIn::deliverNotices();
    }
    g_allocations = 0;
    g_counting = true;
    for (int i = 0; i < 500; ++i) {
        VirtualWaveIn::pumpFrames(handle, 2048);
        VirtualWaveIn::deliverNotices();
    }
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 0);
    EXPECT_EQ(delivered, 520);
    in->StopNow();
    VirtualWaveIn::deliverNotices();
}

TEST(CaptureAllocation, NoneWhileSoundWaitsForBuffers)
{
    VirtualWaveIn::Devices devices({"Mic"});
    const WAVEFORMATEX f{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    HWAVEIN h = nullptr;
    ASSERT_EQ(waveInOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    std::vector<char> memory(19200);
    WAVEHDR header{};
    header.lpData = memory.data();
    header.dwBufferLength = DWORD(memory.size());
    ASSERT_EQ(waveInPrepareHeader(h, &header, sizeof(header)), MMSYSERR_NOERROR);
    g_allocations = 0;
    g_counting = true;
    for (int i = 0; i < 100; ++i) {
        VirtualWaveIn::pump(h, 300); // more than a buffer's worth: the rest is held
        waveInAddBuffer(h, &header, sizeof(header));
    }
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 0);
    std::uint64_t dropped = 0;
    waveInGetDroppedBytes(h, &dropped);
    EXPECT_GT(dropped, 0u) << "the holding ring filled up and stayed its size";
    waveInReset(h);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}
