/*
 * nimbrel.h - the Nimbrel library: the MD5 message digest (RFC 1321) of a byte buffer.
 *
 * One call takes the whole message and writes its 16-byte digest. There is no incremental
 * interface and no state between calls.
 *
 * Threads: GetMD5 works only on its arguments and on memory of its own call frame, so any number
 * of threads may call it at once, on the same or on different input buffers (each call with its
 * own digest buffer). It allocates nothing and never fails.
 *
 * Exports, by these names on every platform: GetMD5, fnNimbrel and nNimbrel (C names, cdecl,
 * undecorated), and the default constructor and copy assignment of class CNimbrel.
 */
#ifndef NIMBREL_H
#define NIMBREL_H

#if defined(_WIN32)
#if defined(NIMBREL_BUILD)
#define NIMBREL_API __declspec(dllexport)
#else
#define NIMBREL_API __declspec(dllimport)
#endif
#define NIMBREL_CALL __cdecl
#else
#define NIMBREL_API __attribute__((visibility("default")))
#define NIMBREL_CALL
#endif

/* Length of an MD5 digest in bytes. */
#define NIMBREL_DIGEST_SIZE 16

#ifdef __cplusplus
extern "C" {
#endif

/*
 * GetMD5 - computes the MD5 digest of `length` bytes at `data` and writes it to `digest`.
 *
 * data:   the message, any bytes (it is not a string). It is read only, and not read at all when
 *         `length` is 0 or negative; it may then be null.
 * length: the number of message bytes, 0 to 2147483647.
 * digest: a buffer of at least 16 writable bytes. It receives the digest in its usual byte
 *         order: the conventional 32-digit hexadecimal form is these 16 bytes in order
 *         ("d41d8cd98f00b204e9800998ecf8427e" for the empty message). Exactly 16 bytes are
 *         written, always; nothing behind them is touched.
 *
 * A negative length is outside the contract (there is no message of negative size). It is
 * treated as 0: `digest` receives the digest of the empty message and `data` is not read.
 *
 * Neither pointer is checked. The working context (chaining words, bit count and the copy of
 * the message's last partial block) lives in the call's frame, never on the heap, and is
 * overwritten with zeros before the call returns. `digest` may overlap `data`: it is written
 * only after the whole message has been read.
 */
NIMBREL_API void NIMBREL_CALL GetMD5(const unsigned char* data, int length, unsigned char* digest);

/* A sample function that plays no part in the digest: returns 42 on every call. */
NIMBREL_API int NIMBREL_CALL fnNimbrel(void);

/* A sample variable that plays no part in the digest: 0 in a fresh process. Nothing in the
 * library reads or writes it. */
extern NIMBREL_API int nNimbrel;

#ifdef __cplusplus
} /* extern "C" */

/* A sample class that plays no part in the digest. It has no data; its constructor does nothing
 * and its copy assignment copies nothing and returns the object itself. */
class NIMBREL_API CNimbrel {
public:
    CNimbrel();
    CNimbrel& operator=(const CNimbrel& other);
};
#endif

#endif /* NIMBREL_H */
