#include "pkcs12/kdf_memo.h"

#include <atomic>
#include <cstring>
#include <utility>

namespace kdfmemo {
namespace {

std::atomic<std::size_t> g_served{0};
std::atomic<std::size_t> g_kept{0};
std::atomic<const Memo*> g_serving{nullptr};
thread_local Memo* t_recording = nullptr;

}  // namespace

Memo::Memo() noexcept = default;

Memo::Memo(Memo&& other) noexcept : m_entries(std::move(other.m_entries)) {
    other.m_entries.clear();
}

Memo& Memo::operator=(Memo&& other) noexcept {
    if (this != &other) {
        g_kept -= m_entries.size();
        m_entries = std::move(other.m_entries);
        other.m_entries.clear();
    }
    return *this;
}

Memo::~Memo() {
    g_kept -= m_entries.size();  // each entry's secrets wipe themselves
}

void Memo::Absorb(Memo&& other) {
    m_entries.reserve(m_entries.size() + other.m_entries.size());
    for (Entry& entry : other.m_entries) {
        m_entries.push_back(std::move(entry));
    }
    other.m_entries.clear();
}

const Secret* Memo::Find(const Secret& inputs) const noexcept {
    for (const Entry& entry : m_entries) {
        if (entry.inputs == inputs) {
            return &entry.output;
        }
    }
    return nullptr;
}

void Memo::Add(Entry entry) {
    m_entries.push_back(std::move(entry));
    ++g_kept;
}

ScopedRecording::ScopedRecording(Memo& into) noexcept : m_previous(t_recording) {
    t_recording = &into;
}

ScopedRecording::~ScopedRecording() {
    t_recording = m_previous;
}

ScopedServing::ScopedServing(const Memo& memo) noexcept {
    g_serving = &memo;
}

ScopedServing::~ScopedServing() {
    g_serving = nullptr;
}

bool Serve(const Secret& inputs, unsigned char* key, std::size_t length) {
    const Memo* const memo = g_serving.load();
    const Secret* const kept = memo != nullptr ? memo->Find(inputs) : nullptr;
    if (kept == nullptr || kept->size() != length) {
        return false;
    }
    std::memcpy(key, kept->data(), length);
    ++g_served;
    return true;
}

void Record(Secret inputs, const unsigned char* key, std::size_t length) {
    if (t_recording != nullptr) {
        t_recording->Add({std::move(inputs), Secret(reinterpret_cast<const char*>(key), length)});
    }
}

std::size_t ServedForTesting() noexcept {
    return g_served;
}

std::size_t KeptForTesting() noexcept {
    return g_kept;
}

}  // namespace kdfmemo
