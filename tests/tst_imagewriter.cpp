#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>

#include "imagewriter.h"

namespace {

// A picture with structure in both axes and all three channels, so that a
// swapped channel, a shifted row or a lossy encoder shows.
QImage patternImage(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = uchar(x * 5 + y);
            row[3 * x + 1] = uchar(y * 3 + (x & 7));
            row[3 * x + 2] = uchar((x ^ y) * 11);
        }
    }
    return image.convertToFormat(format);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QByteArray encodedWithQt(const QImage &image, const char *format, int quality, int compression)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality >= 0)
        writer.setQuality(quality);
    if (compression >= 0)
        writer.setCompression(compression);
    writer.write(image);
    return buffer.data();
}

} // namespace

class ImageWriterTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void nullImageFailsWithoutCreatingAFile();
    void formatNameChoosesEncoderAndExtension_data();
    void formatNameChoosesEncoderAndExtension();
    void pathExtensionIsCorrectedToTheFormat_data();
    void pathExtensionIsCorrectedToTheFormat();
    void losslessFormatsKeepEveryPixel_data();
    void losslessFormatsKeepEveryPixel();
    void jpegQualityIsClampedBeforeEncoding_data();
    void jpegQualityIsClampedBeforeEncoding();
    void jpegQualityChangesTheFile();
    void pngLevelIsClampedAndReachesZlib_data();
    void pngLevelIsClampedAndReachesZlib();
    void pngLevelsCompressMoreAsTheyRise();
    void gifIsWrittenOnlyWhenTheLibraryCanEncodeIt();
    void unknownEncoderReportsTheLibraryText();
    void unwritablePathReportsTheReason();

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
};

void ImageWriterTest::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void ImageWriterTest::nullImageFailsWithoutCreatingAFile()
{
    QString reason;
    QVERIFY(!writeImageFile(path("null.png"), QImage(), "PNG", 95, 8, &reason));
    QCOMPARE(reason, QStringLiteral("Empty image."));
    QVERIFY(!QFile::exists(path("null.png")));
    QVERIFY(!writeImageFile(path("null.png"), QImage(), "PNG", 95, 8));
}

void ImageWriterTest::formatNameChoosesEncoderAndExtension_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("contentFormat");
    QTest::newRow("jpeg") << "jpeg"
                          << "out.jpg" << QByteArray("jpeg");
    QTest::newRow("JPG") << "JPG"
                         << "out.jpg" << QByteArray("jpeg");
    QTest::newRow("Tiff") << "Tiff"
                          << "out.tif" << QByteArray("tiff");
    QTest::newRow("bmp") << "bmp"
                         << "out.bmp" << QByteArray("bmp");
    QTest::newRow("empty is png") << ""
                                  << "out.png" << QByteArray("png");
}

void ImageWriterTest::formatNameChoosesEncoderAndExtension()
{
    QFETCH(QString, format);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, contentFormat);
    const QImage image = patternImage(40, 30, QImage::Format_RGB888);
    QString reason;
    QVERIFY2(writeImageFile(path("out"), image, format, 95, 8, &reason), qPrintable(reason));
    QVERIFY(QFile::exists(path(fileName)));
    QImageReader reader(path(fileName));
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), contentFormat);
    QCOMPARE(reader.read().size(), image.size());
}

void ImageWriterTest::pathExtensionIsCorrectedToTheFormat_data()
{
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("written");
    QTest::newRow("other extension") << "a.png"
                                     << "JPG"
                                     << "a.jpg";
    QTest::newRow("no extension") << "a"
                                  << "JPG"
                                  << "a.jpg";
    QTest::newRow("last dot only") << "a.b.c"
                                   << "jpg"
                                   << "a.b.jpg";
    QTest::newRow("case differs") << "A.JPG"
                                  << "jpg"
                                  << "A.JPG";
    QTest::newRow("tiff long name") << "scan.tiff"
                                    << "TIFF"
                                    << "scan.tif";
}

void ImageWriterTest::pathExtensionIsCorrectedToTheFormat()
{
    QFETCH(QString, requested);
    QFETCH(QString, format);
    QFETCH(QString, written);
    QVERIFY(writeImageFile(path(requested), patternImage(8, 8, QImage::Format_RGB888), format, 95, 8));
    const QStringList files = QDir(m_dir->path()).entryList(QDir::Files);
    QCOMPARE(files, QStringList{written});
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
    const QImage image = patternImage(67, 23, QImage::Format(pixelFormat));
    const QString file = path("pixels." + format.toLower().left(3));
    QString reason;
    QVERIFY2(writeImageFile(file, image, format, 95, 8, &reason), qPrintable(reason));
    const QImage back = QImage(file).convertToFormat(image.format());
    QCOMPARE(back, image);
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
    const QImage image = patternImage(96, 64, QImage::Format_RGB888);
    QVERIFY(writeImageFile(path("q.jpg"), image, "JPG", requested, 8));
    QCOMPARE(fileBytes(path("q.jpg")), encodedWithQt(image, "jpg", used, -1));
}

void ImageWriterTest::jpegQualityChangesTheFile()
{
    const QImage image = patternImage(96, 64, QImage::Format_RGB888);
    QVERIFY(writeImageFile(path("low.jpg"), image, "JPG", 55, 8));
    QVERIFY(writeImageFile(path("high.jpg"), image, "JPG", 99, 8));
    QVERIFY(QFileInfo(path("high.jpg")).size() > QFileInfo(path("low.jpg")).size() * 3 / 2);
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
    const QImage image = patternImage(120, 80, QImage::Format_RGB888);
    QVERIFY(writeImageFile(path("a.png"), image, "png", 95, requested));
    QVERIFY(writeImageFile(path("b.png"), image, "png", 95, clamped));
    QCOMPARE(fileBytes(path("a.png")), fileBytes(path("b.png")));
}

void ImageWriterTest::pngLevelsCompressMoreAsTheyRise()
{
    // Level 0 stores the pixels; any higher level must reach zlib and shrink
    // this very compressible picture.
    const QImage image = patternImage(400, 300, QImage::Format_RGB888);
    QMap<int, qint64> sizes;
    for (int level : {0, 1, 8, 9}) {
        const QString file = path(QStringLiteral("level%1.png").arg(level));
        QVERIFY(writeImageFile(file, image, "PNG", 95, level));
        sizes[level] = QFileInfo(file).size();
        QCOMPARE(QImage(file).convertToFormat(QImage::Format_RGB888), image);
    }
    QVERIFY(sizes[0] >= qint64(image.sizeInBytes()));
    QVERIFY(sizes[1] < sizes[0] / 2);
    QVERIFY(sizes[8] <= sizes[1]);
    QVERIFY(sizes[9] <= sizes[8]);
}

void ImageWriterTest::gifIsWrittenOnlyWhenTheLibraryCanEncodeIt()
{
    const bool canEncode = QImageWriter::supportedImageFormats().contains("gif");
    QString reason;
    const bool written
        = writeImageFile(path("x.png"), patternImage(8, 8, QImage::Format_RGB888), "gif", 95, 8, &reason);
    QCOMPARE(written, canEncode);
    QCOMPARE(QFile::exists(path("x.gif")), canEncode);
    if (!canEncode)
        QVERIFY(!reason.isEmpty());
}

void ImageWriterTest::unknownEncoderReportsTheLibraryText()
{
    QString reason;
    QVERIFY(!writeImageFile(path("x"), patternImage(8, 8, QImage::Format_RGB888), "NoSuchFormat", 95, 8,
                            &reason));
    QVERIFY(!reason.isEmpty());
    QVERIFY(reason != QStringLiteral("Empty image."));
}

void ImageWriterTest::unwritablePathReportsTheReason()
{
    // A regular file as the parent folder fails even for root.
    QFile blocker(path("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString reason;
    QVERIFY(!writeImageFile(path("blocker/out.png"), patternImage(8, 8, QImage::Format_RGB888), "PNG", 95, 8,
                            &reason));
    QVERIFY(!reason.isEmpty());
    QVERIFY(reason != QStringLiteral("Empty image."));
}

QTEST_GUILESS_MAIN(ImageWriterTest)
#include "tst_imagewriter.moc"
