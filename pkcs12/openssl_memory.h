#pragma once
// OpenSSL's memory functions, set to the tool's own.

// Makes OpenSSL wipe every block it gives back. Some of its frees are not wiped otherwise:
// the PKCS#12 key derivation frees the salt and password (as BMPString) and the derived key
// as they were. Takes effect only before OpenSSL's first allocation; false after it.
bool WipeOpensslMemoryOnRelease() noexcept;
