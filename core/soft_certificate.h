#pragma once
// The tool's own logic: recognising a soft certificate and changing its PIN.

#include "buffer/byte_buffer.h"
#include "core/outcome.h"

// Loads the whole file into `certificate`; Accepted when it holds PKCS#12, otherwise
// NotSoftCertificate (or FileInUse, BeyondLimits) with the buffer freed.
Outcome OpenSoftCertificate(const char* path, CByteBuffer& certificate) noexcept;

// Checks the entries, opens the certificate with the old PIN and replaces the file at `path`
// with the same contents under the new PIN. `certificate` is only read. Every outcome but
// PinChanged leaves the file as it was.
Outcome ChangePin(const CByteBuffer& certificate, const char* path, const char* oldPin,
                  const char* newPin, const char* newPinRepeat) noexcept;

// The same, also saying why where the outcome alone does not (MessageFor with both gives the
// whole message). The file is replaced only while it still holds the bytes of `certificate`.
Outcome OpenSoftCertificate(const char* path, CByteBuffer& certificate, Reason& reason) noexcept;
Outcome ChangePin(const CByteBuffer& certificate, const char* path, const char* oldPin,
                  const char* newPin, const char* newPinRepeat, Reason& reason) noexcept;

// The one-time set-up of OpenSSL a first change would otherwise wait for (loading and looking
// up the algorithms), done ahead: the PIN dialog calls it when it opens. A change works
// without it. False when OpenSSL could not be set up, which the change then reports.
bool PrepareChangePin() noexcept;
