// The PNG row filter, the deflate pieces, and streamed files that equal what
// Qt's own writer makes of the same picture: byte for byte where the encoder
// is Qt's, filter for filter and no larger where it is not.
#include <QBuffer>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "decodedfile.h"
#include "deflatepiece.h"
#include "framekind.h"
#include "imagewriter.h"
#include "patternframe.h"
#include "pngfilter.h"
#include "referencecanvas.h"
#include "segmentpicture.h"
#include "stitchrecorder.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uchar>;

// The predictor of byte i under a filter type as the PNG format defines it;
// row holds the unfiltered bytes before i.
int predictor(int type, const Bytes &row, const Bytes &prev, std::size_t i, std::size_t bpp)
{
    const int a = i >= bpp ? row[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    const int predictors[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
    return predictors[type];
}

Bytes filteredBy(int type, const Bytes &row, const Bytes &prev, std::size_t bpp)
{
    Bytes out(row.size());
    for (std::size_t i = 0; i < row.size(); ++i)
        out[i] = uchar(row[i] - predictor(type, row, prev, i, bpp));
    return out;
}

// The product's filter against libpng's choice (the smallest sum of bytes
// read as signed, the earlier filter on a tie), that filter's bytes, and a
// reader getting the row back. Empty when all hold.
QString filterFault(const Bytes &row, const Bytes &prev, std::size_t bpp, int *type)
{
    Bytes out(row.size() + 1, 0xab);
    filterPngRow(row.data(), prev.data(), row.size(), bpp, out.data());
    long costs[5] = {};
    int expected = 0;
    for (int t = 0; t < 5; ++t) {
        for (const uchar v : filteredBy(t, row, prev, bpp))
            costs[t] += std::abs(int(static_cast<signed char>(v)));
        expected = costs[t] < costs[expected] ? t : expected;
    }
    *type = out[0];
    if (out[0] != expected)
        return QStringLiteral("filter %1, not %2").arg(out[0]).arg(expected);
    if (Bytes(out.begin() + 1, out.end()) != filteredBy(expected, row, prev, bpp))
        return QStringLiteral("filtered bytes differ");
    Bytes back(row.size());
    for (std::size_t i = 0; i < row.size(); ++i)
        back[i] = uchar(out[i + 1] + predictor(out[0], back, prev, i, bpp));
    return back == row ? QString() : QStringLiteral("does not unfilter");
}

// Whether the pieces, joined and closed by an empty final fixed block, are one
// valid stream that inflates to exactly these bytes (the checksum is theirs).
bool joinInto(const std::vector<Bytes> &pieces, const uchar *data, std::size_t bytes)
{
    QByteArray stream(4, 0);
    qToBigEndian(quint32(bytes), stream.data());
    stream += QByteArray("\x78\x01", 2);
    for (const Bytes &piece : pieces)
        stream.append(reinterpret_cast<const char *>(piece.data()), int(piece.size()));
    stream += QByteArray("\x03\x00\0\0\0\0", 6);
    qToBigEndian(quint32(adler32(1, data, uInt(bytes))), stream.data() + stream.size() - 4);
    return qUncompress(stream) == QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(bytes));
}

// A complete raw stream made by zlib.
Bytes zlibStream(const uchar *data, std::size_t bytes, int level, int strategy)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy) != Z_OK)
        return {};
    Bytes out(deflateBound(&stream, uLong(bytes)) + 16);
    stream.next_in = const_cast<uchar *>(data);
    stream.avail_in = uInt(bytes);
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(out.size() - stream.avail_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : Bytes{};
}

// Noise, flat runs and repeated text: stored, fixed and dynamic blocks.
Bytes mixedContent(std::size_t bytes, quint32 seed)
{
    QRandomGenerator random(seed);
    Bytes data(bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        const int part = int(i / 4096 % 3);
        data[i] = part == 0 ? uchar(116 + random.bounded(25))
            : part == 1     ? uchar(i / 10000)
                            : uchar("line scan "[i % 10]);
    }
    return data;
}

// A gradient with noise as a Mono8 camera's saved picture holds it, widened
// to RGB: grainy (+-12 levels) or clean (about one level).
QImage sensorPicture(bool grainy, int width, int height)
{
    QImage picture(width, height, QImage::Format_Grayscale8);
    QRandomGenerator random(grainy ? 5 : 6);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int noise = 0;
            for (int k = 0; k < 4 && !grainy; ++k)
                noise += int(random.bounded(256)) - 128;
            noise = grainy ? int(random.bounded(25)) - 12 : noise / 148;
            picture.scanLine(y)[x] = uchar(std::clamp((x + y) / 2 % 256 + noise, 0, 255));
        }
    }
    return picture;
}

// What Qt's own writer makes of a picture with the program's settings.
QByteArray qtsFile(const QImage &picture, const QString &extension, int quality)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, extension.toLatin1());
    if (extension == QLatin1String("jpg"))
        writer.setQuality(quality);
    else if (extension == QLatin1String("png"))
        writer.setCompression(pngCompressionSetting(quality));
    return writer.write(picture) ? buffer.data() : QByteArray();
}

// A PNG's chunks but IDAT, and its IDAT data inflated: what the filters made.
QPair<QByteArrayList, QByteArray> pngParts(const QByteArray &file)
{
    QByteArrayList chunks;
    QByteArray deflated(4, 0);
    for (int at = 8; at + 12 <= file.size();) {
        const int length = int(qFromBigEndian<quint32>(file.constData() + at));
        const QByteArray type = file.mid(at + 4, 4);
        type == "IDAT" ? void(deflated += file.mid(at + 8, length))
                       : chunks.append(type + file.mid(at + 8, length));
        at += 12 + length;
    }
    qToBigEndian<quint32>(quint32(deflated.size()) * 8 + 4096, deflated.data());
    return {chunks, qUncompress(deflated)};
}

} // namespace

class TestEncoders : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void pngFilterIsLibpngs_data()
    {
        QTest::addColumn<int>("kind");
        int kind = 0;
        for (const char *name : {"random bytes", "smooth with noise", "gray widened to colour",
                                 "extremes 0 and 255", "long rows where each filter wins in turn"})
            QTest::newRow(name) << kind++;
    }
    // Every row length around the vector width, one and three bytes a pixel,
    // the first row of a picture (nothing above) among them; long rows, almost
    // every byte through the vector path, built so that Average's rounding and
    // Paeth's choice decide.
    void pngFilterIsLibpngs()
    {
        QFETCH(int, kind);
        const bool wide = kind == 4;
        QRandomGenerator random(quint32(17 + kind));
        QSet<int> typesSeen;
        for (const std::size_t bpp : {1, 3}) {
            for (std::size_t n = wide ? 3002 : bpp; n <= (wide ? 3002 : 120); n += bpp) {
                for (int round = 0; round < (wide ? 5 : 6); ++round) {
                    Bytes row(n), prev(n);
                    for (std::size_t i = 0; i < n; ++i) {
                        const int noise = int(random.bounded(256)), other = int(random.bounded(256));
                        const int pixel = int(i / bpp) * (round + 1), band = int(i / 64 * 40);
                        // Vertical stripes (Up predicts them) and flat bands
                        // (Sub does) in turn: only Paeth predicts both.
                        const bool stripe = round == 4 && i / 64 % 2 == 1;
                        switch (kind) {
                        case 0:
                        case 3:
                            row[i] = uchar(kind ? (noise & 1) * 255 : noise);
                            prev[i] = uchar(kind ? (other & 1) * 255 : other);
                            break;
                        case 1:
                            row[i] = uchar(pixel + noise % 9);
                            prev[i] = uchar(pixel + round * 3 + other % 9);
                            break;
                        case 2:
                            row[i] = i % 3 ? row[i - i % 3] : uchar(noise);
                            prev[i] = i % 3 ? prev[i - i % 3] : uchar(row[i] + other % 5);
                            break;
                        default: // None, Sub, Up, Average, Paeth by round
                            prev[i] = uchar(round == 3 ? noise / 2 + 40 : stripe ? band : round ? noise : 0);
                            row[i] = uchar(round == 1 ? 77
                                               : round == 3
                                               ? ((i >= bpp ? row[i - bpp] : 0) + prev[i]) / 2 + (noise & 1)
                                               : stripe ? band + 90
                                               : round  ? noise
                                                        : 0);
                        }
                    }
                    if (round == 0)
                        prev.assign(n, 0);
                    int type = -1;
                    const QString fault = filterFault(row, prev, bpp, &type);
                    QVERIFY2(fault.isEmpty() && (!wide || type == round),
                             qPrintable(QString::asprintf("bpp %zu, %zu bytes, round %d: filter %d ", bpp, n,
                                                          round, type)
                                        + fault));
                    typesSeen << type;
                }
            }
        }
        QVERIFY2(typesSeen.size() >= 2, "only one filter ever chosen");
    }
    void deflatePiecesJoinIntoTheOriginal_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("pieces");
        QTest::newRow("stored, level 0") << 0 << 200000 << 3;
        QTest::newRow("fastest, level 1") << 1 << 300000 << 4;
        QTest::newRow("level 6, one byte") << 6 << 1 << 1;
        QTest::newRow("level 6, tiny pieces") << 6 << 23 << 7;
        QTest::newRow("level 8, pieces of a MiB") << 8 << (3 << 20) << 3;
        QTest::newRow("level 9, uneven pieces") << 9 << 1000003 << 5;
    }
    // Compressed apart, joined into one stream zlib reads back exactly, and no
    // bigger than one run of zlib beyond what the restarts cost.
    void deflatePiecesJoinIntoTheOriginal()
    {
        QFETCH(int, level);
        QFETCH(int, bytes);
        QFETCH(int, pieces);
        const Bytes data = mixedContent(std::size_t(bytes), quint32(level * 1000 + pieces));
        std::vector<Bytes> deflated(static_cast<std::size_t>(pieces));
        std::size_t total = 0;
        for (std::size_t piece = 0; piece < deflated.size(); ++piece) {
            const std::size_t begin = data.size() * piece / deflated.size();
            const std::size_t end = data.size() * (piece + 1) / deflated.size();
            QVERIFY(deflateJoinablePiece(data.data() + begin, end - begin, level, &deflated[piece]));
            total += deflated[piece].size();
        }
        QVERIFY(joinInto(deflated, data.data(), data.size()));
        const std::size_t zlibs = zlibStream(data.data(), data.size(), level, Z_FILTERED).size();
        QVERIFY2(level < 6 || bytes < 100000 || total <= zlibs * 103 / 100,
                 qPrintable(QStringLiteral("%1 against %2").arg(total).arg(zlibs)));
    }
    // Fixed-code blocks of 0 to 40 literals end on every bit of a byte; bytes
    // after a stream's end are not part of the piece; a stream that does not
    // hold exactly its data is refused.
    void pieceEndingsAndRefusals()
    {
        Bytes noise(4000);
        QRandomGenerator random(7);
        for (uchar &byte : noise)
            byte = uchar(random.bounded(256));
        QSet<int> growths;
        for (std::size_t bytes = 0; bytes <= 40; ++bytes) {
            for (int strategy : {Z_FIXED, Z_HUFFMAN_ONLY, Z_DEFAULT_STRATEGY}) {
                Bytes first = zlibStream(noise.data(), bytes, 6, strategy);
                Bytes second = zlibStream(noise.data() + 100, 300, 6, strategy);
                const std::size_t before = first.size();
                QVERIFY(makeDeflatePieceJoinable(first, noise.data(), bytes));
                QVERIFY(makeDeflatePieceJoinable(second, noise.data() + 100, 300));
                // The stored block: four bytes, five when under three bits were free.
                growths << int(first.size() - before);
                Bytes expected(noise.begin(), noise.begin() + qsizetype(bytes));
                expected.insert(expected.end(), noise.begin() + 100, noise.begin() + 400);
                QVERIFY2(joinInto({first, second}, expected.data(), expected.size()),
                         qPrintable(QString::number(bytes)));
            }
        }
        QCOMPARE(growths, (QSet<int>{4, 5}));
        const Bytes data = mixedContent(20000, 3);
        Bytes trailed = zlibStream(data.data(), 500, 6, Z_DEFAULT_STRATEGY);
        trailed.insert(trailed.end(), {0xde, 0xad, 0xbe, 0xef});
        QVERIFY(makeDeflatePieceJoinable(trailed, data.data(), 500));
        QVERIFY(joinInto({trailed}, data.data(), 500));

        const Bytes good = zlibStream(data.data(), data.size(), 6, Z_DEFAULT_STRATEGY);
        const auto refused = [](Bytes stream, const Bytes &original, std::size_t bytes) {
            return !makeDeflatePieceJoinable(stream, original.data(), bytes);
        };
        Bytes changed = data, damaged = good;
        changed[12345] ^= 1;
        damaged[good.size() / 3] ^= 0x5a;
        QVERIFY(refused(good, changed, changed.size()));
        QVERIFY(refused(good, data, data.size() - 1)); // inflates to more
        QVERIFY(refused(Bytes(good.begin(), good.begin() + qsizetype(good.size() / 2)), data, data.size()));
        QVERIFY(refused(damaged, data, data.size()));
        QVERIFY(refused({}, data, 0));
    }
    // On a grainy sensor the long searches find nothing, so a fast level does;
    // on a clean one they pay and the level stays; never more than 1 % larger.
    void aCheaperLevelOnlyWhereItDoesNearlyAsWell()
    {
        const auto pieceSize = [](const Bytes &data, int level) {
            Bytes piece;
            return deflateJoinablePiece(data.data(), data.size(), level, &piece) ? piece.size() : 0;
        };
        // The rows as the PNG encoder feeds them to the deflater: filtered.
        const auto filtered = [](bool grainy) {
            const QByteArray rows
                = pngParts(qtsFile(turnedByHand(sensorPicture(grainy, 8192, 42), 0), "png", 6)).second;
            return Bytes(rows.begin(), rows.end());
        };
        const Bytes grainy = filtered(true), clean = filtered(false);
        QVERIFY(cheapestLevelNear(grainy.data(), grainy.size(), 9) <= 4);
        QCOMPARE(cheapestLevelNear(clean.data(), clean.size(), 9), 9);
        for (const Bytes *data : {&grainy, &clean}) {
            for (int level = 2; level <= 9; ++level) {
                const int chosen = cheapestLevelNear(data->data(), data->size(), level);
                const std::size_t asked = pieceSize(*data, level);
                QVERIFY2(chosen >= 2 && chosen <= level && pieceSize(*data, chosen) <= asked + asked / 100,
                         qPrintable(
                             QStringLiteral("%1, level %2: %3").arg(data == &grainy).arg(level).arg(chosen)));
            }
        }
        for (const int level : {0, 1})
            QCOMPARE(cheapestLevelNear(grainy.data(), grainy.size(), level), level);
        QCOMPARE(cheapestLevelNear(grainy.data(), 0, 9), 9);
    }
    void filesEqualQtsWriter_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("gray");
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<int>("scale");
        QTest::addColumn<int>("quality"); // the PNG level for PNG
        QTest::addColumn<int>("frames");  // 0 colour, 1 gray, 2 a grainy Mono8 sensor
        for (const char *format : {"JPG", "PNG", "TIFF", "BMP"})
            for (bool gray : {false, true})
                for (bool horizontal : {true, false})
                    QTest::addRow("%s %s %s", format, gray ? "gray" : "colour",
                                  horizontal ? "across" : "down")
                        << format << gray << horizontal << 1 << (format[0] == 'P' ? 6 : 90) << int(gray);
        QTest::newRow("JPG colour, quality 60") << "JPG" << false << true << 1 << 60 << 0;
        QTest::newRow("JPG gray, quality 99") << "JPG" << true << false << 1 << 99 << 1;
        // Another deflater at another level may do better on noise and worse
        // on regular content; at no level may a file grow 3 % past Qt's.
        for (int level = 0; level <= 9; ++level) {
            QTest::addRow("PNG colour, level %d", level) << "PNG" << false << true << 1 << level << 0;
            QTest::addRow("PNG gray, level %d", level) << "PNG" << true << true << 1 << level << 1;
        }
        // Large enough to be judged for a cheaper level.
        for (int level : {1, 8})
            QTest::addRow("PNG grainy Mono8, level %d", level) << "PNG" << false << false << 1 << level << 2;
        // Strips of several MiB: PNG deflates them in several pieces, TIFF
        // writes whole strips and the last one short, BMP the bottom one first.
        QTest::newRow("PNG colour across, large") << "PNG" << false << true << 8 << 6 << 0;
        QTest::newRow("PNG gray down, large") << "PNG" << true << false << 16 << 6 << 1;
        QTest::newRow("TIFF colour across, large") << "TIFF" << false << true << 8 << 90 << 0;
        QTest::newRow("TIFF gray across, large") << "TIFF" << true << true << 16 << 90 << 1;
        QTest::newRow("BMP colour across, large") << "BMP" << false << true << 8 << 90 << 0;
        // Gray frames in a colour BMP skip the swap of red and blue, and the
        // copy into file order where rows need no padding (scale 4).
        for (int scale : {1, 4})
            for (bool horizontal : {true, false})
                QTest::addRow("BMP gray frames in colour, %s, scale %d", horizontal ? "across" : "down",
                              scale)
                    << "BMP" << false << horizontal << scale << 90 << 1;
    }
    // Odd widths need BMP's row padding, heights beyond a strip the strip order.
    void filesEqualQtsWriter()
    {
        QFETCH(QString, format);
        QFETCH(bool, gray);
        QFETCH(bool, horizontal);
        QFETCH(int, scale);
        QFETCH(int, quality);
        QFETCH(int, frames);
        QList<QImage> drawn;
        const QImage grain = frames == 2 ? sensorPicture(true, 4096, 300) : QImage();
        for (int i = 0; i < (frames == 2 ? 2 : 3); ++i)
            drawn << (frames == 2
                          ? markedAsRgb(i ? grain.mirrored(true, false) : grain)
                          : patternFrame((horizontal ? 101 + 30 * i : 333) * scale,
                                         horizontal ? 700 - 50 * i : 233 + 20 * i,
                                         frames ? QImage::Format_Grayscale8 : QImage::Format_RGB888, i + 1));
        SegmentPicture picture;
        picture.gray = gray;
        picture.horizontal = horizontal;
        for (const QImage &frame : drawn)
            picture.append(frame);
        QImage canvas = canvasOf(drawn, 0, horizontal);
        // Qt's BMP writer copies row padding as it lies in memory: zeroed.
        canvas = gray ? canvas.convertToFormat(QImage::Format_Grayscale8) : canvas;
        for (int y = 0; gray && y < canvas.height(); ++y)
            std::memset(canvas.scanLine(y) + canvas.width(), 0,
                        size_t(canvas.bytesPerLine() - canvas.width()));
        picture.width = canvas.width();
        picture.height = canvas.height();
        if (!gray) {
            QCOMPARE(picture.channelsAlike(), frames != 0);
            SegmentPicture withColour = picture; // one colour frame needs the swap again
            withColour.append(patternFrame(8, 8, QImage::Format_RGB888, 4));
            QVERIFY(!withColour.channelsAlike());
        }
        const bool png = format == QLatin1String("PNG");
        const QString extension = format == QLatin1String("TIFF") ? "tif" : format.toLower();
        QString reason, written;
        QVERIFY2(writeSegmentFile(path("ours." + extension), picture, imageFormatFromSetting(format),
                                  png ? 90 : quality, png ? quality : 6, &reason, &written),
                 qPrintable(reason));
        const QByteArray qts = qtsFile(canvas, extension, quality);
        QFile file(written);
        const QByteArray ours = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        QVERIFY(file.remove() && (png || ours == qts));
        if (!png)
            return;
        // Deflated apart, the compressed bytes differ; chunks and filtered rows do not.
        const auto expected = pngParts(qts);
        const auto actual = pngParts(ours);
        QCOMPARE(actual.first, expected.first);
        QVERIFY(!expected.second.isEmpty() && actual.second == expected.second);
        QVERIFY(ours.size() <= qts.size() * 103 / 100);
        const QString fault = difference(QImage::fromData(ours), canvas);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }
    // A batch mixing pixel kinds is refused whole, naming the frame. 16-bit
    // frame files read back as such, and a file list of them stays 16-bit
    // only when asked.
    void mixedBatchesFailAndFileListsKeepDepthWhenAsked()
    {
        QImage deep(8, 4, QImage::Format_Grayscale16);
        for (int p = 0; p < 32; ++p)
            reinterpret_cast<quint16 *>(deep.scanLine(p / 8))[p % 8] = quint16(p % 8 * 500 + p / 8);
        const QImage twelve = withSignificantBits(deep, 12);
        StitchWorker worker;
        StitchRecorder recorder(worker);
        const QString folder = path("mixed");
        worker.saveStitchImages({twelve, twelve, QImage(8, 4, QImage::Format_Grayscale8)}, 0, folder, "", "",
                                5, "PNG", 90, 6);
        worker.saveStitchImages({twelve, withSignificantBits(deep, 16)}, 2, folder, "", "", 0, "TIFF", 90, 6);
        QCOMPARE(
            recorder.events,
            QStringList({"failed Batch 5 mixes pixel kinds and was not saved: frame 3 is 8-bit gray, frame 1 "
                         "16-bit gray of 12 significant bits.",
                         "failed The image mixes pixel kinds and was not saved: frame 2 is 16-bit gray of 16 "
                         "significant bits, frame 1 16-bit gray of 12 significant bits."}));
        QVERIFY(entriesOf(folder).isEmpty());

        worker.saveStitchImages({twelve}, 0, folder, "", "", 1, "PNG", 90, 6);
        const QString file = recorder.files().value(0);
        for (bool keep : {true, false}) {
            worker.setKeepCameraPixels(keep);
            worker.saveStitch({file, file}, 0, folder, "", "", "PNG", 90, 6);
            const DecodedFile joined = decodeFile(recorder.files().value(0));
            QCOMPARE(QVector<int>({joined.width, joined.channels, joined.depth, joined.sbit}),
                     keep ? QVector<int>({16, 1, 16, 12}) : QVector<int>({16, 3, 8, 0}));
            for (int p = 0; p < 64; ++p) // the old way when not asked: Qt's scaling to 8 bits, in RGB
                QCOMPARE(joined.samples[size_t(p)],
                         keep ? p % 8 * 500 + p / 16 : qRound((p % 8 * 500 + p / 16) / 257.));
        }
    }
};

QTEST_GUILESS_MAIN(TestEncoders)
#include "tst_encoders.moc"
