// The exported interface of Quorrin: thin wrappers over the codec, the sample exports and the
// library entry point.
#include "quorrin.h"

#include "codec_internal.h"

#ifdef _WIN32
#include <windows.h>
#endif

extern "C" {

QUORRIN_API int nQuorrin = 0;

QUORRIN_API int QUORRIN_CALL DecompressPackage(const unsigned char* source, int sourceLength,
                                               unsigned char* destination, int destinationLength,
                                               int allowPartial) {
    const quorrin::DecodeResult result = quorrin::Decode(
        source, sourceLength, destination, destinationLength,
        allowPartial != 0 ? quorrin::DecodeMode::kPartial : quorrin::DecodeMode::kExact);
    return result == quorrin::DecodeResult::kOk ? 1 : 0;
}

QUORRIN_API int QUORRIN_CALL CompressPackage(const unsigned char* source, unsigned int sourceLength,
                                             unsigned char* destination, int* compressedLength) {
    static_assert(sizeof(int) == 4, "the interface uses 32-bit integers");
    return quorrin::Encode(source, sourceLength, destination, compressedLength,
                           quorrin::DefaultAllocator());
}

QUORRIN_API int QUORRIN_CALL fnQuorrin(void) {
    return 42;
}

} // extern "C"

CQuorrin::CQuorrin() {}

CQuorrin& CQuorrin::operator=(const CQuorrin&) {
    return *this;
}

#ifdef _WIN32
// The library has nothing to set up or tear down: every notification succeeds.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
#endif
