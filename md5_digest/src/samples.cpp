// The library's sample exports. They take no part in the digest.
#include "nimbrel.h"

extern "C" {

NIMBREL_API int nNimbrel = 0;

NIMBREL_API int NIMBREL_CALL fnNimbrel(void) {
    return 42;
}

} // extern "C"

CNimbrel::CNimbrel() = default;

CNimbrel& CNimbrel::operator=(const CNimbrel& /*other*/) {
    return *this;
}
