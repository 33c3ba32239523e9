#ifndef DEFLATEPIECE_H
#define DEFLATEPIECE_H

#include <QtGlobal>

#include <cstddef>
#include <vector>

/*
 * Raw deflate (RFC 1951) pieces of one long stream, each compressed on its
 * own, on any thread, that join into one valid stream by concatenation:
 * no block of a piece is marked final, and every piece ends on a byte
 * boundary after an empty stored block (as zlib's sync flush ends). A piece
 * refers to nothing before it, so it costs a little ratio at its start in
 * return for being free to run anywhere. The stream is closed by whoever
 * joins the pieces with a final block of its own, such as the empty fixed
 * block 0x03 0x00.
 */

/*
 * Compresses data[0, bytes) at libdeflate's level (0 to 9) into out,
 * replacing its contents, as a piece that joins. Returns false when memory
 * runs out or the piece fails the check that it inflates back to data. Any
 * thread.
 */
bool deflateJoinablePiece(const uchar *data, std::size_t bytes, int level, std::vector<uchar> *out);

/*
 * Turns a complete raw deflate stream whose content is original[0, bytes)
 * into a piece that joins: its final block is marked not final, bytes after
 * the stream's end are dropped, and an empty stored block brings it to a
 * byte boundary. Returns false, leaving stream unusable, when it does not
 * inflate to exactly the original bytes. Pure.
 */
bool makeDeflatePieceJoinable(std::vector<uchar> &stream, const uchar *original, std::size_t bytes);

/*
 * The libdeflate level that does the work zlib's level (0 to 9) asks for:
 * one step up, as libdeflate at the same number gives up a few per cent of
 * ratio on regular content, but no further than 9: above it libdeflate
 * parses near-optimally at thirteen times the memory. 0 stays
 * uncompressed. Pure.
 */
int libdeflateLevelFor(int zlibLevel);

/*
 * The cheapest libdeflate level, at most level, whose output for sample
 * stays within 1 % of what level itself gives. On a sensor's noisy picture
 * the longer searches of the higher levels find next to nothing: they cost
 * up to four times the time for half a per cent. On smooth content they pay,
 * and level is kept. Levels below 2 are returned as they are; so is level
 * when memory runs out. Costs about as much as compressing sample at level
 * and at two or three faster levels. Any thread.
 */
int cheapestLevelNear(const uchar *sample, std::size_t bytes, int level);

/*
 * What deflateJoinablePiece() holds at its peak beyond its input and
 * output. Pure.
 */
qint64 deflatePieceScratchBytes();

#endif // DEFLATEPIECE_H
