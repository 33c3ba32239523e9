#ifndef SAVETHREAD_H
#define SAVETHREAD_H

/*
 * Saving may fall behind for a while, as the frame budget allows; grabbing
 * may not, or the camera's ring overflows and frames are lost. Threads that
 * encode and write call yieldToAcquisition() once, so that when the cores or
 * the disk are short the grab and window threads are served first. A thread
 * starts with its creator's priority, so helpers of such threads give way
 * too. Only what a process without privileges may do: it can lower a
 * thread's share, never raise it again.
 */

// How a saving thread gives way on the processor: kSaveThreadNiceness
// steps nicer than the main thread, or SCHED_IDLE (runs only on cores no
// other thread wants).
enum class SaveCpuPriority { Nicer, Idle };

// How much nicer than the main thread a saving thread runs by default: the
// most a thread may be, so that where the cores are short the grab thread
// and the window are served first and saving falls behind, which the frame
// budget bounds and counts. SCHED_IDLE does more of the same, but on a
// machine shared with other work it lets saving stop altogether.
constexpr int kSaveThreadNiceness = 19;
// And on the disk: as it was, the lowest best-effort level, or the idle
// class (served only when no other process reads or writes).
enum class SaveIoPriority { Unchanged, BestEffortLowest, Idle };

struct SavePriority {
    SaveCpuPriority cpu = SaveCpuPriority::Nicer;
    int niceness = kSaveThreadNiceness; // steps nicer than the main thread, with SaveCpuPriority::Nicer
    SaveIoPriority io = SaveIoPriority::BestEffortLowest;
};

// Process-wide; threads that already gave way keep what they took.
void setSavePriority(const SavePriority &priority);
SavePriority savePriority();

// Returns whether the calling thread now runs at the priority set.
bool yieldToAcquisition();

#endif // SAVETHREAD_H
