#include "tests/support/freed_heap.h"

#include <execinfo.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

#include "pkcs12/openssl_memory.h"
#include "platform/memory_api.h"

#if !defined(__SANITIZE_ADDRESS__)
// glibc's own entry points, which the replacements below hand the blocks to.
extern "C" void __libc_free(void* block);
extern "C" void* __libc_realloc(void* block, std::size_t size);
#endif

namespace testing_support {
namespace {

struct Hit {
    const Needle* needle;
    std::size_t blockSize;
};

std::atomic<const std::vector<Needle>*> g_needles{nullptr};
std::array<Hit, 64> g_hits{};
std::atomic<std::size_t> g_hitCount{0};
bool g_opensslWipes = false;

#if !defined(__SANITIZE_ADDRESS__)
// Runs inside free: allocates nothing. The stack of each hit goes to stderr at once, since
// only then is it known where the block came from.
void Inspect(void* block) noexcept {
    const std::vector<Needle>* needles = g_needles.load();
    if (block == nullptr || needles == nullptr) {
        return;
    }
    const std::size_t size = malloc_usable_size(block);
    if (const Needle* found = FindNeedle(block, size, *needles)) {
        const std::size_t index = g_hitCount++;
        if (index < g_hits.size()) {
            g_hits[index] = {found, size};
        }
        std::array<void*, 32> frames{};
        const int depth = backtrace(frames.data(), static_cast<int>(frames.size()));
        static constexpr char kHeader[] = "freed unwiped:\n";
        [[maybe_unused]] const auto written = write(STDERR_FILENO, kHeader, sizeof kHeader - 1);
        backtrace_symbols_fd(frames.data(), depth, STDERR_FILENO);
    }
}

void Release(void* block) noexcept {
    Inspect(block);
    __libc_free(block);
}
#endif

}  // namespace

bool FreedHeapIsWatched() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return g_opensslWipes;
#endif
}

FreedHeapWatch::FreedHeapWatch(const std::vector<Needle>& needles) {
    g_hitCount = 0;
    g_needles = &needles;
}

FreedHeapWatch::~FreedHeapWatch() {
    g_needles = nullptr;
}

std::vector<std::string> FreedHeapWatch::Hits() const {
    std::vector<std::string> hits;
    const std::size_t count = g_hitCount.load();
    for (std::size_t i = 0; i < count && i < g_hits.size(); ++i) {
        hits.push_back(g_hits[i].needle->name + " in a block of " +
                       std::to_string(g_hits[i].blockSize) + " bytes");
    }
    return hits;
}

}  // namespace testing_support

#if !defined(__SANITIZE_ADDRESS__)
// A realloc may move the block and free the old one.
extern "C" void* realloc(void* block, std::size_t size) noexcept {
    testing_support::Inspect(block);
    return __libc_realloc(block, size);
}
extern "C" void free(void* block) noexcept {
    testing_support::Release(block);
}

// Every form; libstdc++'s operator new takes its blocks from malloc and aligned_alloc.
void operator delete(void* block) noexcept {
    testing_support::Release(block);
}
void operator delete[](void* block) noexcept {
    testing_support::Release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    testing_support::Release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    testing_support::Release(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    testing_support::Release(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    testing_support::Release(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    testing_support::Release(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    testing_support::Release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    testing_support::Release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    testing_support::Release(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    testing_support::Release(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    testing_support::Release(block);
}
#endif

int main(int argc, char** argv) {
    // First, as in pintool's main: OpenSSL takes new memory functions only before it allocates.
    testing_support::g_opensslWipes = WipeOpensslMemoryOnRelease();
    std::array<void*, 1> frame{};
    backtrace(frame.data(), 1);  // loads what backtrace needs, which allocates, now
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
