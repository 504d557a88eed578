#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace morvane {

// Real-time scheduling for the threads that feed the sound device, where the system
// allows it. A busy desktop starves a normal-priority audio thread long enough to
// underrun a buffer of a few milliseconds; at real-time priority the thread runs as
// soon as it wakes. A refusal is no fault: the thread plays on at normal priority.

// The kernel's id of the calling thread: one system call, cheap enough for the first
// callback of a stream to name its thread.
pid_t CurrentThreadId() noexcept;

// Asks for SCHED_FIFO at the priority for a thread of this process: first of the
// kernel, which grants it with a real-time limit or the capability, then of
// RealtimeKit over the system bus, which grants it to a desktop user's program within
// its own limits. True when the thread runs real-time afterwards.
bool MakeThreadRealtime(pid_t thread, int priority);

// Whether a thread of this process runs under a real-time policy.
bool RunsRealtime(pid_t thread);

// The threads of this process with the name, as the kernel keeps it (15 characters at
// most): an audio library's own threads, which it gives no handle to.
std::vector<pid_t> ThreadsNamed(std::string_view name);

// PortAudio's callback thread and, through ALSA's plugin, the PulseAudio client thread
// in this process both run at normal priority, where a busy machine starves them long
// enough to underrun a 20 ms buffer: both ask for real-time scheduling, once the first
// callback has named its thread. The client library's thread is found by its name.
void RaisePortAudioThreads(pid_t callbackThread);

// Keeps the pages of an object in memory, so that a callback touching it never waits
// for a page to come back from swap. True when the system allowed it.
bool LockInMemory(const void* start, std::size_t bytes);

} // namespace morvane
