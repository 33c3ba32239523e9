#include "durablefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How many "_N" names, and how many partial names, are tried before giving up.
constexpr int kMaxNumber = 9999;

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

/*
 * Moves from to to unless to exists (then EEXIST). Returns 0 or the errno.
 * renameat2 does it in one step; file systems without it fall back to a
 * hard link, and those without hard links (FAT on a USB stick) to a check
 * and a rename, which only races with another program naming files here.
 */
int placeWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP)
        return error;
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    error = errno;
    if (error != EPERM && error != ENOTSUP && error != ENOSYS)
        return error;
    struct stat existing;
    if (::lstat(to.constData(), &existing) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

/*
 * Makes the new name itself survive a power loss. The bytes are already
 * synced and the name is in place; a failure here is not a cut file.
 */
void syncFolder(const QString &folder)
{
    const int fd = ::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

/*
 * The file name with "_<number>" before its extension (the part from the
 * last "." on, unless that dot starts the name); number 1 or less leaves it
 * unchanged. "Image_1.bmp", 2 -> "Image_1_2.bmp"; "a.b.tif", 3 -> "a.b_3.tif";
 * "plain", 2 -> "plain_2". Pure; any thread.
 */
QString numberedFileName(const QString &fileName, int number)
{
    if (number <= 1)
        return fileName;
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    const int cut = dot > 0 ? dot : fileName.size();
    return fileName.left(cut) + QLatin1Char('_') + QString::number(number) + fileName.mid(cut);
}

/*
 * Creates folder with every missing parent. Returns 0 when it exists as a
 * folder afterwards, else the errno of the step that failed (EROFS on a
 * read-only mount, ENOTDIR when a file is in the way, EACCES, ...). Any thread.
 */
int makeFolderPath(const QString &folder)
{
    const QByteArray path = nativePath(QDir::cleanPath(folder));
    if (path.isEmpty())
        return ENOENT;
    for (int slash = path.indexOf('/', 1); slash >= 0; slash = path.indexOf('/', slash + 1)) {
        if (::mkdir(path.left(slash).constData(), 0777) != 0 && errno != EEXIST)
            return errno;
    }
    if (::mkdir(path.constData(), 0777) != 0 && errno != EEXIST)
        return errno;
    struct stat info;
    if (::stat(path.constData(), &info) != 0)
        return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

/*
 * A durable file that will be named path once committed. Nothing is created
 * before open().
 */
DurableFile::DurableFile(const QString &path, QObject *parent) : DescriptorDevice(parent), m_path(path) { }

/*
 * A file neither committed nor abandoned is abandoned.
 */
DurableFile::~DurableFile()
{
    abandon();
}

bool DurableFile::fail(int error)
{
    recordError(error);
    abandon();
    return false;
}

/*
 * Creates the partial file "<folder>/.<name>.partial" (".<name>.<n>.partial"
 * when a killed earlier save left that one behind) and opens the device for
 * writing. mode must be WriteOnly. Returns false with the system's reason in
 * systemError() and errorString() when it cannot be created.
 */
bool DurableFile::open(OpenMode mode)
{
    if (isOpen() || !m_committedPath.isEmpty() || (mode & ReadOnly) || !(mode & WriteOnly))
        return false;
    const QFileInfo target(m_path);
    const QString folder = target.path();
    for (int number = 1; number <= kMaxNumber; ++number) {
        const QString name = number == 1
            ? QStringLiteral(".%1.partial").arg(target.fileName())
            : QStringLiteral(".%1.%2.partial").arg(target.fileName(), QString::number(number));
        const QString candidate = folder + QLatin1Char('/') + name;
        const int fd
            = ::open(nativePath(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_partialPath = candidate;
            return openDescriptor(fd);
        }
        if (errno != EEXIST)
            return recordError(errno);
    }
    return recordError(EEXIST);
}

/*
 * Writes out every buffered byte, syncs and closes the partial file, then
 * gives it the final name: path(), or the first free numbered name from
 * numberedFileName() when path() is taken. An existing file is never
 * replaced. Returns true with committedPath() set; on any failure returns
 * false with the first system error in systemError() and errorString(), and
 * the partial file is gone.
 */
bool DurableFile::commit()
{
    if (!isOpen() || m_partialPath.isEmpty())
        return fail(EBADF);
    if (!finish(true))
        return fail(systemError());

    const QFileInfo target(m_path);
    const QByteArray partial = nativePath(m_partialPath);
    for (int number = 1; number <= kMaxNumber; ++number) {
        const QString candidate
            = target.path() + QLatin1Char('/') + numberedFileName(target.fileName(), number);
        const int error = placeWithoutReplacing(partial, nativePath(candidate));
        if (error == 0) {
            m_partialPath.clear();
            m_committedPath = candidate;
            syncFolder(target.path());
            return true;
        }
        if (error != EEXIST)
            return fail(error);
    }
    return fail(EEXIST);
}

/*
 * Writes out, syncs and closes the partial file like commit(), then renames
 * it over path(): a reader sees the old file or the new one, never a mix.
 * For files the program keeps up to date (a camera's calibration) rather
 * than adds. Returns false with the system error, the partial file gone and
 * the old file untouched, on any failure.
 */
bool DurableFile::commitReplacing()
{
    if (!isOpen() || m_partialPath.isEmpty())
        return fail(EBADF);
    if (!finish(true))
        return fail(systemError());
    if (::rename(nativePath(m_partialPath).constData(), nativePath(m_path).constData()) != 0)
        return fail(errno);
    m_partialPath.clear();
    m_committedPath = m_path;
    syncFolder(QFileInfo(m_path).path());
    return true;
}

/*
 * Gives up: closes the file and removes the partial file. Safe to call more
 * than once, and after commit() (then it does nothing).
 */
void DurableFile::abandon()
{
    if (isOpen())
        close();
    if (!m_partialPath.isEmpty()) {
        ::unlink(nativePath(m_partialPath).constData());
        m_partialPath.clear();
    }
}
