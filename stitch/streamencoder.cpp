#include "streamencoder.h"

#include "deflatepiece.h"
#include "pngfilter.h"
#include "savethread.h"

#include <QIODevice>
#include <QImage>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <jpeglib.h>
#include <libdeflate.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <tiffio.h>
#include <zlib.h>

/*
 * The encoders below write what Qt's JPEG, PNG, TIFF and BMP writers write
 * for a freshly created 8-bit gray or 24-bit RGB picture with the same
 * settings: the same libraries with the same parameters, the same metadata
 * (resolution taken from a new QImage) and the same layout; PNG differs only
 * in how its deflate stream is cut (see below). PNG and TIFF also take 16-bit
 * gray, laid out the same way. The libraries
 * report errors by longjmp; every call that may jump sits in a small function
 * that owns no C++ object, so no destructor is skipped.
 */

StreamEncoder::~StreamEncoder() = default;

bool StreamEncoder::fail(const QString &text)
{
    if (m_error.isEmpty())
        m_error = text;
    return false;
}

namespace {

// The resolution Qt gives every new picture and writes into each file.
int defaultDotsPerMeter()
{
    static const int dotsPerMeter = QImage(1, 1, QImage::Format_Grayscale8).dotsPerMeterX();
    return dotsPerMeter;
}

// ---------------------------------------------------------------- JPEG

constexpr size_t kJpegBufferBytes = 4096;

struct JpegState {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    jpeg_destination_mgr destination;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    QIODevice *device;
    JOCTET buffer[kJpegBufferBytes];
};

JpegState *jpegState(j_common_ptr info)
{
    return reinterpret_cast<JpegState *>(reinterpret_cast<char *>(info) - offsetof(JpegState, info));
}

[[noreturn]] void jpegErrorExit(j_common_ptr info)
{
    JpegState *state = jpegState(info);
    (*info->err->format_message)(info, state->message);
    std::longjmp(state->jump, 1);
}

void jpegSilence(j_common_ptr) { }

void jpegInitDestination(j_compress_ptr info)
{
    JpegState *state = jpegState(reinterpret_cast<j_common_ptr>(info));
    info->dest->next_output_byte = state->buffer;
    info->dest->free_in_buffer = kJpegBufferBytes;
}

void jpegWrite(JpegState *state, size_t bytes)
{
    if (state->device->write(reinterpret_cast<const char *>(state->buffer), qint64(bytes)) != qint64(bytes)) {
        std::snprintf(state->message, sizeof state->message, "Could not write the JPEG data");
        std::longjmp(state->jump, 1);
    }
}

boolean jpegEmptyBuffer(j_compress_ptr info)
{
    JpegState *state = jpegState(reinterpret_cast<j_common_ptr>(info));
    jpegWrite(state, kJpegBufferBytes);
    jpegInitDestination(info);
    return TRUE;
}

void jpegTermDestination(j_compress_ptr info)
{
    JpegState *state = jpegState(reinterpret_cast<j_common_ptr>(info));
    jpegWrite(state, kJpegBufferBytes - info->dest->free_in_buffer);
}

bool jpegCreate(JpegState *state)
{
    if (setjmp(state->jump))
        return false;
    jpeg_create_compress(&state->info);
    return true;
}

bool jpegStart(JpegState *state, int width, int height, bool gray, int quality)
{
    if (setjmp(state->jump))
        return false;
    state->info.image_width = JDIMENSION(width);
    state->info.image_height = JDIMENSION(height);
    state->info.input_components = gray ? 1 : 3;
    state->info.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&state->info);

    // Qt picks dots per inch or per centimetre, whichever is closer to the
    // picture's dots per metre.
    const int dpm = defaultDotsPerMeter();
    const double inch = dpm * 2.54 / 100.0;
    const double diffInch = 2 * std::abs(inch - qRound(inch));
    const double diffCm = 2 * std::abs(dpm / 100.0 - qRound(dpm / 100.0)) * 2.54;
    if (diffInch < diffCm) {
        state->info.density_unit = 1;
        state->info.X_density = UINT16(qRound(inch));
        state->info.Y_density = UINT16(qRound(inch));
    } else {
        state->info.density_unit = 2;
        state->info.X_density = UINT16((dpm + 50) / 100);
        state->info.Y_density = UINT16((dpm + 50) / 100);
    }
    jpeg_set_quality(&state->info, quality, TRUE);
    jpeg_start_compress(&state->info, TRUE);
    return true;
}

bool jpegRows(JpegState *state, JSAMPARRAY rows, int count)
{
    if (setjmp(state->jump))
        return false;
    JDIMENSION done = 0;
    while (done < JDIMENSION(count))
        done += jpeg_write_scanlines(&state->info, rows + done, JDIMENSION(count) - done);
    return true;
}

bool jpegFinish(JpegState *state)
{
    if (setjmp(state->jump))
        return false;
    jpeg_finish_compress(&state->info);
    return true;
}

class JpegEncoder : public StreamEncoder
{
public:
    explicit JpegEncoder(int quality) : m_quality(quality)
    {
        m_state = std::make_unique<JpegState>();
        std::memset(m_state.get(), 0, sizeof(JpegState));
        m_state->info.err = jpeg_std_error(&m_state->errors);
        m_state->errors.error_exit = jpegErrorExit;
        m_state->errors.output_message = jpegSilence;
        m_created = jpegCreate(m_state.get());
        m_state->destination.init_destination = jpegInitDestination;
        m_state->destination.empty_output_buffer = jpegEmptyBuffer;
        m_state->destination.term_destination = jpegTermDestination;
        m_state->info.dest = &m_state->destination;
    }
    ~JpegEncoder() override
    {
        if (m_created)
            jpeg_destroy_compress(&m_state->info);
    }

    bool begin(QIODevice *device, int width, int height, bool gray, int depth, int) override
    {
        if (depth != 8)
            return fail(QStringLiteral("JPEG holds 8-bit samples only"));
        if (!m_created)
            return failed();
        m_state->device = device;
        return jpegStart(m_state.get(), width, height, gray, m_quality) || failed();
    }

    bool writeRows(const uchar *rows, qsizetype stride, int count) override
    {
        m_rows.resize(size_t(count));
        for (int r = 0; r < count; ++r)
            m_rows[size_t(r)] = const_cast<JSAMPROW>(rows + r * stride);
        return jpegRows(m_state.get(), m_rows.data(), count) || failed();
    }

    bool finish() override { return jpegFinish(m_state.get()) || failed(); }

private:
    bool failed() { return fail(QString::fromLocal8Bit(m_state->message)); }

    int m_quality;
    bool m_created = false;
    std::unique_ptr<JpegState> m_state;
    std::vector<JSAMPROW> m_rows;
};

// ---------------------------------------------------------------- PNG

// PNG: the picture libpng writes for Qt (8-bit gray or RGB, not interlaced,
// the pHYs chunk, every row filtered by libpng's adaptive choice among all
// five filters, deflated at the given level), but spread over all cores:
// each strip's rows are filtered in parallel, then cut into pieces that
// libdeflate compresses in parallel and that join into one valid zlib
// stream. One level above the zlib level asked for, libdeflate is still
// some 2.4 times faster than zlib on a sensor's noisy picture, and its files
// are no larger; where a faster level does within 1 % as well on the
// picture at hand, that one is used.

constexpr size_t kPieceBytes = size_t(1) << 20;
constexpr qint64 kResampleBytes = qint64(128) << 20;

void putBigEndian(std::vector<uchar> &out, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uchar(value >> shift));
}

struct DeflatedPiece {
    std::vector<uchar> bytes;
    uint32_t adler = 1;
    bool ok = false;
};

// Runs job(0) .. job(count - 1) on up to `workers` threads, the calling
// one included, each taking the next job as it finishes one: pieces of
// noisy and of flat content deflate at very different speeds.
template<typename Job>
void runInParallel(int count, int workers, const Job &job)
{
    workers = std::max(1, std::min(workers, count));
    std::atomic<int> next{0};
    const auto work = [&](int) {
        for (int i = next++; i < count; i = next++)
            job(i);
    };
    std::vector<std::thread> threads;
    threads.reserve(size_t(workers - 1));
    for (int worker = 1; worker < workers; ++worker) {
        threads.emplace_back([&work, worker] {
            yieldToAcquisition();
            work(worker);
        });
    }
    work(0);
    for (std::thread &thread : threads)
        thread.join();
}

class PngEncoder : public StreamEncoder
{
public:
    explicit PngEncoder(int level) : m_level(level), m_libdeflateLevel(libdeflateLevelFor(level))
    {
        m_threads = std::max(1, QThread::idealThreadCount());
    }

    int maxGrayDepth() const override { return 16; }

    bool begin(QIODevice *device, int width, int height, bool gray, int depth, int significantBits) override
    {
        if (depth != 8 && (depth != 16 || !gray))
            return fail(QStringLiteral("PNG takes 8-bit or 16-bit gray samples here"));
        m_device = device;
        m_pieceLevel = m_libdeflateLevel;
        m_untilSample = 0;
        m_bpp = gray ? size_t(depth / 8) : 3;
        // PNG stores 16-bit samples most significant byte first.
        m_swapBytes = depth == 16 && QSysInfo::ByteOrder == QSysInfo::LittleEndian;
        m_rowBytes = size_t(width) * m_bpp;
        m_previous.assign(m_rowBytes, 0);
        static const uchar signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
        std::vector<uchar> header(signature, signature + 8);
        std::vector<uchar> ihdr;
        putBigEndian(ihdr, quint32(width));
        putBigEndian(ihdr, quint32(height));
        ihdr.push_back(uchar(depth));
        ihdr.push_back(gray ? 0 : 2);
        ihdr.push_back(0);
        ihdr.push_back(0);
        ihdr.push_back(0);
        appendChunk(header, "IHDR", ihdr.data(), ihdr.size());
        if (depth == 16) {
            // How many bits the camera fills: readers scale by it, not by 16.
            const uchar bits = uchar(std::clamp(significantBits, 1, 16));
            appendChunk(header, "sBIT", &bits, 1);
        }
        std::vector<uchar> phys;
        const quint32 dpm = quint32(defaultDotsPerMeter());
        putBigEndian(phys, dpm);
        putBigEndian(phys, dpm);
        phys.push_back(1); // per metre
        appendChunk(header, "pHYs", phys.data(), phys.size());
        // zlib header: 32 KiB window, deflate, the level's class, check bits.
        const uchar cmf = 0x78;
        const int levelClass = m_level < 2 ? 0 : m_level < 6 ? 1 : m_level == 6 ? 2 : 3;
        uchar flg = uchar(levelClass << 6);
        flg = uchar(flg + 31 - (cmf * 256 + flg) % 31);
        m_zlibHeader = {cmf, flg};
        return put(header);
    }

    bool writeRows(const uchar *rows, qsizetype stride, int count) override
    {
        // Filter every row in parallel; each needs only the raw row above.
        const size_t filteredRow = m_rowBytes + 1;
        m_filtered.resize(filteredRow * size_t(count));
        const int filterJobs = std::min(m_threads, count);
        runInParallel(filterJobs, filterJobs, [&](int job) {
            // 16-bit rows are filtered in the file's byte order: two rows of
            // each job turned round at a time, this one and the one above.
            std::vector<uchar> turned(m_swapBytes ? 2 * m_rowBytes : 0);
            const int first = count * job / filterJobs;
            const uchar *above
                = first == 0 ? m_previous.data() : inFileOrder(rows + (first - 1) * stride, turned.data());
            for (int r = first; r < count * (job + 1) / filterJobs; ++r) {
                const uchar *row = inFileOrder(rows + r * stride,
                                               turned.data() + size_t((r - first + 1) % 2) * m_rowBytes);
                filterPngRow(row, above, m_rowBytes, m_bpp, m_filtered.data() + size_t(r) * filteredRow);
                above = row;
            }
        });
        const uchar *last = rows + (count - 1) * stride;
        if (m_swapBytes)
            inFileOrder(last, m_previous.data());
        else
            std::memcpy(m_previous.data(), last, m_rowBytes);

        // Deflate in pieces that join into one stream. The pieces depend on
        // the size alone, so every machine writes the same file.
        const size_t total = m_filtered.size();
        chooseLevel(total);
        const int pieces = int(std::clamp<size_t>(total / kPieceBytes, 1, 64));
        std::vector<DeflatedPiece> deflated(static_cast<size_t>(pieces));
        runInParallel(pieces, m_threads, [&](int piece) {
            const size_t begin = total * size_t(piece) / size_t(pieces);
            const size_t end = total * size_t(piece + 1) / size_t(pieces);
            DeflatedPiece &d = deflated[size_t(piece)];
            d.ok = deflateJoinablePiece(m_filtered.data() + begin, end - begin, m_pieceLevel, &d.bytes);
            d.adler = libdeflate_adler32(1, m_filtered.data() + begin, end - begin);
        });

        std::vector<uchar> out;
        for (int piece = 0; piece < pieces; ++piece) {
            const DeflatedPiece &d = deflated[size_t(piece)];
            if (!d.ok)
                return fail(QStringLiteral("Could not compress the PNG data"));
            const size_t begin = total * size_t(piece) / size_t(pieces);
            const size_t end = total * size_t(piece + 1) / size_t(pieces);
            m_adler = adler32_combine(m_adler, d.adler, z_off_t(end - begin));
            std::vector<uchar> data;
            data.swap(m_zlibHeader);
            data.insert(data.end(), d.bytes.begin(), d.bytes.end());
            if (!data.empty())
                appendChunk(out, "IDAT", data.data(), data.size());
        }
        return put(out);
    }

    bool finish() override
    {
        // An empty final block closes the stream, then its checksum.
        std::vector<uchar> data;
        data.swap(m_zlibHeader);
        data.push_back(0x03);
        data.push_back(0x00);
        putBigEndian(data, quint32(m_adler));
        std::vector<uchar> out;
        appendChunk(out, "IDAT", data.data(), data.size());
        appendChunk(out, "IEND", nullptr, 0);
        return put(out);
    }

private:
    // The row as the file stores it: itself, or with each 16-bit sample's
    // bytes swapped into spare.
    const uchar *inFileOrder(const uchar *row, uchar *spare) const
    {
        if (!m_swapBytes)
            return row;
        for (size_t i = 0; i < m_rowBytes; i += 2) {
            spare[i] = row[i + 1];
            spare[i + 1] = row[i];
        }
        return spare;
    }

    // The level for this strip's pieces: the cheapest that does nearly as
    // well as the level asked for, judged on a piece from the middle of the
    // strip, and judged again after every kResampleBytes, as the picture may
    // change along the way. Strips too short for a whole piece keep the
    // level judged last, at first the one asked for.
    void chooseLevel(size_t stripBytes)
    {
        if (stripBytes < kPieceBytes || m_untilSample > 0) {
            m_untilSample -= qint64(stripBytes);
            return;
        }
        m_pieceLevel = cheapestLevelNear(m_filtered.data() + (stripBytes - kPieceBytes) / 2, kPieceBytes,
                                         m_libdeflateLevel);
        m_untilSample = kResampleBytes - qint64(stripBytes);
    }

    static void appendChunk(std::vector<uchar> &out, const char *type, const uchar *data, size_t bytes)
    {
        putBigEndian(out, quint32(bytes));
        const size_t typeAt = out.size();
        out.insert(out.end(), type, type + 4);
        if (bytes > 0)
            out.insert(out.end(), data, data + bytes);
        putBigEndian(out, quint32(crc32(0L, out.data() + typeAt, uInt(4 + bytes))));
    }

    bool put(const std::vector<uchar> &bytes)
    {
        return m_device->write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()))
            == qint64(bytes.size())
            || fail(QStringLiteral("Could not write the PNG data"));
    }

    int m_level;
    int m_libdeflateLevel;
    int m_pieceLevel = m_libdeflateLevel;
    qint64 m_untilSample = 0;
    int m_threads = 1;
    QIODevice *m_device = nullptr;
    size_t m_bpp = 1;
    bool m_swapBytes = false;
    size_t m_rowBytes = 0;
    std::vector<uchar> m_previous;
    std::vector<uchar> m_filtered;
    std::vector<uchar> m_zlibHeader;
    uLong m_adler = 1;
};

// ---------------------------------------------------------------- TIFF

// The device behind a TIFF handle; cleared before the handle is cleaned up
// on a failed save, when the device may be gone and nothing more is due.
struct TiffDevice {
    QIODevice *device = nullptr;
};

QIODevice *tiffDevice(thandle_t handle)
{
    return static_cast<TiffDevice *>(handle)->device;
}

tmsize_t tiffRead(thandle_t, void *, tmsize_t)
{
    return -1;
}

tmsize_t tiffWrite(thandle_t handle, void *data, tmsize_t size)
{
    QIODevice *device = tiffDevice(handle);
    return device ? tmsize_t(device->write(static_cast<const char *>(data), qint64(size))) : -1;
}

toff_t tiffSeek(thandle_t handle, toff_t offset, int whence)
{
    QIODevice *device = tiffDevice(handle);
    if (!device)
        return toff_t(-1);
    qint64 target = qint64(offset);
    if (whence == SEEK_CUR)
        target += device->pos();
    else if (whence == SEEK_END)
        target += device->size();
    if (!device->seek(target))
        return toff_t(-1);
    return toff_t(device->pos());
}

int tiffClose(thandle_t)
{
    return 0;
}

toff_t tiffSize(thandle_t handle)
{
    QIODevice *device = tiffDevice(handle);
    return device ? toff_t(device->size()) : 0;
}

int tiffMap(thandle_t, void **, toff_t *)
{
    return 0;
}

void tiffUnmap(thandle_t, void *, toff_t) { }

int tiffError(TIFF *, void *userData, const char *, const char *format, va_list arguments)
{
    auto *message = static_cast<QString *>(userData);
    if (message->isEmpty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        *message = QString::fromLocal8Bit(text);
    }
    return 1;
}

int tiffWarning(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

// Qt's writer aims at strips of 4 MiB.
uint32_t stripRows(TIFF *tiff)
{
    return TIFFDefaultStripSize(tiff, uint32_t(tiffStripRows(qsizetype(TIFFScanlineSize(tiff)))));
}

class TiffEncoder : public StreamEncoder
{
public:
    ~TiffEncoder() override
    {
        m_device.device = nullptr;
        if (m_tiff)
            TIFFCleanup(m_tiff);
    }

    int maxGrayDepth() const override { return 16; }

    // 16-bit samples go in the machine's byte order, which the file declares.
    bool begin(QIODevice *device, int width, int height, bool gray, int depth, int) override
    {
        if (depth != 8 && (depth != 16 || !gray))
            return fail(QStringLiteral("TIFF takes 8-bit or 16-bit gray samples here"));
        TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, tiffError, &m_message);
        TIFFOpenOptionsSetWarningHandlerExtR(options, tiffWarning, nullptr);
        m_device.device = device;
        m_tiff = TIFFClientOpenExt("stitched", "wB", &m_device, tiffRead, tiffWrite, tiffSeek, tiffClose,
                                   tiffSize, tiffMap, tiffUnmap, options);
        TIFFOpenOptionsFree(options);
        if (!m_tiff)
            return failed();

        // Qt writes centimetres only for whole dots per centimetre, else
        // inches at the picture's logical dots per inch.
        const int dpm = defaultDotsPerMeter();
        const bool centimetres = dpm % 100 == 0;
        const float resolution = centimetres ? float(dpm / 100.0) : float(qRound(dpm * 0.0254));
        const bool ok = TIFFSetField(m_tiff, TIFFTAG_IMAGEWIDTH, width)
            && TIFFSetField(m_tiff, TIFFTAG_IMAGELENGTH, height)
            && TIFFSetField(m_tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE)
            && TIFFSetField(m_tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT)
            && TIFFSetField(m_tiff, TIFFTAG_RESOLUTIONUNIT, centimetres ? RESUNIT_CENTIMETER : RESUNIT_INCH)
            && TIFFSetField(m_tiff, TIFFTAG_XRESOLUTION, resolution)
            && TIFFSetField(m_tiff, TIFFTAG_YRESOLUTION, resolution)
            && TIFFSetField(m_tiff, TIFFTAG_PHOTOMETRIC, gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB)
            && (gray || TIFFSetField(m_tiff, TIFFTAG_SAMPLESPERPIXEL, 3))
            && TIFFSetField(m_tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG)
            && TIFFSetField(m_tiff, TIFFTAG_BITSPERSAMPLE, depth)
            && TIFFSetField(m_tiff, TIFFTAG_ROWSPERSTRIP, stripRows(m_tiff));
        if (!ok)
            return failed();
        uint32_t rowsPerStrip = 0;
        TIFFGetField(m_tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        m_stripRows = rowsPerStrip;
        m_rowBytes = qsizetype(TIFFScanlineSize(m_tiff));
        m_height = height;
        return true;
    }

    int preferredStripRows() const override { return int(std::min<uint32_t>(m_stripRows, INT_MAX)); }

    bool writeRows(const uchar *rows, qsizetype stride, int count) override
    {
        // A whole strip of packed rows goes to the file as it is: no
        // compression means the strip's bytes are the rows' bytes, and
        // libtiff need not copy them into its own buffer first.
        const bool wholeStrip = m_stripRows > 0 && m_row % qint64(m_stripRows) == 0 && stride == m_rowBytes
            && (uint32_t(count) == m_stripRows
                || (uint32_t(count) < m_stripRows && m_row + count == m_height));
        if (wholeStrip) {
            const uint32_t strip = uint32_t(m_row / qint64(m_stripRows));
            const tmsize_t bytes = tmsize_t(count) * tmsize_t(stride);
            if (TIFFWriteRawStrip(m_tiff, strip, const_cast<uchar *>(rows), bytes) != bytes)
                return failed();
            m_row += count;
            return true;
        }
        for (int r = 0; r < count; ++r, ++m_row) {
            if (TIFFWriteScanline(m_tiff, const_cast<uchar *>(rows + r * stride), uint32_t(m_row)) != 1)
                return failed();
        }
        return true;
    }

    bool finish() override
    {
        const bool ok = TIFFFlush(m_tiff) == 1;
        TIFFCleanup(m_tiff);
        m_tiff = nullptr;
        return ok || failed();
    }

private:
    bool failed()
    {
        return fail(m_message.isEmpty() ? QStringLiteral("Could not write the TIFF data") : m_message);
    }

    TiffDevice m_device;
    TIFF *m_tiff = nullptr;
    qint64 m_row = 0;
    qint64 m_height = 0;
    uint32_t m_stripRows = 0;
    qsizetype m_rowBytes = 0;
    QString m_message;
};

// ---------------------------------------------------------------- BMP

void putLittleEndian(std::vector<char> &out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xff));
}

// R, G, B pixels to B, G, R, as BMP stores them. The byte-wise loop is not
// vectorised and costs more than the write it feeds; where the processor
// shuffles bytes (SSSE3) five pixels go at a time.
void swapRedAndBlueBytewise(const uchar *source, uchar *target, int pixels)
{
    for (int x = 0; x < pixels; ++x, source += 3, target += 3) {
        const uchar red = source[0];
        target[1] = source[1];
        target[0] = source[2];
        target[2] = red;
    }
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("ssse3"))) void swapRedAndBlueShuffled(const uchar *source, uchar *target, int pixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    int x = 0;
    // 16 bytes are read and written for 15: the pixel after the five must
    // exist, and is rewritten by the next round.
    for (; x + 6 <= pixels; x += 5, source += 15, target += 15) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(target), _mm_shuffle_epi8(in, order));
    }
    swapRedAndBlueBytewise(source, target, pixels - x);
}
#endif

void swapRedAndBlue(const uchar *source, uchar *target, int pixels)
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool shuffles = __builtin_cpu_supports("ssse3");
    if (shuffles) {
        swapRedAndBlueShuffled(source, target, pixels);
        return;
    }
#endif
    swapRedAndBlueBytewise(source, target, pixels);
}

class BmpEncoder : public StreamEncoder
{
public:
    bool bottomUp() const override { return true; }

    bool begin(QIODevice *device, int width, int height, bool gray, int depth, int) override
    {
        if (depth != 8)
            return fail(QStringLiteral("BMP holds 8-bit samples only"));
        m_device = device;
        m_width = width;
        m_gray = gray;
        m_fileRowBytes = gray ? (qsizetype(width) + 3) / 4 * 4 : (qsizetype(width) * 24 + 31) / 32 * 4;
        const quint32 colours = gray ? 256 : 0;
        const quint32 offset = 14 + 40 + colours * 4;
        const quint32 imageBytes = quint32(m_fileRowBytes * height);
        const quint32 dpm = quint32(defaultDotsPerMeter());

        std::vector<char> header;
        header.push_back('B');
        header.push_back('M');
        putLittleEndian(header, offset + imageBytes, 4);
        putLittleEndian(header, 0, 4);
        putLittleEndian(header, offset, 4);
        putLittleEndian(header, 40, 4);
        putLittleEndian(header, quint32(width), 4);
        putLittleEndian(header, quint32(height), 4);
        putLittleEndian(header, 1, 2);
        putLittleEndian(header, gray ? 8 : 24, 2);
        putLittleEndian(header, 0, 4); // uncompressed
        putLittleEndian(header, imageBytes, 4);
        putLittleEndian(header, dpm, 4);
        putLittleEndian(header, dpm, 4);
        putLittleEndian(header, colours, 4);
        putLittleEndian(header, colours, 4);
        for (quint32 i = 0; i < colours; ++i) {
            for (int c = 0; c < 3; ++c)
                header.push_back(char(i));
            header.push_back(0);
        }
        return put(header.data(), qint64(header.size()));
    }

    void setChannelsAlike(bool alike) override { m_channelsAlike = alike; }

    bool writeRows(const uchar *rows, qsizetype stride, int count) override
    {
        // Rows that already lie in memory as the file stores them (bottom
        // row first, no padding to add, nothing to swap) go out as they are.
        if (stride == -m_fileRowBytes && (m_gray || m_channelsAlike)) {
            const uchar *bottom = rows + qsizetype(count - 1) * stride;
            return put(reinterpret_cast<const char *>(bottom), qint64(m_fileRowBytes) * count);
        }
        // Else the whole strip goes out in one write, bottom row first; the
        // padding at the end of each row stays zero from the allocation.
        const size_t bytes = size_t(m_fileRowBytes) * size_t(count);
        if (m_strip.size() < bytes)
            m_strip.assign(bytes, 0);
        uchar *target = m_strip.data();
        for (int r = count - 1; r >= 0; --r, target += m_fileRowBytes) {
            const uchar *source = rows + r * stride;
            if (m_gray)
                std::memcpy(target, source, size_t(m_width));
            else
                swapRedAndBlue(source, target, m_width);
        }
        return put(reinterpret_cast<const char *>(m_strip.data()), qint64(bytes));
    }

    bool finish() override { return true; }

private:
    bool put(const char *data, qint64 size)
    {
        return m_device->write(data, size) == size || fail(QStringLiteral("Could not write the BMP data"));
    }

    QIODevice *m_device = nullptr;
    int m_width = 0;
    bool m_gray = true;
    bool m_channelsAlike = false;
    qsizetype m_fileRowBytes = 0;
    std::vector<uchar> m_strip;
};

} // namespace

/*
 * The rows per strip Qt's TIFF writer asks libtiff for: about 4 MiB, at
 * least one row. libtiff takes that count as it is for uncompressed strips.
 * Pure.
 */
int tiffStripRows(qsizetype rowBytes)
{
    return int(std::clamp<qint64>((qint64(4) << 20) / std::max<qint64>(1, rowBytes), 1, INT_MAX));
}

/*
 * What the encoder for format holds while it is fed strips of stripBytes
 * (rows of rowBytes), beyond the strip itself: PNG its filtered copy, the
 * deflated pieces and the chunks made of them, plus a scratch row (and, for
 * 16-bit samples, two rows turned to the file's byte order) and a piece's
 * compressor and check for each thread; JPEG the component rows
 * libjpeg keeps for one row of blocks at 2x2 subsampling; BMP the strip in
 * file order (unless it goes out as composed); TIFF next to nothing, as
 * strips go to the file untouched. Pure.
 */
qint64 streamEncoderBytes(ImageFormat format, qsizetype rowBytes, qsizetype stripBytes, int depth)
{
    constexpr qint64 kSmall = 64 << 10; // headers, tables, the 32 KiB deflate window
    switch (format) {
    case ImageFormat::Png: {
        const qint64 threads = std::max(1, QThread::idealThreadCount());
        const qint64 rowsTurned = depth == 16 ? 2 * rowBytes : 0; // each thread's rows in file order
        return 3 * qint64(stripBytes) + threads * (rowBytes + rowsTurned + deflatePieceScratchBytes())
            + kSmall;
    }
    case ImageFormat::Jpeg:
        return 32 * qint64(rowBytes) + kSmall;
    case ImageFormat::Bmp:
        return qint64(stripBytes) + 3 * (stripBytes / std::max<qsizetype>(1, rowBytes)) + kSmall;
    case ImageFormat::Tiff:
        break;
    }
    return kSmall;
}

/*
 * The streamed encoder for format. jpgQuality and pngLevel must already be
 * clamped.
 */
std::unique_ptr<StreamEncoder> createStreamEncoder(ImageFormat format, int jpgQuality, int pngLevel)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return std::make_unique<JpegEncoder>(jpgQuality);
    case ImageFormat::Png:
        return std::make_unique<PngEncoder>(pngLevel);
    case ImageFormat::Tiff:
        return std::make_unique<TiffEncoder>();
    case ImageFormat::Bmp:
        break;
    }
    return std::make_unique<BmpEncoder>();
}
