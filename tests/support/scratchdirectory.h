#ifndef SCRATCHDIRECTORY_H
#define SCRATCHDIRECTORY_H

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A fresh temporary directory as the working directory while it lives, so
// that "setting.ini" and output written to "." stay private to one test.
// Failing to make or enter it is fatal: the test would otherwise read and
// overwrite the user's own setting.ini.
class ScratchDirectory
{
public:
    ScratchDirectory() : m_previous(QDir::currentPath())
    {
        if (!m_dir.isValid() || !QDir::setCurrent(m_dir.path()))
            qFatal("ScratchDirectory: cannot make or enter %s", qPrintable(m_dir.path()));
    }
    ~ScratchDirectory() { QDir::setCurrent(m_previous); }
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// A path below a regular file, where a folder is needed: unusable even for root.
inline QString blockedFolderIn(const QString &folder)
{
    const QString blocker = QDir(folder).filePath(QStringLiteral("blocker"));
    writeFile(blocker, {});
    return blocker + QStringLiteral("/out");
}

#endif // SCRATCHDIRECTORY_H
