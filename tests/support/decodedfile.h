#ifndef DECODEDFILE_H
#define DECODEDFILE_H

// A saved picture as the codec libraries themselves read it (libpng, libtiff,
// libjpeg; BMP's few fields by hand), never through the program's readers.
// A damaged file aborts in the library, which fails the test as loudly.
#include <QFile>
#include <QtEndian>

#include <cstdio>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

struct DecodedFile {
    int width = 0, height = 0, channels = 0, depth = 0; // BMP: 1 channel when its palette is gray
    int sbit = 0;                                       // PNG's sBIT for gray, 0 without one
    int photometric = -1;                               // TIFF's
    std::vector<int> samples;                           // the first channel, row by row
    void shape(int w, int h, int c, int bits) { width = w, height = h, channels = c, depth = bits; }
};

inline DecodedFile decodeFile(const QString &path)
{
    DecodedFile d;
    FILE *f = std::fopen(QFile::encodeName(path).constData(), "rb");
    std::vector<uchar> row;
    const auto keep = [&](const uchar *line, int step) {
        for (int x = 0; x < d.width; ++x)
            d.samples.push_back(d.depth == 16 ? reinterpret_cast<const quint16 *>(line)[x * step]
                                              : line[x * step]);
    };
    if (path.endsWith(".png")) {
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_read_info(png, info);
        png_color_8p sbit = nullptr;
        d.shape(int(png_get_image_width(png, info)), int(png_get_image_height(png, info)),
                png_get_channels(png, info), png_get_bit_depth(png, info));
        d.sbit = png_get_sBIT(png, info, &sbit) ? sbit->gray : 0;
        if (QSysInfo::ByteOrder == QSysInfo::LittleEndian)
            png_set_swap(png);
        row.resize(png_get_rowbytes(png, info));
        for (int y = 0; y < d.height; ++y, keep(row.data(), d.channels))
            png_read_row(png, row.data(), nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
    } else if (path.endsWith(".tif")) {
        TIFF *tiff = TIFFFdOpen(fileno(f), "tiff", "r");
        uint32_t w = 0, h = 0;
        uint16_t bits = 0, spp = 0, photometric = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w), TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits),
            TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &spp);
        d.shape(int(w), int(h), spp, bits), d.photometric = photometric;
        row.resize(size_t(TIFFScanlineSize(tiff)));
        for (uint32_t y = 0; y < h && TIFFReadScanline(tiff, row.data(), y) == 1; ++y)
            keep(row.data(), spp);
        TIFFCleanup(tiff);
    } else if (path.endsWith(".jpg")) {
        jpeg_decompress_struct info;
        jpeg_error_mgr errors;
        info.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, f);
        jpeg_read_header(&info, TRUE);
        jpeg_start_decompress(&info);
        d.shape(int(info.output_width), int(info.output_height), info.num_components, info.data_precision);
        row.resize(size_t(d.width) * size_t(info.output_components));
        for (JSAMPROW line = row.data(); info.output_scanline < info.output_height; keep(line, d.channels))
            jpeg_read_scanlines(&info, &line, 1);
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
    } else if (path.endsWith(".bmp")) {
        QFile file(path);
        const QByteArray b = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(64, 0);
        const uchar *at = reinterpret_cast<const uchar *>(b.constData());
        const int bytes = qFromLittleEndian<quint16>(at + 28) / 8,
                  stride = (qFromLittleEndian<int>(at + 18) * bytes + 3) / 4 * 4;
        d.shape(qFromLittleEndian<int>(at + 18), qFromLittleEndian<int>(at + 22), bytes == 1 ? 1 : 3, 8);
        for (int i = 0; bytes == 1 && i < 256; ++i)
            d.channels = at[54 + 4 * i] == i && at[55 + 4 * i] == i && at[56 + 4 * i] == i ? d.channels : 3;
        for (int y = d.height - 1; y >= 0; --y)
            keep(at + qFromLittleEndian<int>(at + 10) + y * stride, bytes);
    }
    if (f)
        std::fclose(f);
    return d;
}

#endif // DECODEDFILE_H
