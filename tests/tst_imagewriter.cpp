#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>

#include "imagewriter.h"
#include "patternframe.h"

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ImageWriterTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void failedWritesGiveAReasonAndNoFile_data();
    void failedWritesGiveAReasonAndNoFile();
    void formatChoosesEncoderAndCorrectsTheExtension_data();
    void formatChoosesEncoderAndCorrectsTheExtension();
    void losslessFormatsKeepEveryPixel_data();
    void losslessFormatsKeepEveryPixel();
    void jpegQualityIsClampedBeforeEncoding_data();
    void jpegQualityIsClampedBeforeEncoding();
    void pngLevelIsClampedAndReachesZlib_data();
    void pngLevelIsClampedAndReachesZlib();

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
};

void ImageWriterTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void ImageWriterTest::failedWritesGiveAReasonAndNoFile_data()
{
    QTest::addColumn<bool>("nullImage");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("reason"); // empty: the library's own text
    QTest::newRow("null image") << true << "null.png"
                                << "PNG"
                                << "Empty image.";
    QTest::newRow("unknown encoder") << false << "x"
                                     << "NoSuchFormat"
                                     << "";
    // A regular file as the parent folder fails even for root.
    QTest::newRow("unwritable path") << false << "blocker/out.png"
                                     << "PNG"
                                     << "";
}

void ImageWriterTest::failedWritesGiveAReasonAndNoFile()
{
    QFETCH(bool, nullImage);
    QFETCH(QString, name);
    QFETCH(QString, format);
    QFETCH(QString, reason);
    QFile blocker(path("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QImage image = nullImage ? QImage() : patternFrame(8, 8, QImage::Format_RGB888, 1);
    QString given;
    QVERIFY(!writeImageFile(path(name), image, format, 95, 8, &given));
    if (reason.isEmpty())
        QVERIFY2(!given.isEmpty() && given != QStringLiteral("Empty image."), qPrintable(given));
    else
        QCOMPARE(given, reason);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"blocker"});
    QVERIFY(!writeImageFile(path(name), image, format, 95, 8));
}

void ImageWriterTest::formatChoosesEncoderAndCorrectsTheExtension_data()
{
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("no extension") << "out"
                                  << "jpeg"
                                  << "out.jpg" << QByteArray("jpeg");
    QTest::newRow("other extension") << "a.png"
                                     << "JPG"
                                     << "a.jpg" << QByteArray("jpeg");
    QTest::newRow("last dot only") << "a.b.c"
                                   << "bmp"
                                   << "a.b.bmp" << QByteArray("bmp");
    QTest::newRow("case differs") << "A.JPG"
                                  << "jpg"
                                  << "A.JPG" << QByteArray("jpeg");
    QTest::newRow("tiff long name") << "scan.tiff"
                                    << "Tiff"
                                    << "scan.tif" << QByteArray("tiff");
    QTest::newRow("empty is png") << "out"
                                  << ""
                                  << "out.png" << QByteArray("png");
}

void ImageWriterTest::formatChoosesEncoderAndCorrectsTheExtension()
{
    QFETCH(QString, requested);
    QFETCH(QString, format);
    QFETCH(QString, written);
    QFETCH(QByteArray, content);
    const QImage image = patternFrame(40, 30, QImage::Format_RGB888, 1);
    QString reason;
    QVERIFY2(writeImageFile(path(requested), image, format, 95, 8, &reason), qPrintable(reason));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{written});
    QImageReader reader(path(written));
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), content);
    QCOMPARE(reader.read().size(), image.size());
}

void ImageWriterTest::losslessFormatsKeepEveryPixel_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("pixelFormat");
    for (const char *format : {"PNG", "BMP", "TIFF"}) {
        QTest::addRow("%s rgb", format) << format << int(QImage::Format_RGB888);
        QTest::addRow("%s gray", format) << format << int(QImage::Format_Grayscale8);
    }
}

void ImageWriterTest::losslessFormatsKeepEveryPixel()
{
    QFETCH(QString, format);
    QFETCH(int, pixelFormat);
    const QImage image = patternFrame(67, 23, QImage::Format(pixelFormat), 1);
    const QString file = path("pixels." + format.toLower().left(3));
    QString reason;
    QVERIFY2(writeImageFile(file, image, format, 95, 8, &reason), qPrintable(reason));
    QCOMPARE(QImage(file).convertToFormat(image.format()), image);
}

void ImageWriterTest::jpegQualityIsClampedBeforeEncoding_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("used");
    QTest::newRow("100 becomes 99") << 100 << 99;
    QTest::newRow("10 becomes 55") << 10 << 55;
    QTest::newRow("80 stays") << 80 << 80;
}

void ImageWriterTest::jpegQualityIsClampedBeforeEncoding()
{
    QFETCH(int, requested);
    QFETCH(int, used);
    const QImage image = patternFrame(96, 64, QImage::Format_RGB888, 1);
    QVERIFY(writeImageFile(path("q.jpg"), image, "JPG", requested, 8));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(used);
    QVERIFY(writer.write(image));
    QCOMPARE(fileBytes(path("q.jpg")), buffer.data());
}

void ImageWriterTest::pngLevelIsClampedAndReachesZlib_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("clamped");
    QTest::newRow("-1 becomes 0") << -1 << 0;
    QTest::newRow("12 becomes 9") << 12 << 9;
}

void ImageWriterTest::pngLevelIsClampedAndReachesZlib()
{
    QFETCH(int, requested);
    QFETCH(int, clamped);
    const QImage image = patternFrame(400, 300, QImage::Format_RGB888, 1);
    QVERIFY(writeImageFile(path("a.png"), image, "png", 95, requested));
    QVERIFY(writeImageFile(path("b.png"), image, "png", 95, clamped));
    QCOMPARE(fileBytes(path("a.png")), fileBytes(path("b.png")));
    // Level 0 stores the pixels; level 9 shrinks this compressible picture.
    const qint64 stored = qint64(image.sizeInBytes());
    QVERIFY(clamped == 0 ? QFileInfo(path("a.png")).size() >= stored
                         : QFileInfo(path("a.png")).size() < stored / 2);
}

QTEST_GUILESS_MAIN(ImageWriterTest)
#include "tst_imagewriter.moc"
