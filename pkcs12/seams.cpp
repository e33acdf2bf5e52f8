#include "pkcs12/seams.h"

namespace engine_seams {

const unsigned char* ChosenSaltOrIv(int /*length*/) noexcept {
    return nullptr;
}

void Derived(std::size_t /*passwordLength*/, unsigned char* /*key*/,
             std::size_t /*keyLength*/) noexcept {}

unsigned ThreadCount(unsigned machine) noexcept {
    return machine;
}

void BeforeThreadStart() {}

void WorkEnded() noexcept {}

}  // namespace engine_seams
