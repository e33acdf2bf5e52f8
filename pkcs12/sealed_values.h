#pragma once
// What in a bag is encrypted under the password. A shrouded key bag holds its key as an
// EncryptedPrivateKeyInfo; Java keeps secret keys the same way inside secret bags; any bag may
// hold one somewhere in a value of its own. Those are opened and encrypted anew with every
// change. Protection the tool cannot renew (a nested safe-contents bag, a password-based
// algorithm outside an EncryptedPrivateKeyInfo, one it cannot write, public-key encryption)
// makes the change fail: nothing may stay behind under the old PIN.

#include <cstddef>
#include <optional>
#include <vector>

#include "pkcs12/ber.h"
#include "pkcs12/pbe_params.h"

namespace sealed {

// An EncryptedPrivateKeyInfo inside a bag, under a scheme this tool reads and writes.
struct Found {
    std::vector<std::size_t> path;  // where in the bag, as ber::Replace takes it
    pbe::Params protection;
    SecretBytes encoding;  // as the bag has it
};

struct Scan {
    std::vector<Found> values;
    bool unrenewable = false;  // protection of another kind, which the tool cannot renew
};

// The values of `bag` (one SafeBag's encoding) encrypted under the password. Null where the bag
// cannot be read to its end: damaged (a value's parameters too), or beyond `budget`, which then
// says so. Bytes that read as no structure are plain data, unless they hold the identifier of a
// password-based scheme: a value there is one the tool cannot renew.
std::optional<Scan> ScanBag(ber::Bytes bag, ber::ReadBudget& budget);

// `plain` decrypted from a value is what such a value holds: a private key's PrivateKeyInfo
// where `privateKey`, otherwise exactly one element (so that a wrong password, which may pass
// the padding check, does not).
bool Plausible(const pbe::Plaintext& plain, bool privateKey);

// Decrypts `encoding` (an EncryptedPrivateKeyInfo) into `plain`; false where the password or
// the data is wrong.
bool Open(ber::Bytes encoding, const ossl::Secret& password, pbe::Plaintext& plain);

// `plain` encrypted as `protection` says, as an EncryptedPrivateKeyInfo; empty on failure.
SecretBytes Seal(const pbe::Params& protection, const pbe::Plaintext& plain,
                 const ossl::Secret& password);

}  // namespace sealed
