// Deflate pieces compressed apart must join into one stream that zlib's
// inflate, the decoder every PNG reader rests on, reads back exactly: at
// every compression level, with every kind of block, whatever bit the last
// block ends on, and never when a piece does not hold what it should.
#include <QRandomGenerator>
#include <QtTest>

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "deflatepiece.h"
#include "pngfilter.h"

namespace {

// Noise, flat runs and repeated text: stored, fixed and dynamic blocks all
// have something to do.
std::vector<uchar> mixedContent(std::size_t bytes, quint32 seed)
{
    QRandomGenerator random(seed);
    std::vector<uchar> data(bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        switch ((i / 4096) % 3) {
        case 0:
            data[i] = uchar(128 + int(random.bounded(25)) - 12);
            break;
        case 1:
            data[i] = uchar(i / 10000);
            break;
        default:
            data[i] = uchar("line scan camera "[i % 17]);
        }
    }
    return data;
}

// The pieces joined and closed by an empty final fixed block, inflated as
// one raw stream; empty when the stream is not valid or does not end there.
std::vector<uchar> inflateJoined(const std::vector<std::vector<uchar>> &pieces, std::size_t expectedBytes)
{
    std::vector<uchar> joined;
    for (const std::vector<uchar> &piece : pieces)
        joined.insert(joined.end(), piece.begin(), piece.end());
    joined.push_back(0x03);
    joined.push_back(0x00);

    std::vector<uchar> out(expectedBytes + 16);
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, -15) != Z_OK)
        return {};
    stream.next_in = joined.data();
    stream.avail_in = uInt(joined.size());
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const bool whole = result == Z_STREAM_END && stream.avail_in == 0;
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return whole ? out : std::vector<uchar>{};
}

// A complete raw stream made by zlib with the given level and strategy.
std::vector<uchar> zlibStream(const uchar *data, std::size_t bytes, int level, int strategy)
{
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy) != Z_OK)
        return {};
    std::vector<uchar> out(deflateBound(&stream, uLong(bytes)) + 16);
    stream.next_in = const_cast<uchar *>(data);
    stream.avail_in = uInt(bytes);
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(out.size() - stream.avail_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : std::vector<uchar>{};
}

} // namespace

class DeflatePieceTest : public QObject
{
    Q_OBJECT

private slots:
    void piecesJoinIntoTheOriginal_data();
    void piecesJoinIntoTheOriginal();
    void everyEndingBitJoins();
    void aPieceThatDoesNotHoldItsDataIsRefused();
    void aCheaperLevelOnlyWhereItDoesNearlyAsWell();
};

void DeflatePieceTest::piecesJoinIntoTheOriginal_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("pieces");
    QTest::newRow("stored, level 0") << 0 << 200000 << 3;
    QTest::newRow("fastest, level 1") << 1 << 300000 << 4;
    QTest::newRow("level 6") << 6 << 1 << 1;
    QTest::newRow("level 6, tiny pieces") << 6 << 23 << 7;
    QTest::newRow("level 8, pieces of a MiB") << 8 << (3 << 20) << 3;
    QTest::newRow("level 9, uneven pieces") << 9 << 1000003 << 5;
}

void DeflatePieceTest::piecesJoinIntoTheOriginal()
{
    QFETCH(int, level);
    QFETCH(int, bytes);
    QFETCH(int, pieces);
    const std::vector<uchar> data = mixedContent(std::size_t(bytes), quint32(level * 1000 + pieces));
    std::vector<std::vector<uchar>> deflated(static_cast<std::size_t>(pieces));
    for (int piece = 0; piece < pieces; ++piece) {
        const std::size_t begin = std::size_t(bytes) * std::size_t(piece) / std::size_t(pieces);
        const std::size_t end = std::size_t(bytes) * std::size_t(piece + 1) / std::size_t(pieces);
        QVERIFY(deflateJoinablePiece(data.data() + begin, end - begin, level, &deflated[std::size_t(piece)]));
    }
    QVERIFY(inflateJoined(deflated, data.size()) == data);

    // And no bigger than a single run of zlib at the same level, beyond
    // what the restarts cost.
    if (level >= 6 && bytes > 100000) {
        std::size_t ours = 0;
        for (const std::vector<uchar> &piece : deflated)
            ours += piece.size();
        const std::size_t zlibs = zlibStream(data.data(), data.size(), std::min(level, 9), Z_FILTERED).size();
        QVERIFY2(ours <= zlibs * 103 / 100, qPrintable(QStringLiteral("%1 against %2").arg(ours).arg(zlibs)));
    }
}

// Fixed-code blocks of 0 to 40 literals of 8 and 9 bits end on every bit of
// a byte.
void DeflatePieceTest::everyEndingBitJoins()
{
    std::vector<uchar> data(4000);
    QRandomGenerator random(7);
    for (uchar &byte : data)
        byte = uchar(random.bounded(256));
    QSet<int> endings;
    for (int bytes = 0; bytes <= 40; ++bytes) {
        for (int strategy : {Z_FIXED, Z_HUFFMAN_ONLY, Z_DEFAULT_STRATEGY}) {
            std::vector<uchar> first = zlibStream(data.data(), std::size_t(bytes), 6, strategy);
            std::vector<uchar> second = zlibStream(data.data() + 100, 300, 6, strategy);
            QVERIFY(!first.empty() && !second.empty());
            const std::size_t before = first.size();
            QVERIFY2(makeDeflatePieceJoinable(first, data.data(), std::size_t(bytes)),
                     qPrintable(QString::number(bytes)));
            QVERIFY(makeDeflatePieceJoinable(second, data.data() + 100, 300));
            // A piece grows by the stored block: four bytes, or five when
            // fewer than three bits of its last byte were free.
            const std::size_t grown = first.size() - before;
            QVERIFY2(grown == 4 || grown == 5, qPrintable(QString::number(grown)));
            endings << int(grown);
            std::vector<uchar> expected(data.begin(), data.begin() + bytes);
            expected.insert(expected.end(), data.begin() + 100, data.begin() + 400);
            QVERIFY2(inflateJoined({first, second}, expected.size()) == expected,
                     qPrintable(QString::number(bytes)));
        }
    }
    QCOMPARE(endings, (QSet<int>{4, 5}));

    // Bytes after a stream's end are not part of the piece.
    std::vector<uchar> trailed = zlibStream(data.data(), 500, 6, Z_DEFAULT_STRATEGY);
    trailed.insert(trailed.end(), {0xde, 0xad, 0xbe, 0xef});
    QVERIFY(makeDeflatePieceJoinable(trailed, data.data(), 500));
    QVERIFY(inflateJoined({trailed}, 500) == std::vector<uchar>(data.begin(), data.begin() + 500));
}

void DeflatePieceTest::aPieceThatDoesNotHoldItsDataIsRefused()
{
    const std::vector<uchar> data = mixedContent(20000, 3);
    const std::vector<uchar> good = zlibStream(data.data(), data.size(), 6, Z_DEFAULT_STRATEGY);

    std::vector<uchar> changedData = data;
    changedData[12345] ^= 1;
    std::vector<uchar> stream = good;
    QVERIFY(!makeDeflatePieceJoinable(stream, changedData.data(), changedData.size()));

    stream = good;
    QVERIFY(!makeDeflatePieceJoinable(stream, data.data(), data.size() - 1)); // inflates to more

    stream = std::vector<uchar>(good.begin(), good.begin() + qsizetype(good.size() / 2));
    QVERIFY(!makeDeflatePieceJoinable(stream, data.data(), data.size())); // cut short

    stream = good;
    stream[good.size() / 3] ^= 0x5a;
    QVERIFY(!makeDeflatePieceJoinable(stream, data.data(), data.size())); // damaged

    stream.clear();
    QVERIFY(!makeDeflatePieceJoinable(stream, data.data(), 0));
}

namespace {

// A MiB of PNG rows as a Mono8 line-scan camera's saved picture holds them:
// a gradient with noise, gray widened to RGB, filtered. grainy picks uniform
// noise of +-12 levels (a grainy sensor) or nearly Gaussian noise of about
// one level (a clean one on a smooth scene).
std::vector<uchar> filteredSensorRows(bool grainy)
{
    const std::size_t rowBytes = 3 * 8192;
    const int rows = 42;
    QRandomGenerator random(grainy ? 5 : 6);
    std::vector<uchar> raw(rowBytes * rows), filtered((rowBytes + 1) * rows), zeros(rowBytes, 0);
    for (int y = 0; y < rows; ++y) {
        for (std::size_t x = 0; x < rowBytes / 3; ++x) {
            int noise = 0;
            if (grainy) {
                noise = int(random.bounded(25)) - 12;
            } else {
                for (int k = 0; k < 4; ++k)
                    noise += int(random.bounded(256)) - 128;
                noise /= 148;
            }
            const uchar v = uchar(std::clamp(int((x + std::size_t(y)) / 2 % 256) + noise, 0, 255));
            std::memset(&raw[std::size_t(y) * rowBytes + 3 * x], v, 3);
        }
        filterPngRow(&raw[std::size_t(y) * rowBytes],
                     y == 0 ? zeros.data() : &raw[std::size_t(y - 1) * rowBytes], rowBytes, 3,
                     &filtered[std::size_t(y) * (rowBytes + 1)]);
    }
    return filtered;
}

std::size_t compressedSize(const std::vector<uchar> &data, int level)
{
    std::vector<uchar> piece;
    return deflateJoinablePiece(data.data(), data.size(), level, &piece) ? piece.size() : 0;
}

} // namespace

void DeflatePieceTest::aCheaperLevelOnlyWhereItDoesNearlyAsWell()
{
    const std::vector<uchar> grainy = filteredSensorRows(true);
    const std::vector<uchar> clean = filteredSensorRows(false);

    // On grain the long searches find nothing: a fast level does as well.
    QVERIFY2(cheapestLevelNear(grainy.data(), grainy.size(), 9) <= 4,
             qPrintable(QString::number(cheapestLevelNear(grainy.data(), grainy.size(), 9))));
    // On a clean sensor they pay several per cent: the level stays.
    QCOMPARE(cheapestLevelNear(clean.data(), clean.size(), 9), 9);

    for (const std::vector<uchar> *data : {&grainy, &clean}) {
        for (int level = 2; level <= 9; ++level) {
            const int chosen = cheapestLevelNear(data->data(), data->size(), level);
            const QString label = QStringLiteral("%1, level %2: %3")
                                      .arg(data == &grainy ? "grainy" : "clean")
                                      .arg(level)
                                      .arg(chosen);
            QVERIFY2(chosen >= 2 && chosen <= level, qPrintable(label));
            const std::size_t asked = compressedSize(*data, level);
            QVERIFY2(compressedSize(*data, chosen) <= asked + asked / 100, qPrintable(label));
        }
    }

    // Nothing cheaper to try, or nothing to judge by.
    for (const int level : {0, 1})
        QCOMPARE(cheapestLevelNear(grainy.data(), grainy.size(), level), level);
    QCOMPARE(cheapestLevelNear(grainy.data(), 0, 9), 9);
}

QTEST_GUILESS_MAIN(DeflatePieceTest)
#include "tst_deflatepiece.moc"
