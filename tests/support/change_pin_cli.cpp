// Changes the PIN of a file as the tool does, for the tests that check the result with other
// programs: change_pin_cli FILE OLD-PIN NEW-PIN. Prints the outcome's message, with the reason
// on a line of its own where there is one; the exit status is 0 exactly when the PIN was
// changed.

#include <cstdio>

#include "core/soft_certificate.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE OLD-PIN NEW-PIN\n", argv[0]);
        return 2;
    }
    CByteBuffer certificate;
    Reason reason = Reason::None;
    Outcome outcome = OpenSoftCertificate(argv[1], certificate, reason);
    if (outcome == Outcome::Accepted) {
        outcome = ChangePin(certificate, argv[1], argv[2], argv[3], argv[3], reason);
    }
    std::printf("%s\n", MessageFor(outcome, reason).text.c_str());
    return outcome == Outcome::PinChanged ? 0 : 1;
}
