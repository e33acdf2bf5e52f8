// Arbitrary bytes into the PKCS#12 recognition and import, with a fixed password.

#include <cstddef>
#include <cstdint>

#include "pkcs12/crypt32.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(size), const_cast<BYTE*>(data)};
    PFXIsPFXBlob(&blob);
    if (HCERTSTORE store = PFXImportCertStore(&blob, u"Grüße€", CRYPT_EXPORTABLE)) {
        CertCloseStore(store, 0);
    }
    return 0;
}
