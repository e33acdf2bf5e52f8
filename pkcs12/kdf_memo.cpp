#include "pkcs12/kdf_memo.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "pkcs12/seams.h"

namespace kdfmemo {
namespace {

thread_local Memo* t_recording = nullptr;
thread_local Memo* t_serving = nullptr;

}  // namespace

Memo::Memo() noexcept = default;

Memo::Memo(Memo&& other) noexcept : m_entries(std::move(other.m_entries)) {
    other.m_entries.clear();
}

Memo& Memo::operator=(Memo&& other) noexcept {
    if (this != &other) {
        engine_seams::MemoKept(-static_cast<std::ptrdiff_t>(m_entries.size()));
        m_entries = std::move(other.m_entries);
        other.m_entries.clear();
    }
    return *this;
}

Memo::~Memo() {
    // each entry's secrets wipe themselves
    engine_seams::MemoKept(-static_cast<std::ptrdiff_t>(m_entries.size()));
}

void Memo::Absorb(Memo&& other) {
    const std::scoped_lock lock(m_mutex, other.m_mutex);
    m_entries.reserve(m_entries.size() + other.m_entries.size());
    for (Entry& entry : other.m_entries) {
        m_entries.push_back(std::move(entry));
    }
    other.m_entries.clear();
}

std::optional<Secret> Memo::Take(const Secret& inputs) {
    const std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& entry) {
        return SameSecret(entry.inputs, inputs);
    });
    if (found == m_entries.end()) {
        return std::nullopt;
    }
    Secret output = std::move(found->output);
    m_entries.erase(found);  // its inputs are wiped as they go
    engine_seams::MemoKept(-1);
    return output;
}

void Memo::Add(Entry entry) {
    const std::lock_guard lock(m_mutex);
    m_entries.push_back(std::move(entry));
    engine_seams::MemoKept(1);
}

std::size_t Memo::size() const {
    const std::lock_guard lock(m_mutex);
    return m_entries.size();
}

ScopedRecording::ScopedRecording(Memo& into) noexcept : m_previous(t_recording) {
    t_recording = &into;
}

ScopedRecording::~ScopedRecording() {
    t_recording = m_previous;
}

ScopedServing::ScopedServing(Memo& memo) noexcept : m_previous(t_serving) {
    t_serving = &memo;
}

ScopedServing::~ScopedServing() {
    t_serving = m_previous;
}

bool Serve(const Secret& inputs, unsigned char* key, std::size_t length) {
    const std::optional<Secret> kept =
        t_serving != nullptr ? t_serving->Take(inputs) : std::nullopt;
    if (!kept || kept->size() != length) {
        return false;
    }
    std::memcpy(key, kept->data(), length);
    engine_seams::MemoServed();
    return true;
}

void Record(Secret inputs, const unsigned char* key, std::size_t length) {
    if (t_recording != nullptr) {
        t_recording->Add({std::move(inputs), Secret(reinterpret_cast<const char*>(key), length)});
    }
}

}  // namespace kdfmemo
