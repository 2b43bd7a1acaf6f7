#pragma once
// Faults for tests of the failure paths, put in through the seams the program leaves open
// (SetCaptureMemory, setEncoderInputObserver, setFileCloser). The program never links this.
#include "engine/session.h"

#include <cstddef>
#include <cstdint>
#include <functional>

// Capture memory that fails once, at the next allocation or lock of that kind.
enum class TAudioMemoryFault { None, HeaderAllocate, HeaderLock, BufferAllocate, BufferLock };
void SetAudioMemoryFault(TAudioMemoryFault fault);

// Sees every block of samples the session hands to the encoder; empty removes it.
using EncoderTap = EncoderInputObserver;
void setEncoderTap(EncoderTap tap);

// Closes the output file's descriptor instead of ::close (null restores it).
using FileCloseFunction = FileCloser;
void setFileCloseFunction(FileCloseFunction close);
