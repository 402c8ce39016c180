/* BufferedStream: a byte buffer in front of an xio stream (or a plain memory
 * view when there is no stream), with a 32-bit bit cache and a reader for
 * interleaved exponential-Golomb codes on top. */
#ifndef ORV_BITS_H
#define ORV_BITS_H

#include "orv_io.h"

ORV_EXTERN_C_BEGIN

#define BIO_READ  1u
#define BIO_WRITE 2u

/* Returned by the Golomb reader for a code that does not fit its window. */
#define BIO_GOLOMB_INVALID 0x80000000u

/* Owned by its user, usually on the stack; the buffer too is the user's.
 * Reading: buffer <= position <= end, the unread bytes are position..end.
 * Writing: the bytes buffer..position wait for the next flush, end is the
 * end of the buffer. Without a stream the buffer is the whole data and end
 * marks its end. The valid bits of bit_cache stand at the top. */
typedef struct BufferedStream {
    uint32_t capacity;
    uint8_t *buffer;
    uint8_t *position;
    uint8_t *end;
    uint32_t bit_cache;
    int32_t bit_count;
    xio *stream;
    uint32_t mode;
    ResultCode last_result;
} BufferedStream;

/* Sets the record up over a buffer of capacity bytes. With a stream, a
 * reader starts empty and a writer with the whole buffer free; without one,
 * the capacity bytes at buffer are the data (a memory view). */
ORV_API void orv_bio_init(BufferedStream *bio, xio *stream, void *buffer, uint32_t capacity, uint32_t mode);

ORV_API ResultCode orv_bio_fill(BufferedStream *bio);
/* Writing: bytes the stream does not take stay in the buffer for the next
 * flush; flush then answers the stream's status (ORV_WOUNLD_BLOCK or a
 * failure). orv_bio_write sets written to the bytes it took and answers 0
 * only when it took all of them: otherwise the stream's status, or
 * ORV_ERR_IO_WRITE when a memory view is full. */
ORV_API ResultCode orv_bio_flush(BufferedStream *bio);
ORV_API ResultCode orv_bio_write(BufferedStream *bio, const void *data, uint32_t length, uint32_t *written);
ORV_API ResultCode orv_bio_write_text(BufferedStream *bio, const char *text);
ORV_API ResultCode orv_bio_read(BufferedStream *bio, void *dest, uint32_t length, uint32_t *done);
ORV_API int64_t orv_bio_seek(BufferedStream *bio, int64_t offset, int32_t origin);
ORV_API int64_t orv_bio_skip(BufferedStream *bio, int64_t offset);
ORV_API int64_t orv_bio_tell(BufferedStream *bio);
ORV_API int64_t orv_bio_size(BufferedStream *bio);
ORV_API int orv_bio_eof(BufferedStream *bio);

/* Next byte (0 to 255), filling the buffer when empty; -1 when no byte is
 * left or the stream failed: a negative last_result tells a read error from
 * the end of the data. */
ORV_API int orv_bio_getc(BufferedStream *bio);

/* Bit reading starts with orv_bio_init_bits, which loads the cache; the
 * Golomb reader decodes codes of up to 39 bits (values below 2^20). */
ORV_API void orv_bio_init_bits(BufferedStream *bio);
ORV_API uint32_t orv_bio_get_bits(BufferedStream *bio, int32_t n);
ORV_API uint32_t orv_bio_get_ue_golomb_interleaved(BufferedStream *bio);

ORV_EXTERN_C_END

#endif
