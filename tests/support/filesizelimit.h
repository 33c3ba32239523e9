#ifndef FILESIZELIMIT_H
#define FILESIZELIMIT_H

#include <QByteArray>

#include <functional>

// A full disk without root: runs work in a forked child in which no file may
// grow past limitBytes (RLIMIT_FSIZE, SIGXFSZ ignored: a write past it fails
// with EFBIG) and hands back what work returns, or "child died: <status>".
// A child silent for a minute is killed and the work run once more ("child
// hung" if that hangs too); afterHang clears what the killed one left.
// Warm up whatever loads plug-ins before, in the parent: the child must not
// wait for a lock another thread held at the fork.
QByteArray runWithFileSizeLimit(long long limitBytes, const std::function<QByteArray()> &work,
                                const std::function<void()> &afterHang = {});

// The same with memory that runs out: the child's address space may grow by
// only headroomBytes. ASan's allocator aborts instead of failing: skip under it.
QByteArray runWithMemoryHeadroom(long long headroomBytes, const std::function<QByteArray()> &work);

#endif // FILESIZELIMIT_H
