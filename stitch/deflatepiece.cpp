#include "deflatepiece.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor *compressor) const { libdeflate_free_compressor(compressor); }
};

// What libdeflate's compressor allocates up to level 9, rounded up
// (measured with 1.14: 650 KiB; its near-optimal levels above take 8.6 MiB).
constexpr qint64 kCompressorBytes = qint64(1) << 20;

// The check inflates a piece into this much at a time; zlib's inflate keeps
// its window and tables besides, some 45 KiB.
constexpr std::size_t kCheckBytes = 64 << 10;
constexpr qint64 kInflaterBytes = 64 << 10;

} // namespace

bool makeDeflatePieceJoinable(std::vector<uchar> &stream, const uchar *original, std::size_t bytes)
{
    // zlib's inflate, asked to stop at every block boundary, tells how many
    // bits of the last byte it took are still unread: that is where the next
    // block header, or after the last block the padding, begins.
    z_stream inflater;
    std::memset(&inflater, 0, sizeof inflater);
    if (inflateInit2(&inflater, -15) != Z_OK)
        return false;
    std::vector<uchar> inflated;
    try {
        inflated.resize(kCheckBytes);
    } catch (const std::bad_alloc &) {
        inflateEnd(&inflater);
        return false;
    }
    inflater.next_in = stream.data();
    inflater.avail_in = uInt(stream.size());

    // What comes out is compared with the original as it comes.
    std::size_t checked = 0;
    bool same = true;
    const auto check = [&] {
        const std::size_t produced = std::size_t(inflater.next_out - inflated.data());
        same = same && checked + produced <= bytes
            && std::memcmp(inflated.data(), original + checked, produced) == 0;
        checked += produced;
        inflater.next_out = inflated.data();
        inflater.avail_out = uInt(inflated.size());
    };
    inflater.next_out = inflated.data();
    inflater.avail_out = uInt(inflated.size());

    // At each boundary inflate also says whether the block just ended was
    // the final one; its header lies at the boundary before.
    const auto bitsRead = [&] {
        return std::size_t(inflater.next_in - stream.data()) * 8 - std::size_t(inflater.data_type & 7);
    };
    std::size_t header = 0;
    std::size_t finalHeader = 0;
    std::size_t end = 0;
    bool ended = false;
    while (!ended && same) {
        const int result = inflate(&inflater, Z_BLOCK);
        check();
        if (result != Z_OK)
            break;
        if ((inflater.data_type & 128) == 0)
            continue;
        if ((inflater.data_type & 64) != 0) {
            finalHeader = header;
            end = bitsRead();
            ended = true;
        } else {
            header = bitsRead();
        }
    }
    inflateEnd(&inflater);
    if (!ended || !same || checked != bytes)
        return false;

    // The final flag is a header's first bit; deflate fills bytes from the
    // low bit up.
    stream[finalHeader / 8] = uchar(stream[finalHeader / 8] & ~(1u << (finalHeader % 8)));
    stream.resize((end + 7) / 8);
    const int usedBits = int(end % 8);
    if (usedBits != 0)
        stream.back() = uchar(stream.back() & ((1u << usedBits) - 1));
    // An empty stored block: three zero header bits, padding to the byte,
    // then a length of 0 and its complement.
    const int freeBits = usedBits == 0 ? 0 : 8 - usedBits;
    if (freeBits < 3)
        stream.push_back(0);
    for (const uchar byte : {0x00, 0x00, 0xff, 0xff})
        stream.push_back(byte);
    return true;
}

bool deflateJoinablePiece(const uchar *data, std::size_t bytes, int level, std::vector<uchar> *out)
{
    const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
        libdeflate_alloc_compressor(std::clamp(level, 0, 9)));
    if (!compressor)
        return false;
    try {
        out->resize(libdeflate_deflate_compress_bound(compressor.get(), bytes));
    } catch (const std::bad_alloc &) {
        return false;
    }
    const std::size_t written
        = libdeflate_deflate_compress(compressor.get(), data, bytes, out->data(), out->size());
    if (written == 0)
        return false;
    out->resize(written);
    try {
        return makeDeflatePieceJoinable(*out, data, bytes);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

int cheapestLevelNear(const uchar *sample, std::size_t bytes, int level)
{
    level = std::clamp(level, 0, 9);
    if (level < 2 || bytes == 0)
        return level;
    std::vector<uchar> out;
    const auto compressedSize = [&](int trial) -> std::size_t {
        const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
            libdeflate_alloc_compressor(trial));
        if (!compressor)
            return 0;
        try {
            out.resize(libdeflate_deflate_compress_bound(compressor.get(), bytes));
        } catch (const std::bad_alloc &) {
            return 0;
        }
        return libdeflate_deflate_compress(compressor.get(), sample, bytes, out.data(), out.size());
    };
    const std::size_t reference = compressedSize(level);
    if (reference == 0)
        return level;
    // Fastest first, so that a noisy picture is settled after one or two
    // cheap trials. 5 is left out: it is slower than 4 and rarely smaller.
    for (const int trial : {2, 3, 4, 6}) {
        if (trial >= level)
            break;
        const std::size_t size = compressedSize(trial);
        if (size != 0 && size <= reference + reference / 100)
            return trial;
    }
    return level;
}

int libdeflateLevelFor(int zlibLevel)
{
    return zlibLevel <= 0 ? 0 : std::min(zlibLevel + 1, 9);
}

qint64 deflatePieceScratchBytes()
{
    return kCompressorBytes + qint64(kCheckBytes) + kInflaterBytes;
}
