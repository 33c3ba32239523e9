#ifndef SAVETHREAD_H
#define SAVETHREAD_H

/*
 * Saving may fall behind for a while, as the frame budget allows; grabbing
 * may not, or the camera's ring overflows and frames are lost. Threads that
 * encode and write call this once, so that when the cores are short the
 * scheduler serves the grab and window threads first. Returns whether the
 * calling thread now runs at least kSaveThreadNiceness nicer than the main
 * thread. Calling it again, or from a thread such a thread started, changes
 * nothing more.
 */
bool yieldToAcquisition();

// How much nicer than the main thread a saving thread runs: under full load
// it gets about a third of the share of a grabbing thread.
constexpr int kSaveThreadNiceness = 5;

#endif // SAVETHREAD_H
