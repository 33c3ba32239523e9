#ifndef DURABLEFILE_H
#define DURABLEFILE_H

#include "descriptordevice.h"

#include <QString>

/*
 * A file that appears under its name whole or not at all. Bytes go to a
 * hidden "<folder>/.<name>.partial" beside the final name; commit() checks
 * every write, syncs, closes and only then links the file into place, never
 * over an existing file: a taken name gets "_2", "_3", ... before its
 * extension. Anything but a successful commit() removes the partial file.
 * Use it as a QIODevice (an image encoder writes straight into it) or with
 * write() from a streaming encoder.
 */
class DurableFile : public DescriptorDevice
{
    Q_OBJECT

public:
    explicit DurableFile(const QString &path, QObject *parent = nullptr);
    ~DurableFile() override;

    bool open(OpenMode mode = WriteOnly) override;
    bool commit();
    // As commit(), but the file takes path() itself, replacing a file of that name.
    bool commitReplacing();
    void abandon();

    QString path() const { return m_path; }
    QString partialPath() const { return m_partialPath; }
    QString committedPath() const { return m_committedPath; }

private:
    bool fail(int error);

    QString m_path;
    QString m_partialPath;
    QString m_committedPath;
};

QString numberedFileName(const QString &fileName, int number);
int makeFolderPath(const QString &folder);

#endif // DURABLEFILE_H
