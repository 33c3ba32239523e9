#include "streamencoder.h"

#include <QIODevice>
#include <QImage>

#include <algorithm>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

/*
 * The encoders below write what Qt's JPEG, PNG, TIFF and BMP writers write
 * for a freshly created 8-bit gray or 24-bit RGB picture with the same
 * settings: the same libraries with the same parameters, the same metadata
 * (resolution taken from a new QImage) and the same layout. The libraries
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
        jpeg_create_compress(&m_state->info);
        m_state->destination.init_destination = jpegInitDestination;
        m_state->destination.empty_output_buffer = jpegEmptyBuffer;
        m_state->destination.term_destination = jpegTermDestination;
        m_state->info.dest = &m_state->destination;
    }
    ~JpegEncoder() override { jpeg_destroy_compress(&m_state->info); }

    bool begin(QIODevice *device, int width, int height, bool gray) override
    {
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
    std::unique_ptr<JpegState> m_state;
    std::vector<JSAMPROW> m_rows;
};

// ---------------------------------------------------------------- PNG

struct PngState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    QIODevice *device = nullptr;
    char message[256] = {};
};

void pngError(png_structp png, png_const_charp text)
{
    auto *state = static_cast<PngState *>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", text);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) { }

void pngWrite(png_structp png, png_bytep data, png_size_t length)
{
    auto *state = static_cast<PngState *>(png_get_io_ptr(png));
    if (state->device->write(reinterpret_cast<const char *>(data), qint64(length)) != qint64(length))
        png_error(png, "Could not write the PNG data");
}

void pngFlush(png_structp) { }

bool pngStart(PngState *state, int width, int height, bool gray, int level)
{
    if (setjmp(png_jmpbuf(state->png)))
        return false;
    png_set_write_fn(state->png, state, pngWrite, pngFlush);
    png_set_compression_level(state->png, level);
    png_set_IHDR(state->png, state->info, png_uint_32(width), png_uint_32(height), 8,
                 gray ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    const png_uint_32 dpm = png_uint_32(defaultDotsPerMeter());
    png_set_pHYs(state->png, state->info, dpm, dpm, PNG_RESOLUTION_METER);
    png_write_info(state->png, state->info);
    png_set_packing(state->png);
    return true;
}

bool pngRows(PngState *state, const uchar *rows, qsizetype stride, int count)
{
    if (setjmp(png_jmpbuf(state->png)))
        return false;
    for (int r = 0; r < count; ++r)
        png_write_row(state->png, rows + r * stride);
    return true;
}

bool pngFinish(PngState *state)
{
    if (setjmp(png_jmpbuf(state->png)))
        return false;
    png_write_end(state->png, state->info);
    return true;
}

class PngEncoder : public StreamEncoder
{
public:
    explicit PngEncoder(int level) : m_level(level)
    {
        m_state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &m_state, pngError, pngWarning);
        if (m_state.png)
            m_state.info = png_create_info_struct(m_state.png);
    }
    ~PngEncoder() override { png_destroy_write_struct(&m_state.png, &m_state.info); }

    bool begin(QIODevice *device, int width, int height, bool gray) override
    {
        if (!m_state.png || !m_state.info)
            return fail(QStringLiteral("Could not start the PNG encoder"));
        m_state.device = device;
        return pngStart(&m_state, width, height, gray, m_level) || failed();
    }
    bool writeRows(const uchar *rows, qsizetype stride, int count) override
    {
        return pngRows(&m_state, rows, stride, count) || failed();
    }
    bool finish() override { return pngFinish(&m_state) || failed(); }

private:
    bool failed() { return fail(QString::fromLocal8Bit(m_state.message)); }

    int m_level;
    PngState m_state;
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
    const qint64 rowBytes = std::max<qint64>(1, qint64(TIFFScanlineSize(tiff)));
    const qint64 rows = std::clamp<qint64>((qint64(4) << 20) / rowBytes, 1, qint64(UINT_MAX));
    return TIFFDefaultStripSize(tiff, uint32_t(rows));
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

    bool begin(QIODevice *device, int width, int height, bool gray) override
    {
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
            && TIFFSetField(m_tiff, TIFFTAG_BITSPERSAMPLE, 8)
            && TIFFSetField(m_tiff, TIFFTAG_ROWSPERSTRIP, stripRows(m_tiff));
        return ok || failed();
    }

    bool writeRows(const uchar *rows, qsizetype stride, int count) override
    {
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
    int m_row = 0;
    QString m_message;
};

// ---------------------------------------------------------------- BMP

void putLittleEndian(std::vector<char> &out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xff));
}

class BmpEncoder : public StreamEncoder
{
public:
    bool bottomUp() const override { return true; }

    bool begin(QIODevice *device, int width, int height, bool gray) override
    {
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
        m_row.assign(size_t(m_fileRowBytes), 0);
        return put(header.data(), qint64(header.size()));
    }

    bool writeRows(const uchar *rows, qsizetype stride, int count) override
    {
        for (int r = count - 1; r >= 0; --r) {
            const uchar *source = rows + r * stride;
            if (m_gray) {
                std::memcpy(m_row.data(), source, size_t(m_width));
            } else {
                char *target = m_row.data();
                for (int x = 0; x < m_width; ++x, source += 3, target += 3) {
                    target[0] = char(source[2]);
                    target[1] = char(source[1]);
                    target[2] = char(source[0]);
                }
            }
            if (!put(m_row.data(), qint64(m_row.size())))
                return false;
        }
        return true;
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
    qsizetype m_fileRowBytes = 0;
    std::vector<char> m_row;
};

} // namespace

/*
 * The streamed encoder for an extension from extensionForFormat() ("jpg",
 * "png", "tif", "bmp"), or none for any other. jpgQuality and pngLevel must
 * already be clamped.
 */
std::unique_ptr<StreamEncoder> createStreamEncoder(const QString &extension, int jpgQuality, int pngLevel)
{
    if (extension == QLatin1String("jpg"))
        return std::make_unique<JpegEncoder>(jpgQuality);
    if (extension == QLatin1String("png"))
        return std::make_unique<PngEncoder>(pngLevel);
    if (extension == QLatin1String("tif"))
        return std::make_unique<TiffEncoder>();
    if (extension == QLatin1String("bmp"))
        return std::make_unique<BmpEncoder>();
    return nullptr;
}
