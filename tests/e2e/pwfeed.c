/* Turns raw s16le 44.1 kHz stereo written into a FIFO, at whatever pace its writers keep, into
 * an unbroken WAV stream on standard output for `pw-cat --playback -`.
 * Usage: quavrel_pwfeed FIFO
 * pw-cat reads its input on the sound graph's own thread: a read that waits for a writer
 * misses the graph's cycle and the sound of that cycle is lost. So this side keeps the pipe
 * to pw-cat full (190 ms, also over a moment when this process is not scheduled), with
 * silence while no writer has sound ready, and lets a writer's sound through only once
 * 100 ms of it are waiting: the writer paces itself by a clock of its own.
 * A player that stops taking sound for a while is reported on standard error (the test
 * server's log): the writers' sound then waits in the FIFO and their writes fail. What waited
 * is dropped once it takes again, as a microphone would have lost it: played late, it would
 * shift every later sound by the length of the freeze, into the tests that come after. */
#define _GNU_SOURCE /* F_SETPIPE_SZ */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum {
    kFrame = 4,
    kChunk = 441 * kFrame,         /* 10 ms */
    kPrime = 10 * kChunk,          /* 100 ms */
    kHold = 2 * 44100 * kFrame,    /* a writer far ahead is cut off here */
    kOutPipe = 32768
};

/* A writer that fell behind during a freeze catches up at once: its burst is dropped too. */
static const double kCatchUp = 0.3;
static double discardUntil;

static unsigned char held[kHold];
static size_t heldBytes;

static double now(void);

/* -1: the player is gone; 1: it took nothing for a while. */
static int writeAll(const unsigned char *p, size_t n)
{
    const double start = now();
    while (n > 0) {
        const ssize_t w = write(STDOUT_FILENO, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return -1;
        p += w;
        n -= (size_t)w;
    }
    const double stalled = now() - start;
    if (stalled > 0.5) {
        fprintf(stderr, "quavrel_pwfeed: the player took nothing for %.1f s\n", stalled);
        return 1;
    }
    return 0;
}

static void readAvailable(int fd)
{
    while (heldBytes < kHold && now() >= discardUntil) {
        const ssize_t r = read(fd, held + heldBytes, kHold - heldBytes);
        if (r <= 0)
            return;
        heldBytes += (size_t)r;
    }
    unsigned char sink[4096];
    while (read(fd, sink, sizeof sink) > 0) {
    }
}

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void dropWaiting(int *flowing)
{
    heldBytes = 0;
    *flowing = 0;
    discardUntil = now() + kCatchUp;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s FIFO\n", argv[0]);
        return 2;
    }
    /* Read and write: no writer is ever missing, so the FIFO never ends. */
    const int fd = open(argv[1], O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    if (fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kOutPipe) < 0)
        perror("F_SETPIPE_SZ"); /* only a longer delay */
    static const unsigned char header[44] = {
        'R', 'I', 'F', 'F', 0xff, 0xff, 0xff, 0xff, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xac, 0, 0, 0x10, 0xb1, 2, 0, 4, 0, 16, 0,
        'd', 'a', 't', 'a', 0xff, 0xff, 0xff, 0xff};
    if (writeAll(header, sizeof header) < 0)
        return 1;
    static const unsigned char silence[kChunk];
    int flowing = 0;
    double lastArrival = now();
    for (;;) {
        const size_t before = heldBytes;
        readAvailable(fd);
        if (heldBytes != before)
            lastArrival = now();
        if (!flowing && heldBytes >= kPrime)
            flowing = 1;
        /* A writer that has finished leaves less than the prime: let it out after a while. */
        const int tail = heldBytes > 0 && now() - lastArrival > 0.2;
        if ((flowing || tail) && heldBytes >= kFrame) {
            size_t n = heldBytes < kChunk ? heldBytes : kChunk;
            n -= n % kFrame;
            const int wrote = writeAll(held, n);
            if (wrote < 0)
                return 0;
            memmove(held, held + n, heldBytes - n);
            heldBytes -= n;
            if (wrote > 0)
                dropWaiting(&flowing);
        } else {
            flowing = 0;
            const int wrote = writeAll(silence, kChunk);
            if (wrote < 0)
                return 0;
            if (wrote > 0)
                dropWaiting(&flowing);
        }
    }
}
