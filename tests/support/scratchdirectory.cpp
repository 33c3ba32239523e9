#include "scratchdirectory.h"

#include <QDir>
#include <QtGlobal>

/*
 * Creates the directory and enters it. A failure to do either is fatal: a
 * test running in the real working directory would read and overwrite the
 * user's "setting.ini".
 */
ScratchDirectory::ScratchDirectory() : m_previous(QDir::currentPath())
{
    if (!m_dir.isValid())
        qFatal("ScratchDirectory: cannot create a temporary directory: %s", qPrintable(m_dir.errorString()));
    m_entered = QDir::setCurrent(m_dir.path());
    if (!m_entered)
        qFatal("ScratchDirectory: cannot enter %s", qPrintable(m_dir.path()));
}

/* Returns to the previous working directory, then removes the scratch one. */
ScratchDirectory::~ScratchDirectory()
{
    if (m_entered)
        QDir::setCurrent(m_previous);
}

bool ScratchDirectory::isValid() const
{
    return m_dir.isValid() && m_entered;
}

QString ScratchDirectory::path() const
{
    return m_dir.path();
}

QString ScratchDirectory::filePath(const QString &name) const
{
    return m_dir.filePath(name);
}
