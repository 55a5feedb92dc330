/*
 * quorrin.h - the package entry codec.
 *
 * Quorrin turns single entries of DBPF package files between their stored, compressed form and
 * their plain bytes. A compressed entry is
 *
 *   offset 0  4 bytes  compressed size, little-endian: the whole entry, these 9 header bytes
 *                      included
 *   offset 4  2 bytes  signature 0x10 0xFB
 *   offset 6  3 bytes  uncompressed size, big-endian (0 to 16777215)
 *   offset 9  ...      LZ77 commands of 1 to 4 bytes, each carrying 0 to 112 literal bytes and,
 *                      for the copy kinds, a back-reference of 3 to 1028 bytes found 1 to 131072
 *                      bytes back in the output
 *
 * Typical use: read both sizes from the 9-byte header, give DecompressPackage an output buffer
 * of the uncompressed size in exact mode; to store an entry, give CompressPackage an output
 * buffer of at least sourceLength - 1 bytes and keep the entry only if it returns 1.
 *
 * Threads: both codec functions work only on their arguments and on memory they allocate for
 * the call, so any number of threads may call them at once on distinct buffers. The caller must
 * not change a buffer while a call that uses it runs.
 *
 * Memory: no function keeps a pointer to caller memory after it returns. DecompressPackage
 * allocates nothing; CompressPackage takes its work tables from the heap at the start of each
 * call and releases them before it returns, on every path. They take 3 MiB (3145728 bytes) at
 * most, reached by inputs of 131072 bytes and more; smaller inputs take less (about 0.5 MiB plus
 * 24 bytes per input byte).
 */
#ifndef QUORRIN_H
#define QUORRIN_H

#if defined(_WIN32)
#if defined(QUORRIN_BUILD)
#define QUORRIN_API __declspec(dllexport)
#else
#define QUORRIN_API __declspec(dllimport)
#endif
#define QUORRIN_CALL __cdecl
#else
#define QUORRIN_API __attribute__((visibility("default")))
#define QUORRIN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * DecompressPackage - expands the compressed entry at `source` into `destination`.
 *
 *   source             the entry, header first; `sourceLength` bytes are readable there
 *   sourceLength       number of compressed bytes available (signed)
 *   destination        room for `destinationLength` bytes
 *   destinationLength  number of bytes to produce (signed)
 *   allowPartial       0: exact mode; any other value: partial mode
 *
 * Exact mode: `sourceLength` must equal the header's compressed size and `destinationLength`
 * its uncompressed size, and the commands must produce exactly that many bytes. Once the output
 * is full, any remaining source bytes must all be 0xFC (the end command without literals).
 *
 * Partial mode: the source may be a truncated copy of the entry (`sourceLength` at most the
 * header's compressed size) and only a prefix may be wanted (`destinationLength` at most the
 * uncompressed size). Decoding stops as soon as `destinationLength` bytes are produced; the
 * command that reaches that point is cut, its literals first, then its copy.
 *
 * Returns 1 when the requested bytes were produced. Returns 0, in this order of tests, when:
 *   - `sourceLength` is below 10, `destinationLength` is negative, `source` is null, or
 *     `destination` is null while `destinationLength` is not 0;
 *   - bytes 4 and 5 are not 0x10 0xFB;
 *   - the header sizes do not match the arguments (exact: not equal; partial: smaller);
 *   - a command's own bytes, or its literals, reach past the end of the source;
 *   - in exact mode, a command would write past `destinationLength` bytes;
 *   - a copy reaches back further than the bytes produced so far;
 *   - the source runs out before `destinationLength` bytes are produced;
 *   - in exact mode, a byte other than 0xFC remains once the output is full.
 * After a 0 the destination may hold a partly decoded prefix; treat it as undefined.
 *
 * Whatever the stream holds, no byte at or after source + sourceLength is read and no byte at or
 * after destination + destinationLength is written. Nothing is allocated.
 */
QUORRIN_API int QUORRIN_CALL DecompressPackage(const unsigned char* source, int sourceLength,
                                               unsigned char* destination, int destinationLength,
                                               int allowPartial);

/*
 * CompressPackage - compresses `sourceLength` bytes at `source` into one entry at `destination`.
 *
 *   source             the plain bytes
 *   sourceLength       14 to 16777215 bytes (unsigned)
 *   destination        room for at least sourceLength - 1 bytes; nothing is written further
 *   compressedLength   receives the size of the entry (may be null: then nothing is stored)
 *
 * The output is deterministic: the same input always gives the same bytes (hash chains over a
 * 131072-byte window, bounded chain walks, one-step lazy matching). DecompressPackage in exact
 * mode, given the entry's size and `sourceLength`, turns it back into the input.
 *
 * Returns 1 and stores the entry size (header included, the same value as the header's
 * compressed size) in *compressedLength on success.
 * Returns 0 and leaves *compressedLength untouched when the arguments are rejected:
 * `sourceLength` below 14 or above 16777215, or a null `source` or `destination`.
 * Returns 0 and stores 0 in *compressedLength when the entry would not come out at least one
 * byte shorter than the input (typical for short or already dense data), or when the work tables
 * cannot be allocated. The destination then holds undefined bytes and no valid header.
 */
QUORRIN_API int QUORRIN_CALL CompressPackage(const unsigned char* source, unsigned int sourceLength,
                                             unsigned char* destination, int* compressedLength);

/* Returns 42. A sample export that plays no part in the codec. */
QUORRIN_API int QUORRIN_CALL fnQuorrin(void);

/* A sample exported variable: 0 when the library is loaded; the library never uses it. */
QUORRIN_API extern int nQuorrin;

#ifdef __cplusplus
} /* extern "C" */

/* A sample exported class without data; the library never uses it. */
class QUORRIN_API CQuorrin {
public:
    CQuorrin();                                 /* does nothing */
    CQuorrin& operator=(const CQuorrin& other); /* copies nothing, returns *this */
};
#endif

#endif /* QUORRIN_H */
