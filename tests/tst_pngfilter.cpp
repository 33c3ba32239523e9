// The row filter must pick the filter libpng would and filter the row so
// that a PNG reader undoes it exactly: for every row length around the
// vector width, one and three bytes a pixel, and rows built so that each of
// the five filters wins, ties included.
#include <QRandomGenerator>
#include <QtTest>

#include <cstdlib>
#include <vector>

#include "pngfilter.h"

namespace {

using Row = std::vector<uchar>;

int paeth(int a, int b, int c)
{
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// The predictor of byte i under a filter type, as the PNG format defines
// it; row holds the unfiltered bytes before i.
int predictor(int type, const Row &row, const Row &prev, std::size_t i, std::size_t bpp)
{
    const int a = i >= bpp ? row[i - bpp] : 0;
    const int b = prev[i];
    const int c = i >= bpp ? prev[i - bpp] : 0;
    const int predictors[] = {0, a, b, (a + b) / 2, paeth(a, b, c)};
    return predictors[type];
}

// The filter written from the format byte by byte.
Row filteredBy(int type, const Row &row, const Row &prev, std::size_t bpp)
{
    Row out(row.size());
    for (std::size_t i = 0; i < row.size(); ++i)
        out[i] = uchar(row[i] - predictor(type, row, prev, i, bpp));
    return out;
}

long signedSum(const Row &bytes)
{
    long sum = 0;
    for (const uchar v : bytes)
        sum += std::abs(int(static_cast<signed char>(v)));
    return sum;
}

// What libpng chooses among all five filters.
int expectedType(const Row &row, const Row &prev, std::size_t bpp)
{
    int best = 0;
    for (int type = 1; type < 5; ++type) {
        if (signedSum(filteredBy(type, row, prev, bpp)) < signedSum(filteredBy(best, row, prev, bpp)))
            best = type;
    }
    return best;
}

// A reader's side: the row back from its filtered bytes.
Row unfiltered(const uchar *filtered, std::size_t n, const Row &prev, std::size_t bpp)
{
    Row row(n);
    for (std::size_t i = 0; i < n; ++i)
        row[i] = uchar(filtered[i + 1] + predictor(filtered[0], row, prev, i, bpp));
    return row;
}

Row randomRow(QRandomGenerator &random, std::size_t n)
{
    Row row(n);
    for (uchar &v : row)
        v = uchar(random.bounded(256));
    return row;
}

} // namespace

class PngFilterTest : public QObject
{
    Q_OBJECT

private slots:
    void matchesTheSpecificationAndLibpngsChoice_data();
    void matchesTheSpecificationAndLibpngsChoice();
    void eachFilterWinsWhereItShould();
};

void PngFilterTest::matchesTheSpecificationAndLibpngsChoice_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("random bytes") << 0;
    QTest::newRow("smooth with noise") << 1;
    QTest::newRow("gray widened to colour") << 2;
    QTest::newRow("extremes 0 and 255") << 3;
}

void PngFilterTest::matchesTheSpecificationAndLibpngsChoice()
{
    QFETCH(int, kind);
    QRandomGenerator random(quint32(17 + kind));
    QMap<int, int> typesSeen;
    for (const std::size_t bpp : {std::size_t(1), std::size_t(3)}) {
        for (std::size_t n = bpp; n <= 120; n += bpp) {
            for (int round = 0; round < 6; ++round) {
                Row row(n), prev(n);
                for (std::size_t i = 0; i < n; ++i) {
                    const std::size_t pixel = i / bpp;
                    switch (kind) {
                    case 0:
                        row[i] = uchar(random.bounded(256));
                        prev[i] = uchar(random.bounded(256));
                        break;
                    case 1:
                        row[i] = uchar(int(pixel * (round + 1)) + int(random.bounded(9)));
                        prev[i] = uchar(int(pixel * (round + 1)) + round * 3 + int(random.bounded(9)));
                        break;
                    case 2:
                        row[i] = i % 3 == 0 ? uchar(random.bounded(256)) : row[i - i % 3];
                        prev[i] = i % 3 == 0 ? uchar(row[i] + random.bounded(5)) : prev[i - i % 3];
                        break;
                    default:
                        row[i] = random.bounded(2) ? 255 : 0;
                        prev[i] = random.bounded(2) ? 255 : 0;
                    }
                }
                if (round == 0)
                    prev.assign(n, 0); // the first row of a picture
                Row out(n + 1, 0xAB);
                filterPngRow(row.data(), prev.data(), n, bpp, out.data());
                const QString label = QStringLiteral("bpp %1, %2 bytes, round %3").arg(bpp).arg(n).arg(round);
                const int expected = expectedType(row, prev, bpp);
                QVERIFY2(out[0] == expected,
                         qPrintable(label + QStringLiteral(": filter %1, not %2").arg(out[0]).arg(expected)));
                QVERIFY2(Row(out.begin() + 1, out.end()) == filteredBy(expected, row, prev, bpp),
                         qPrintable(label));
                QVERIFY2(unfiltered(out.data(), n, prev, bpp) == row, qPrintable(label));
                ++typesSeen[out[0]];
            }
        }
    }
    // Random rows leave None or Paeth, structured ones more; each kind must
    // at least have tried the vector path with two different filters.
    QVERIFY2(typesSeen.size() >= 2, qPrintable(QStringLiteral("only filter %1").arg(typesSeen.firstKey())));
}

// Long rows, so that almost every byte goes through the vector path.
void PngFilterTest::eachFilterWinsWhereItShould()
{
    const std::size_t n = 3 * 1000 + 2;
    for (const std::size_t bpp : {std::size_t(1), std::size_t(3)}) {
        QRandomGenerator random(99);
        const Row noise = randomRow(random, n);
        Row flat(n, 77), blend(n), zeros(n, 0);
        for (std::size_t i = 0; i < n; ++i)
            blend[i] = uchar(noise[i] / 2 + 40);
        // Stretches of vertical stripes (Up predicts them) and of flat
        // bands (Sub predicts them) in turn: only Paeth predicts both.
        Row stripesAbove(n), stripes(n), averageRow(n);
        for (std::size_t i = 0; i < n; ++i) {
            const bool vertical = (i / 64) % 2 == 0;
            stripesAbove[i] = vertical ? noise[i] : uchar(i / 64 * 40);
            stripes[i] = vertical ? noise[i] : uchar(i / 64 * 40 + 90);
        }
        for (std::size_t i = 0; i < n; ++i) {
            const int left = i >= bpp ? averageRow[i - bpp] : 0;
            averageRow[i] = uchar((left + blend[i]) / 2 + (noise[i] & 1));
        }
        struct Case {
            const char *name;
            const Row &row;
            const Row &prev;
            int type;
        };
        const Case cases[] = {
            {"flat first row: None and Sub tie at no cost, None wins", zeros, zeros, 0},
            {"flat row under noise: Sub", flat, noise, 1},
            {"noise under the same noise: Up", noise, noise, 2},
            {"each byte the mean of left and above: Average", averageRow, blend, 3},
            {"vertical stripes and flat bands in turn: Paeth", stripes, stripesAbove, 4},
        };
        for (const Case &c : cases) {
            Row out(n + 1);
            filterPngRow(c.row.data(), c.prev.data(), n, bpp, out.data());
            const QString label = QStringLiteral("%1, bpp %2").arg(c.name).arg(bpp);
            QCOMPARE(int(out[0]), expectedType(c.row, c.prev, bpp));
            QVERIFY2(out[0] == c.type, qPrintable(label + QStringLiteral(": got %1").arg(out[0])));
            QVERIFY2(unfiltered(out.data(), n, c.prev, bpp) == c.row, qPrintable(label));
        }
    }
}

QTEST_GUILESS_MAIN(PngFilterTest)
#include "tst_pngfilter.moc"
