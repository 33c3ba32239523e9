#ifndef SCRATCHDIRECTORY_H
#define SCRATCHDIRECTORY_H

#include <QString>
#include <QTemporaryDir>

/*
 * Makes a fresh, empty temporary directory the working directory for as long
 * as it lives, and restores the previous one afterwards. "setting.ini" and
 * output written to "." therefore stay private to one test.
 *
 *     class TestSomething : public QObject {
 *         Q_OBJECT
 *         std::unique_ptr<ScratchDirectory> m_scratch;
 *     private slots:
 *         void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
 *         void cleanup() { m_scratch.reset(); }
 *         ...
 *     };
 *
 * or simply `ScratchDirectory scratch;` as the first line of a test function.
 * path() is the directory; filePath("setting.ini") names a file in it.
 */
class ScratchDirectory
{
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;

    bool isValid() const;
    QString path() const;
    QString filePath(const QString &name) const;

private:
    QString m_previous;
    QTemporaryDir m_dir;
    bool m_entered = false;
};

#endif // SCRATCHDIRECTORY_H
