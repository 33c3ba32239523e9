#include "flatfield.h"

#include <QDataStream>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// Raw frames arrive as bytes; their 16-bit samples are read in place.
typedef std::uint16_t __attribute__((may_alias)) Word;

constexpr char kMagic[8] = {'C', 'V', 'F', 'F', 'R', 'E', 'F', '\n'};
constexpr quint32 kVersion = 1;
// Magic, version, pixel type, width, channels, bits, enabled, target, two
// dates, two presence flags.
constexpr qsizetype kHeaderBytes = 8 + 4 * 5 + 1 + 8 + 8 * 2 + 1 * 2;
constexpr qsizetype kCheckBytes = 4;

/*
 * Byte samples: every step fits 16 bits. GCC does not see the high-half
 * multiply in the plain loop (it widens to 32 bits and packs back, four times
 * the work), so the vector paths spell it out: shift, subtract, high-half
 * multiply, and a pack whose saturation is the clamp. The plain loop does the
 * tail and every other processor.
 */
void correctBytesTail(const std::uint8_t *in, std::uint8_t *out, const std::int16_t *gain,
                      const std::int16_t *offset, int from, int count)
{
    for (int i = from; i < count; ++i) {
        const std::int16_t scaled = std::int16_t((in[i] << FlatFieldCorrection::kByteInputShift) - offset[i]);
        const std::int16_t value = std::int16_t((std::int32_t(scaled) * gain[i]) >> 16);
        out[i] = std::uint8_t(value < 0 ? 0 : value > 255 ? 255 : value);
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void correctBytesAvx2(const std::uint8_t *in, std::uint8_t *out,
                                                      const std::int16_t *gain, const std::int16_t *offset,
                                                      int count)
{
    int i = 0;
    for (; i + 32 <= count; i += 32) {
        __m256i low = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i)));
        __m256i high = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i + 16)));
        low = _mm256_sub_epi16(_mm256_slli_epi16(low, FlatFieldCorrection::kByteInputShift),
                               _mm256_loadu_si256(reinterpret_cast<const __m256i *>(offset + i)));
        high = _mm256_sub_epi16(_mm256_slli_epi16(high, FlatFieldCorrection::kByteInputShift),
                                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(offset + i + 16)));
        low = _mm256_mulhi_epi16(low, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(gain + i)));
        high = _mm256_mulhi_epi16(high, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(gain + i + 16)));
        // The pack interleaves the two 128-bit halves; the permute puts them back in order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), packed);
    }
    correctBytesTail(in, out, gain, offset, i, count);
}

void correctBytesSse2(const std::uint8_t *in, std::uint8_t *out, const std::int16_t *gain,
                      const std::int16_t *offset, int count)
{
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        __m128i low = _mm_unpacklo_epi8(bytes, zero);
        __m128i high = _mm_unpackhi_epi8(bytes, zero);
        low = _mm_sub_epi16(_mm_slli_epi16(low, FlatFieldCorrection::kByteInputShift),
                            _mm_loadu_si128(reinterpret_cast<const __m128i *>(offset + i)));
        high = _mm_sub_epi16(_mm_slli_epi16(high, FlatFieldCorrection::kByteInputShift),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(offset + i + 8)));
        low = _mm_mulhi_epi16(low, _mm_loadu_si128(reinterpret_cast<const __m128i *>(gain + i)));
        high = _mm_mulhi_epi16(high, _mm_loadu_si128(reinterpret_cast<const __m128i *>(gain + i + 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(low, high));
    }
    correctBytesTail(in, out, gain, offset, i, count);
}
#endif

void correctBytes(const std::uint8_t *in, std::uint8_t *out, const std::int16_t *gain,
                  const std::int16_t *offset, int count)
{
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        correctBytesAvx2(in, out, gain, offset, count);
    else
        correctBytesSse2(in, out, gain, offset, count);
#else
    correctBytesTail(in, out, gain, offset, 0, count);
#endif
}

/*
 * 16-bit samples: a sample below 2^16 times a gain below 2^15 stays below
 * 2^31, so the sum with the (negative) bias is an exact int32. The plain loop
 * vectorises well with AVX2's 32-bit multiply; a clone for it is picked at
 * load time where the processor has it.
 */
__attribute__((target_clones("avx2", "default"))) void correctWords(const Word *in, Word *out,
                                                                    const std::uint16_t *gain,
                                                                    const std::int32_t *bias, int count,
                                                                    std::int32_t maxValue)
{
    for (int i = 0; i < count; ++i) {
        std::int32_t value = (std::int32_t(std::uint32_t(in[i]) * std::uint32_t(gain[i])) + bias[i])
            >> FlatFieldCorrection::kWideShift;
        value = value < 0 ? 0 : value;
        value = value > maxValue ? maxValue : value;
        out[i] = Word(value);
    }
}

qint64 dateField(const QDateTime &date)
{
    return date.isValid() ? date.toMSecsSinceEpoch() : 0;
}

QDateTime dateFromField(qint64 field)
{
    return field == 0 ? QDateTime() : QDateTime::fromMSecsSinceEpoch(field, Qt::UTC);
}

quint32 checksum(const char *data, qsizetype length)
{
    return quint32(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(data), uInt(length)));
}

} // namespace

/* Any thread. */
FlatFieldStage flatFieldStageOf(MvGvspPixelType type)
{
    switch (type) {
    case 0:
        return FlatFieldStage::None;
    case PixelType_Gvsp_Mono8:
    case PixelType_Gvsp_Mono10:
    case PixelType_Gvsp_Mono12:
    case PixelType_Gvsp_Mono16:
    case PixelType_Gvsp_RGB8_Packed:
    case PixelType_Gvsp_BGR8_Packed:
        return FlatFieldStage::RawFrame;
    default:
        return FlatFieldStage::ConvertedImage;
    }
}

/* Any thread. */
FlatFieldLayout flatFieldLayoutOf(MvGvspPixelType type, int width)
{
    switch (type) {
    case PixelType_Gvsp_Mono8:
        return {width, 1, 8};
    case PixelType_Gvsp_Mono10:
        return {width, 1, 10};
    case PixelType_Gvsp_Mono12:
        return {width, 1, 12};
    case PixelType_Gvsp_Mono16:
        return {width, 1, 16};
    default:
        return flatFieldStageOf(type) == FlatFieldStage::None ? FlatFieldLayout()
                                                              : FlatFieldLayout{width, 3, 8};
    }
}

/* A mean of wantedLines lines (at least 1) of layout, nothing summed yet. Any thread. */
FlatFieldAverager::FlatFieldAverager(const FlatFieldLayout &layout, int wantedLines)
    : m_layout(layout), m_wanted(std::max(wantedLines, 1)),
      m_sums(std::size_t(std::max(layout.samples(), 0)), 0)
{ }

/*
 * Adds lines of the averager's layout, the first at firstLine and the others
 * stride bytes apart, until it holds wantedLines(); the rest are ignored. The
 * thread that owns the averager.
 */
void FlatFieldAverager::add(const unsigned char *firstLine, int count, qsizetype stride)
{
    const int samples = m_layout.samples();
    for (int line = 0; line < count && !complete(); ++line, ++m_lines) {
        const unsigned char *data = firstLine + qsizetype(line) * stride;
        std::uint64_t *sums = m_sums.data();
        if (m_layout.wide()) {
            const Word *words = reinterpret_cast<const Word *>(data);
            for (int i = 0; i < samples; ++i)
                sums[i] += words[i];
        } else {
            for (int i = 0; i < samples; ++i)
                sums[i] += data[i];
        }
    }
}

/* Each sample's mean over the lines added so far (0 before any). Any thread. */
std::vector<float> FlatFieldAverager::mean() const
{
    std::vector<float> result(m_sums.size(), 0.0f);
    if (m_lines == 0)
        return result;
    for (std::size_t i = 0; i < m_sums.size(); ++i)
        result[i] = float(double(m_sums[i]) / m_lines);
    return result;
}

/* Any thread. */
bool isDeadSample(float dark, float white, int maxValue)
{
    return double(white) - double(dark) < (double(maxValue) + 1.0) / 16.0;
}

/* Any thread. */
double whiteReferenceMean(const FlatFieldReference &reference)
{
    if (!reference.hasWhite())
        return 0;
    const int maxValue = reference.layout.maxValue();
    double sum = 0;
    std::size_t live = 0;
    for (std::size_t i = 0; i < reference.white.size(); ++i) {
        const float dark = reference.dark.empty() ? 0.0f : reference.dark[i];
        if (isDeadSample(dark, reference.white[i], maxValue))
            continue;
        sum += reference.white[i];
        ++live;
    }
    return live > 0 ? sum / double(live) : 0;
}

/* Any thread. */
double effectiveTarget(const FlatFieldReference &reference)
{
    const double target = reference.target > 0 ? reference.target : whiteReferenceMean(reference);
    return std::clamp(target, 0.0, double(reference.layout.maxValue()));
}

/*
 * The fixed-point correction of a reference with a white level: per sample
 * gain = target / (white - dark) and bias = -dark * gain; samples whose white
 * minus dark is too small to trust keep gain 1 and bias 0, and their columns
 * are listed as dead. A reference without white gives an empty correction.
 * Any thread.
 */
FlatFieldCorrection flatFieldCorrection(const FlatFieldReference &reference)
{
    FlatFieldCorrection correction;
    if (!reference.hasWhite() || !reference.layout.isValid())
        return correction;
    correction.pixelType = reference.pixelType;
    correction.layout = reference.layout;
    const std::size_t samples = std::size_t(reference.layout.samples());
    const int channels = reference.layout.channels;
    const int maxValue = reference.layout.maxValue();
    const bool wide = reference.layout.wide();
    const double target = effectiveTarget(reference);
    const double input = double(1 << FlatFieldCorrection::kByteInputShift);
    const double byteOne = double(1 << FlatFieldCorrection::kByteGainShift);
    const double wideOne = double(1 << FlatFieldCorrection::kWideShift);
    if (wide) {
        correction.wideGain.resize(samples);
        correction.wideBias.resize(samples);
    } else {
        correction.byteGain.resize(samples);
        correction.byteOffset.resize(samples);
    }
    for (std::size_t i = 0; i < samples; ++i) {
        double dark = reference.dark.empty() ? 0.0 : double(reference.dark[i]);
        const double white = reference.white[i];
        // White minus dark is at least 1/16 of the range and the target at
        // most the range, so gains stay below 16: 2^14 in the byte lanes,
        // 2^15 in the wide ones. A target of 0 still leaves a gain of 1/255
        // at least, whose rounding offset also fits 16 bits.
        double gain = std::max(target, 1.0) / (white - dark);
        if (isDeadSample(float(dark), float(white), maxValue)) {
            const int column = int(i) / channels;
            if (correction.deadColumns.empty() || correction.deadColumns.back() != column)
                correction.deadColumns.push_back(column);
            gain = 1;
            dark = 0;
        }
        if (wide) {
            const double scaled = std::min(std::round(gain * wideOne), 32767.0);
            correction.wideGain[i] = std::uint16_t(scaled);
            correction.wideBias[i] = std::int32_t(std::lround(-dark * scaled + wideOne / 2));
        } else {
            correction.byteGain[i] = std::int16_t(std::min(std::round(gain * byteOne), 32767.0));
            correction.byteOffset[i] = std::int16_t(std::lround(dark * input - input / (2 * gain)));
        }
    }
    return correction;
}

/* Any thread; in and out hold a line of correction.layout each. */
void correctFlatFieldLine(const FlatFieldCorrection &correction, const unsigned char *in, unsigned char *out)
{
    const int samples = correction.layout.samples();
    if (correction.layout.wide())
        correctWords(reinterpret_cast<const Word *>(in), reinterpret_cast<Word *>(out),
                     correction.wideGain.data(), correction.wideBias.data(), samples,
                     correction.layout.maxValue());
    else
        correctBytes(in, out, correction.byteGain.data(), correction.byteOffset.data(), samples);
}

/* Any thread; lines of correction.layout, stride bytes apart in both buffers. */
void correctFlatFieldLines(const FlatFieldCorrection &correction, const unsigned char *in, unsigned char *out,
                           int lines, qsizetype stride)
{
    for (int line = 0; line < lines; ++line)
        correctFlatFieldLine(correction, in + qsizetype(line) * stride, out + qsizetype(line) * stride);
}

/*
 * The stored form, little-endian: the 8-byte magic "CVFFREF\n", version (u32),
 * pixel type, width, channels, bits (u32 each), enabled (u8), target (f64,
 * 0 = white mean), dark and white capture dates (i64 ms since the epoch, UTC;
 * 0 = none), whether dark and white follow (u8 each), then the dark and white
 * means present (f32 per sample, width x channels each) and a CRC-32 of all
 * bytes before it. Any thread.
 */
QByteArray flatFieldFileBytes(const FlatFieldReference &reference)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::DoublePrecision);
    out.writeRawData(kMagic, sizeof kMagic);
    out << kVersion << reference.pixelType << quint32(reference.layout.width)
        << quint32(reference.layout.channels) << quint32(reference.layout.bits) << quint8(reference.enabled)
        << reference.target << dateField(reference.darkCaptured) << dateField(reference.whiteCaptured)
        << quint8(!reference.dark.empty()) << quint8(reference.hasWhite());
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    for (const std::vector<float> *values : {&reference.dark, &reference.white})
        for (float value : *values)
            out << value;
    out << checksum(bytes.constData(), bytes.size());
    return bytes;
}

/* Any thread. */
bool readFlatFieldFile(const QByteArray &bytes, FlatFieldReference *reference, QString *problem)
{
    const auto refuse = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return false;
    };
    if (bytes.size() < qsizetype(sizeof kMagic) || std::memcmp(bytes.constData(), kMagic, sizeof kMagic) != 0)
        return refuse(QStringLiteral("not a flat-field reference file"));
    if (bytes.size() < kHeaderBytes + kCheckBytes)
        return refuse(QStringLiteral("the file is cut short"));
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::LittleEndian);
    in.setFloatingPointPrecision(QDataStream::DoublePrecision);
    in.skipRawData(sizeof kMagic);
    quint32 version = 0, pixelType = 0, width = 0, channels = 0, bits = 0;
    quint8 enabled = 0, hasDark = 0, hasWhite = 0;
    double target = 0;
    qint64 darkDate = 0, whiteDate = 0;
    in >> version >> pixelType >> width >> channels >> bits >> enabled >> target >> darkDate >> whiteDate
        >> hasDark >> hasWhite;
    if (version != kVersion)
        return refuse(QStringLiteral("version %1 of the file is not known").arg(version));
    const FlatFieldLayout layout{int(std::min<quint32>(width, 1u << 20)), int(channels), int(bits)};
    if (!layout.isValid() || width > (1u << 20))
        return refuse(QStringLiteral("the file describes no usable line"));
    const qsizetype samples = layout.samples();
    const qsizetype expected
        = kHeaderBytes + (qsizetype(hasDark != 0) + qsizetype(hasWhite != 0)) * samples * 4 + kCheckBytes;
    if (bytes.size() < expected)
        return refuse(QStringLiteral("the file is cut short"));
    if (bytes.size() > expected)
        return refuse(QStringLiteral("the file is longer than its contents"));
    quint32 stored = 0;
    std::memcpy(&stored, bytes.constData() + expected - kCheckBytes, sizeof stored);
    stored = qFromLittleEndian(stored);
    if (stored != checksum(bytes.constData(), expected - kCheckBytes))
        return refuse(QStringLiteral("the file is damaged (check sum)"));

    FlatFieldReference read;
    read.pixelType = pixelType;
    read.layout = layout;
    read.enabled = enabled != 0;
    read.target = std::isfinite(target) ? target : 0;
    read.darkCaptured = dateFromField(darkDate);
    read.whiteCaptured = dateFromField(whiteDate);
    in.setFloatingPointPrecision(QDataStream::SinglePrecision);
    for (auto [present, values] : {std::pair{hasDark, &read.dark}, std::pair{hasWhite, &read.white}}) {
        if (!present)
            continue;
        values->resize(std::size_t(samples));
        for (float &value : *values)
            in >> value;
    }
    if (in.status() != QDataStream::Ok)
        return refuse(QStringLiteral("the file is cut short"));
    *reference = std::move(read);
    return true;
}

/* Any thread. */
QString flatFieldMismatch(const FlatFieldReference &reference, quint32 pixelType, int width)
{
    if (reference.pixelType != pixelType)
        return QStringLiteral("it was taken in pixel format 0x%1, the camera sends 0x%2")
            .arg(reference.pixelType, 8, 16, QLatin1Char('0'))
            .arg(pixelType, 8, 16, QLatin1Char('0'));
    if (reference.layout != flatFieldLayoutOf(pixelType, width))
        return QStringLiteral("it holds lines of %1 pixels, the camera sends %2")
            .arg(reference.layout.width)
            .arg(width);
    return QString();
}

/* Pure; any thread. */
QString flatFieldFileName(const QString &model, const QString &serial)
{
    QString name = QStringLiteral("flatfield_%1_%2").arg(model.trimmed(), serial.trimmed());
    for (QChar &c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('-') && c != QLatin1Char('.'))
            c = QLatin1Char('_');
    return name + QStringLiteral(".ffc");
}
