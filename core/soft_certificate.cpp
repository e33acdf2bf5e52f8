#include "core/soft_certificate.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "buffer/file_replacement.h"
#include "pkcs12/openssl_context.h"
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

// Null with `error` set when the bytes do not open with the PIN or ask too much of the tool.
UniqueCertStore Import(const CRYPT_DATA_BLOB& bytes, const char* pin, DWORD& error) {
    const CWidePin widePin(pin);
    if (!widePin.converted()) {
        error = ERROR_INVALID_PASSWORD;
        return nullptr;
    }
    CRYPT_DATA_BLOB blob = bytes;  // the platform takes a mutable blob; it only reads it
    UniqueCertStore store(PFXImportCertStore(&blob, widePin.get(), CRYPT_EXPORTABLE));
    error = store ? ERROR_SUCCESS : GetLastError();
    return store;
}

// The written file as OpenSSL's own derivations open it with the PIN, or null: the tool's
// faster ones wrote it and must not check themselves.
UniqueCertStore ImportForCheck(const CByteBuffer& written, const char* pin) {
    const CWidePin widePin(pin);
    CRYPT_DATA_BLOB blob = *written.Blob();
    return widePin.converted()
               ? UniqueCertStore(PFXImportCertStoreForCheck(&blob, widePin.get(), CRYPT_EXPORTABLE))
               : nullptr;
}

bool Export(HCERTSTORE store, CByteBuffer& exportBuffer, const char* pin) {
    const CWidePin widePin(pin);
    return widePin.converted() && PFXExportCertStoreEx(store, exportBuffer.Blob(), widePin.get(),
                                                       nullptr, EXPORT_PRIVATE_KEYS) != FALSE;
}

// A file beyond the tool's limits, damaged, or with protection the tool cannot renew, is not one
// with a wrong PIN; nor is an export that would be beyond them.
Outcome FromImportError(DWORD error, Reason& reason) {
    struct Meaning {
        DWORD code;
        Outcome outcome;
        Reason reason;
    };
    static constexpr Meaning kMeanings[] = {
        {PINTOOL_E_CANNOT_RENEW, Outcome::CannotSave, Reason::ProtectionNotRenewable},
        {PINTOOL_E_DAMAGED, Outcome::CannotSave, Reason::Damaged},
        {PINTOOL_E_FILE_TOO_LARGE, Outcome::BeyondLimits, Reason::FileTooLarge},
        {PINTOOL_E_TOO_MANY_BAGS, Outcome::BeyondLimits, Reason::TooManyBags},
        {PINTOOL_E_TOO_MUCH_WORK, Outcome::BeyondLimits, Reason::TooMuchWork},
        {PINTOOL_E_SCRYPT_MEMORY, Outcome::BeyondLimits, Reason::ScryptMemory},
        {PINTOOL_E_TOO_MANY_VALUES, Outcome::BeyondLimits, Reason::TooManyEncryptedValues},
        {PINTOOL_E_TOO_MANY_ELEMENTS, Outcome::BeyondLimits, Reason::TooManyElements},
        {PINTOOL_E_TOO_DEEP, Outcome::BeyondLimits, Reason::TooDeep},
        {PINTOOL_E_OUTPUT_TOO_LARGE, Outcome::BeyondLimits, Reason::OutputTooLarge},
    };
    for (const Meaning& meaning : kMeanings) {
        if (error == meaning.code) {
            reason = meaning.reason;
            return meaning.outcome;
        }
    }
    return Outcome::CannotOpenWithOldPin;
}

// What reached the disk must open with the new PIN and hold what the store holds.
bool WrittenAsExported(const CByteBuffer& written, const CByteBuffer& exported, HCERTSTORE store,
                       const char* newPin) {
    if (written.length() != exported.length() ||
        !std::equal(written.data(), written.data() + written.length(), exported.data())) {
        return false;
    }
    // The import decodes the whole file: whatever is no PKCS#12 does not open.
    const UniqueCertStore reopened = ImportForCheck(written, newPin);
    return reopened && CertStoresHoldSameBags(store, reopened.get());
}

// The file is replaced as a whole, never truncated in place: until the rename the old file
// stands as it was, and whatever fails leaves it so.
ReplaceProblem Replace(const char* path, const CByteBuffer& original, const CByteBuffer& exported,
                       HCERTSTORE store, const char* newPin) {
    CFileReplacement replacement;
    CByteBuffer written;
    if (replacement.Begin(path, original) == BUF_S_OK &&
        replacement.Write(exported) == BUF_S_WRITTEN && replacement.ReadBack(written) == BUF_S_OK &&
        WrittenAsExported(written, exported, store, newPin) &&
        replacement.Commit() == BUF_S_WRITTEN) {
        return ReplaceProblem::None;
    }
    // A written file that does not read back as exported has no problem of the file's own.
    return replacement.problem() == ReplaceProblem::None ? ReplaceProblem::Other
                                                         : replacement.problem();
}

struct Ending {
    Outcome outcome;
    Reason reason;
};

Ending EndingOf(ReplaceProblem problem) {
    switch (problem) {
        case ReplaceProblem::None:
            return {Outcome::PinChanged, Reason::None};
        case ReplaceProblem::InUse:
            return {Outcome::CannotSave, Reason::FileInUse};
        case ReplaceProblem::Gone:
            return {Outcome::FileGone, Reason::None};
        case ReplaceProblem::Changed:
            return {Outcome::FileChanged, Reason::None};
        case ReplaceProblem::NotWritable:
            return {Outcome::CannotSave, Reason::NoWritePermission};
        case ReplaceProblem::DirectoryNotWritable:
            return {Outcome::CannotSave, Reason::DirectoryNotWritable};
        case ReplaceProblem::DiskFull:
            return {Outcome::CannotSave, Reason::DiskFull};
        case ReplaceProblem::OwnerNotKept:
            return {Outcome::CannotSave, Reason::OwnerNotKept};
        case ReplaceProblem::AttributesNotKept:
            return {Outcome::CannotSave, Reason::AttributesNotKept};
        case ReplaceProblem::EncryptionNotKept:
            return {Outcome::CannotSave, Reason::EncryptionNotKept};
        case ReplaceProblem::HardLinks:
            return {Outcome::CannotSave, Reason::OtherLinks};
        case ReplaceProblem::Other:
            break;
    }
    return {Outcome::CannotSave, Reason::None};
}

Outcome ReencryptAndReplace(const CByteBuffer& certificate, const char* path, const char* oldPin,
                            const char* newPin, Reason& reason) {
    DWORD error = ERROR_SUCCESS;
    const UniqueCertStore store = Import(*certificate.Blob(), oldPin, error);
    if (!store) {
        return FromImportError(error, reason);
    }
    CByteBuffer exportBuffer;
    // The first call only learns the size; a failure shows in the second.
    Export(store.get(), exportBuffer, newPin);
    if (exportBuffer.SetLength(exportBuffer.length()) != BUF_S_OK ||
        !Export(store.get(), exportBuffer, newPin)) {
        error = GetLastError();
        return error == PINTOOL_E_OUTPUT_TOO_LARGE ? FromImportError(error, reason)
                                                   : Outcome::CannotSave;
    }
    const Ending ending = EndingOf(Replace(path, certificate, exportBuffer, store.get(), newPin));
    reason = ending.reason;
    return ending.outcome;
}

const unsigned char* Bytes(const char* text) {
    return reinterpret_cast<const unsigned char*>(text);
}

}  // namespace

Outcome OpenSoftCertificate(const char* path, CByteBuffer& certificate) noexcept {
    Reason reason = Reason::None;
    return OpenSoftCertificate(path, certificate, reason);
}

Outcome OpenSoftCertificate(const char* path, CByteBuffer& certificate, Reason& reason) noexcept {
    reason = Reason::None;
    // One byte beyond the largest file accepted tells a file that is too large without
    // reading all of it.
    const BUFRESULT loaded = certificate.LoadFromFile(path, 0, kMaxPfxBytes + 1);
    Outcome outcome = Outcome::NotSoftCertificate;
    if (loaded == (BUF_E_SYSTEM | ERROR_SHARING_VIOLATION)) {
        outcome = Outcome::FileInUse;
    } else if (loaded == (BUF_E_SYSTEM | ERROR_FILE_TOO_LARGE) ||
               (loaded == BUF_S_OK && certificate.length() > kMaxPfxBytes)) {
        outcome = Outcome::BeyondLimits;
        reason = Reason::FileTooLarge;
    } else if (loaded == BUF_S_OK && PFXIsPFXBlob(certificate.Blob())) {
        return Outcome::Accepted;
    }
    certificate.Free();
    return outcome;
}

bool PrepareChangePin() noexcept {
    return ossl::WarmUp();
}

namespace {

// Kept out of line, so that all it leaves on the stack lies below ChangePin's frame.
[[gnu::noinline]] Outcome ChangePinUnwiped(const CByteBuffer& certificate, const char* path,
                                           const char* oldPin, const char* newPin,
                                           const char* newPinRepeat, Reason& reason) noexcept {
    reason = Reason::None;
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
        return ReencryptAndReplace(certificate, path, oldPin, newPin, reason);
    } catch (const std::bad_alloc&) {
        return Outcome::CannotSave;  // the rename comes last, so the file is as it was
    }
}

}  // namespace

Outcome ChangePin(const CByteBuffer& certificate, const char* path, const char* oldPin,
                  const char* newPin, const char* newPinRepeat) noexcept {
    Reason reason = Reason::None;
    return ChangePin(certificate, path, oldPin, newPin, newPinRepeat, reason);
}

Outcome ChangePin(const CByteBuffer& certificate, const char* path, const char* oldPin,
                  const char* newPin, const char* newPinRepeat, Reason& reason) noexcept {
    const Outcome outcome =
        ChangePinUnwiped(certificate, path, oldPin, newPin, newPinRepeat, reason);
    WipeStackBelowCaller();  // keys and PINs the change left in dead stack frames
    return outcome;
}
