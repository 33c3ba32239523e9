#ifndef FILESIZELIMIT_H
#define FILESIZELIMIT_H

#include <QByteArray>

#include <functional>

/*
 * A full disk without root: runs work in a forked child in which no file may
 * grow past limitBytes (RLIMIT_FSIZE, with SIGXFSZ ignored so that a write
 * past the limit fails with EFBIG instead of killing the child). Whatever
 * work returns is handed back to the parent. A child that dies instead gives
 * "child died: <status>"; one that gives no answer for a minute is killed and
 * the work run once more in a new child ("child hung" when that one hangs too).
 * A killed child cannot clean up after itself: afterHang, when given, runs
 * before the second try to clear what the first left (a partial file).
 *
 *     const QByteArray answer = runWithFileSizeLimit(4096, [&] {
 *         QString reason;
 *         return writeImageFile(path, image, ImageFormat::Png, 95, 8, &reason) ? "ok" : reason.toUtf8();
 *     });
 *
 * The global thread pool is emptied before the fork. Warm up anything that
 * loads plug-ins in the parent first, so the child does not depend on a lock
 * some other thread held at the fork.
 */
QByteArray runWithFileSizeLimit(long long limitBytes, const std::function<QByteArray()> &work,
                                const std::function<void()> &afterHang = {});

/*
 * Memory that runs out: the same, in a child whose address space may grow by
 * only headroomBytes past what it holds at the fork. The address sanitizer's
 * allocator aborts instead of failing, so callers skip under it.
 */
QByteArray runWithMemoryHeadroom(long long headroomBytes, const std::function<QByteArray()> &work);

#endif // FILESIZELIMIT_H
