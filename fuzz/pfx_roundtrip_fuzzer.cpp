// Inputs that open with the fixed password must come back whole from an export under a new
// one: the export opens with the new password and holds the same bags.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "pkcs12/crypt32.h"

namespace {

using Store = UniqueCertStore;

const char16_t kPassword[] = u"Grüße€";
const char16_t kNewPassword[] = u"Schlüssel€ 2";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(size), const_cast<BYTE*>(data)};
    const Store store(PFXImportCertStore(&blob, kPassword, CRYPT_EXPORTABLE));
    if (!store) {
        return 0;
    }
    CRYPT_DATA_BLOB exported{0, nullptr};
    if (!PFXExportCertStoreEx(store.get(), &exported, kNewPassword, nullptr, EXPORT_PRIVATE_KEYS)) {
        return 0;  // a part this tool cannot write back: the change ends as CannotSave
    }
    std::vector<BYTE> bytes(exported.cbData);
    exported.pbData = bytes.data();
    if (!PFXExportCertStoreEx(store.get(), &exported, kNewPassword, nullptr, EXPORT_PRIVATE_KEYS)) {
        __builtin_trap();  // the size query succeeded, the export must too
    }
    const Store reopened(PFXImportCertStore(&exported, kNewPassword, CRYPT_EXPORTABLE));
    if (!reopened || !CertStoresHoldSameBags(store.get(), reopened.get())) {
        __builtin_trap();
    }
    return 0;
}
