#include "core/soft_certificate.h"

#include <algorithm>
#include <memory>
#include <new>

#include "buffer/file_replacement.h"
#include "platform/memory_api.h"
#include "platform/secret.h"
#include "platform/string_api.h"

namespace {

// A PIN converted to UTF-16 for one platform call; wiped when it goes.
class CWidePin {
public:
    explicit CWidePin(const char* pin)
        : m_units(WideSecret::Zeroed(static_cast<size_t>(lstrlenA(pin)))) {
        m_converted = MultiByteToWideChar(CP_ACP, 0, pin, -1, m_units.data(),
                                          static_cast<int>(m_units.size() + 1)) != 0;
    }
    CWidePin(const CWidePin&) = delete;
    CWidePin& operator=(const CWidePin&) = delete;

    LPCWSTR get() const noexcept { return m_units.data(); }
    // A failed conversion must not go on as an empty password.
    bool converted() const noexcept { return m_converted; }

private:
    WideSecret m_units;  // no more units than the PIN has bytes, and the terminator
    bool m_converted = false;
};

UniqueCertStore Import(const CRYPT_DATA_BLOB& bytes, const char* pin) {
    const CWidePin widePin(pin);
    if (!widePin.converted()) {
        return nullptr;
    }
    CRYPT_DATA_BLOB blob = bytes;  // the platform takes a mutable blob; it only reads it
    return UniqueCertStore(PFXImportCertStore(&blob, widePin.get(), CRYPT_EXPORTABLE));
}

bool Export(HCERTSTORE store, CByteBuffer& exportBuffer, const char* pin) {
    const CWidePin widePin(pin);
    return widePin.converted() && PFXExportCertStoreEx(store, exportBuffer.Blob(), widePin.get(),
                                                       nullptr, EXPORT_PRIVATE_KEYS) != FALSE;
}

// What reached the disk must open with the new PIN and hold what the store holds.
bool WrittenAsExported(const CByteBuffer& written, const CByteBuffer& exported, HCERTSTORE store,
                       const char* newPin) {
    if (written.length() != exported.length() ||
        !std::equal(written.data(), written.data() + written.length(), exported.data())) {
        return false;
    }
    // The import decodes the whole file: whatever is no PKCS#12 does not open.
    const UniqueCertStore reopened = Import(*written.Blob(), newPin);
    return reopened && CertStoresHoldSameBags(store, reopened.get());
}

// The file is replaced as a whole, never truncated in place: until the rename the old file
// stands as it was, and whatever fails leaves it so.
bool Replace(const char* path, const CByteBuffer& exported, HCERTSTORE store, const char* newPin) {
    CFileReplacement replacement;
    CByteBuffer written;
    return replacement.Begin(path) == BUF_S_OK && replacement.Write(exported) == BUF_S_WRITTEN &&
           replacement.ReadBack(written) == BUF_S_OK &&
           WrittenAsExported(written, exported, store, newPin) &&
           replacement.Commit() == BUF_S_WRITTEN;
}

Outcome ReencryptAndReplace(const CByteBuffer& certificate, const char* path, const char* oldPin,
                            const char* newPin) {
    const UniqueCertStore store = Import(*certificate.Blob(), oldPin);
    if (!store) {
        return Outcome::CannotOpenWithOldPin;
    }
    CByteBuffer exportBuffer;
    // The first call only learns the size; a failure shows in the second.
    Export(store.get(), exportBuffer, newPin);
    if (exportBuffer.SetLength(exportBuffer.length()) != BUF_S_OK ||
        !Export(store.get(), exportBuffer, newPin) ||
        !Replace(path, exportBuffer, store.get(), newPin)) {
        return Outcome::CannotSave;
    }
    return Outcome::PinChanged;
}

const unsigned char* Bytes(const char* text) {
    return reinterpret_cast<const unsigned char*>(text);
}

}  // namespace

Outcome OpenSoftCertificate(const char* path, CByteBuffer& certificate) noexcept {
    if (certificate.LoadFromFile(path, 0, 0) == BUF_S_OK && PFXIsPFXBlob(certificate.Blob())) {
        return Outcome::Accepted;
    }
    certificate.Free();
    return Outcome::NotSoftCertificate;
}

namespace {

// Kept out of line, so that all it leaves on the stack lies below ChangePin's frame.
[[gnu::noinline]] Outcome ChangePinUnwiped(const CByteBuffer& certificate, const char* path,
                                           const char* oldPin, const char* newPin,
                                           const char* newPinRepeat) noexcept {
    if (lstrlenA(oldPin) == 0) {
        return Outcome::OldPinMissing;
    }
    if (lstrlenA(newPin) == 0) {
        return Outcome::NewPinMissing;
    }
    if (lstrlenA(newPinRepeat) == 0) {
        return Outcome::RepeatMissing;
    }
    if (_mbscmp(Bytes(newPin), Bytes(newPinRepeat)) != 0) {
        return Outcome::RepeatDiffers;
    }
    CRYPT_DATA_BLOB blob = *certificate.Blob();
    if (!PFXIsPFXBlob(&blob)) {
        return Outcome::CannotOpenWithOldPin;
    }
    try {
        return ReencryptAndReplace(certificate, path, oldPin, newPin);
    } catch (const std::bad_alloc&) {
        return Outcome::CannotSave;  // the rename comes last, so the file is as it was
    }
}

}  // namespace

Outcome ChangePin(const CByteBuffer& certificate, const char* path, const char* oldPin,
                  const char* newPin, const char* newPinRepeat) noexcept {
    const Outcome outcome = ChangePinUnwiped(certificate, path, oldPin, newPin, newPinRepeat);
    WipeStackBelowCaller();  // keys and PINs the change left in dead stack frames
    return outcome;
}
