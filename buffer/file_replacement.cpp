#include "buffer/file_replacement.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <new>
#include <random>
#include <string_view>
#include <thread>
#include <type_traits>

#include "buffer/replacement_steps.h"
#include "buffer/seams.h"

// The replacement as every system does it: what is checked, in which order, what a failure
// means, and which files are the tool's own. The system's part is in replacement_steps.

namespace steps = replacement_steps;

namespace {

using std::chrono::milliseconds;

// The pauses before a step that another program's momentary hold refused is tried again:
// growing, about two seconds in all, after which the file counts as in use.
constexpr std::array<milliseconds, 8> kPauses = {
    milliseconds(20),  milliseconds(40),  milliseconds(80),  milliseconds(160),
    milliseconds(300), milliseconds(400), milliseconds(500), milliseconds(500)};

// Runs an attempt (true when it succeeded, otherwise the reason in the last error) until it
// succeeds, fails for a reason a moment does not change, or the pauses are used up. Every step
// that opens, creates, flushes, renames or removes a file goes through here.
template <typename Attempt>
bool Persisting(Attempt attempt) {
    for (const milliseconds pause : kPauses) {
        if (attempt()) {
            return true;
        }
        if (!steps::MayPass(GetLastError())) {
            return false;
        }
        buffer_seams::Pausing();
        std::this_thread::sleep_for(pause);
    }
    return attempt();
}

// Keeps the temporary name within what file systems allow however long the target's name is.
constexpr size_t kMaxBaseInName = 200;
constexpr std::string_view kTemporaryMark = ".pintool-";
constexpr std::string_view kUniqueCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kUniqueLength = 6;
constexpr int kNameAttempts = 100;

SystemPath FromAscii(std::string_view text) {
    return SystemPath(text.begin(), text.end());
}

// At most `limit` units of a name, never ending inside a character: some file systems refuse
// names that are not valid UTF-8 or UTF-16.
SystemPath CutAtCharacter(const SystemPath& name, size_t limit) {
    size_t cut = std::min(limit, name.size());
    while (cut > 0 && cut < name.size() && steps::ContinuesCharacter(name[cut])) {
        --cut;
    }
    return name.substr(0, cut);
}

// ".NAME.pintool-": what the temporary files of a target are called, before their unique part.
SystemPath TemporaryPrefix(const SystemPath& name) {
    return FromAscii(".") + CutAtCharacter(name, kMaxBaseInName) + FromAscii(kTemporaryMark);
}

SystemPath UniquePart(std::mt19937& random) {
    std::uniform_int_distribution<size_t> pick(0, kUniqueCharacters.size() - 1);
    SystemPath unique;
    for (size_t i = 0; i < kUniqueLength; ++i) {
        unique += static_cast<SystemPath::value_type>(kUniqueCharacters[pick(random)]);
    }
    return unique;
}

// Exactly the names UniquePart makes after `prefix`: the same letters in the same case.
bool IsTemporaryOf(const SystemPath& name, const SystemPath& prefix) {
    const auto isUnique = [](SystemPath::value_type unit) {
        const auto code = static_cast<std::make_unsigned_t<SystemPath::value_type>>(unit);
        return code < 0x80 &&
               kUniqueCharacters.find(static_cast<char>(code)) != std::string_view::npos;
    };
    return name.size() == prefix.size() + kUniqueLength && name.starts_with(prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       isUnique);
}

// A change that was killed leaves its temporary file; the next change of the same file removes
// those of this user. Another user's are not ours to remove, nor the files of other names. While
// the target is held no other change of it is under way.
void RemoveLeftovers(const SystemPath& directory, const SystemPath& prefix) {
    for (const SystemPath& name : steps::NamesStartingWith(directory, prefix)) {
        const SystemPath path = directory + name;
        if (IsTemporaryOf(name, prefix) && steps::IsOwnFile(path)) {
            steps::RemoveFile(path);
        }
    }
}

// The directory keeps its separator, so that a name appended to it makes a path.
void SplitPath(CFileTarget& target) {
    const size_t nameStart = target.path.find_last_of(kPathSeparators) + 1;
    target.directory = target.path.substr(0, nameStart);
    target.name = target.path.substr(nameStart);
}

// The whole content of an open file, read from its start.
BUFRESULT ReadWhole(HANDLE file, CByteBuffer& content) {
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    if (high != 0 || size == INVALID_FILE_SIZE) {
        return BUF_E_FAIL;
    }
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0 || content.SetLength(size) != BUF_S_OK) {
        return BUF_E_FAIL;
    }
    DWORD read = 0;
    if (!ReadFile(file, content.data(), size, &read, nullptr)) {
        return ResultFromLastError();
    }
    return read == size ? BUF_S_OK : BUF_E_FAIL;
}

bool SameContent(const CByteBuffer& first, const CByteBuffer& second) {
    return first.length() == second.length() &&
           (first.length() == 0 || std::memcmp(first.data(), second.data(), first.length()) == 0);
}

bool SameFile(const CFileIdentity& first, const CFileIdentity& second) {
    return first.volume == second.volume && first.index == second.index;
}

// A name that does not lead to a file.
ReplaceProblem ProblemFinding(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReplaceProblem::Gone
                                                                          : ReplaceProblem::Other;
}

ReplaceProblem ProblemFromError(DWORD error, ReplaceProblem accessDenied) {
    if (steps::IsDiskFull(error)) {
        return ReplaceProblem::DiskFull;
    }
    switch (error) {
        case ERROR_WRITE_PROTECT:
            return ReplaceProblem::NotWritable;
        case ERROR_ACCESS_DENIED:
            return accessDenied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return ReplaceProblem::InUse;
        case ERROR_ENCRYPTION_FAILED:
            return ReplaceProblem::EncryptionNotKept;
        default:
            return ReplaceProblem::Other;
    }
}

// Runs a step that allocates; running out of memory fails it like anything else.
template <typename Step>
BUFRESULT Guarded(ReplaceProblem& problem, Step step) noexcept {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        problem = ReplaceProblem::Other;
        return BUF_E_OUTOFMEMORY;
    }
}

}  // namespace

CFileReplacement::~CFileReplacement() {
    if (!m_temporary.empty() && !m_committed) {
        m_temporaryFile.Close();
        Persisting([&] { return steps::RemoveFile(m_temporary); });
    }
}

std::string CFileReplacement::temporaryPath() const {
    return steps::AnsiPath(m_temporary);
}

BUFRESULT CFileReplacement::Fail(ReplaceProblem problem) noexcept {
    m_problem = problem;
    return ResultFromLastError();
}

BUFRESULT CFileReplacement::FailOpeningTarget() noexcept {
    switch (GetLastError()) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return Fail(ReplaceProblem::InUse);
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return Fail(ReplaceProblem::Gone);
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return Fail(ReplaceProblem::NotWritable);
        default:
            return Fail(ReplaceProblem::Other);
    }
}

BUFRESULT CFileReplacement::Begin(const char* path, const CByteBuffer& original) noexcept {
    if (path == nullptr) {
        return BUF_E_INVALIDARG;
    }
    if (m_targetFile.valid()) {
        return BUF_E_FAIL;
    }
    m_original = &original;
    return Guarded(m_problem, [&] {
        const BUFRESULT opened = OpenTarget(path);
        if (opened != BUF_S_OK) {
            return opened;
        }
        const BUFRESULT checked = CheckTarget();
        return checked == BUF_S_OK ? CreateTemporary() : checked;
    });
}

BUFRESULT CFileReplacement::OpenTarget(const char* path) {
    if (!steps::Resolve(path, m_target.path)) {
        return Fail(ProblemFinding(GetLastError()));
    }
    // Whether the user may change the file is what opening it for writing, with the process's
    // own rights, says: its mode and ACLs, or its DACL and read-only attribute. It is not
    // truncated, and it is held until the replacement ends.
    if (!Persisting([&] {
            m_targetFile.Reset(steps::OpenHeld(m_target.path));
            return m_targetFile.valid();
        })) {
        return FailOpeningTarget();
    }
    if (!steps::IdentifyHeld(m_targetFile.get(), m_target.identity)) {
        return Fail(ReplaceProblem::Other);
    }
    // Root or an administrator may open anything for writing, but a file nobody may write was
    // made read-only on purpose.
    if (m_target.identity.readOnly) {
        SetLastError(ERROR_ACCESS_DENIED);
        return Fail(ReplaceProblem::NotWritable);
    }
    SplitPath(m_target);
    return BUF_S_OK;
}

BUFRESULT CFileReplacement::HoldTarget() noexcept {
    if (m_targetFile.valid()) {
        return BUF_S_OK;
    }
    SystemPath path = m_target.path;
    m_targetFile.Reset(steps::OpenHeld(path));
    if (!m_targetFile.valid()) {
        return FailOpeningTarget();
    }
    CFileIdentity held;
    if (!steps::IdentifyHeld(m_targetFile.get(), held)) {
        return Fail(ReplaceProblem::Other);
    }
    if (!SameFile(held, m_target.identity)) {
        SetLastError(ERROR_FILE_INVALID);
        return Fail(ReplaceProblem::Changed);
    }
    return BUF_S_OK;
}

BUFRESULT CFileReplacement::CheckTarget() noexcept {
    CFileIdentity named;
    if (!steps::IdentifyNamed(m_target.path, named)) {
        return Fail(ProblemFinding(GetLastError()));
    }
    if (!SameFile(named, m_target.identity)) {
        SetLastError(ERROR_FILE_INVALID);
        return Fail(ReplaceProblem::Changed);
    }
    // Replacing a file with other names would leave the old content, old PIN and all, there.
    if (named.links > 1) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return Fail(ReplaceProblem::HardLinks);
    }
    return CheckContent();
}

BUFRESULT CFileReplacement::CheckContent() noexcept {
    // A file of another size is not read at all.
    DWORD high = 0;
    if (GetFileSize(m_targetFile.get(), &high) != m_original->length() || high != 0) {
        SetLastError(ERROR_FILE_INVALID);
        return Fail(ReplaceProblem::Changed);
    }
    CByteBuffer now;
    const BUFRESULT read = ReadWhole(m_targetFile.get(), now);
    if (read != BUF_S_OK) {
        m_problem = ReplaceProblem::Other;
        return read;
    }
    if (!SameContent(now, *m_original)) {
        SetLastError(ERROR_FILE_INVALID);
        return Fail(ReplaceProblem::Changed);
    }
    return BUF_S_OK;
}

BUFRESULT CFileReplacement::CreateTemporary() {
    const SystemPath prefix = TemporaryPrefix(m_target.name);
    RemoveLeftovers(m_target.directory, prefix);
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        SystemPath path = m_target.directory + prefix + UniquePart(random);
        if (Persisting([&] {
                m_temporaryFile.Reset(steps::CreateExclusive(path, m_targetFile.get()));
                return m_temporaryFile.valid();
            })) {
            m_temporary = std::move(path);
            return BUF_S_OK;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            return Fail(ProblemFromError(GetLastError(), ReplaceProblem::DirectoryNotWritable));
        }
    }
    return Fail(ReplaceProblem::Other);
}

BUFRESULT CFileReplacement::CopyAttributes() noexcept {
    return Guarded(m_problem, [&] {
        const ReplaceProblem problem =
            steps::CopyAttributes(m_targetFile.get(), m_temporaryFile.get());
        return problem == ReplaceProblem::None ? BUF_S_OK : Fail(problem);
    });
}

BUFRESULT CFileReplacement::Write(const CByteBuffer& content) noexcept {
    if (!m_temporaryFile.valid()) {
        return BUF_E_FAIL;
    }
    DWORD written = 0;
    if (!WriteFile(m_temporaryFile.get(), content.data(), content.length(), &written, nullptr) ||
        written != content.length()) {
        return Fail(ProblemFromError(GetLastError(), ReplaceProblem::Other));
    }
    // Owner, permissions and attributes before the one flush: the file that takes the target's
    // place is complete on disk the moment it gets its name.
    if (const BUFRESULT copied = CopyAttributes(); copied != BUF_S_OK) {
        return copied;
    }
    if (!Persisting([&] { return steps::Flush(m_temporaryFile.get()); })) {
        return Fail(ProblemFromError(GetLastError(), ReplaceProblem::Other));
    }
    return BUF_S_WRITTEN;
}

BUFRESULT CFileReplacement::ReadBack(CByteBuffer& content) const noexcept {
    // Through the open file: its mode, now the target's, may not let its owner open it again.
    return m_temporaryFile.valid() ? ReadWhole(m_temporaryFile.get(), content) : BUF_E_FAIL;
}

BUFRESULT CFileReplacement::Commit() noexcept {
    if (!m_temporaryFile.valid() || m_committed) {
        return BUF_E_FAIL;
    }
    // Held, just before every rename: the target must still be what the change began from, or
    // another program's newer file would be lost. Where the system let it go for a rename that
    // another program's hold refused, it is held and checked again after the pause.
    BUFRESULT checked = BUF_S_OK;
    const bool renamed = Persisting([&] {
        checked = HoldTarget();
        if (checked == BUF_S_OK) {
            checked = CheckTarget();
        }
        return checked == BUF_S_OK &&
               steps::RenameOver(m_temporaryFile, m_targetFile, m_temporary, m_target.path);
    });
    if (checked != BUF_S_OK) {
        return checked;
    }
    if (!renamed) {
        return Fail(ProblemFromError(GetLastError(), ReplaceProblem::DirectoryNotWritable));
    }
    m_committed = true;
    m_problem = ReplaceProblem::None;
    // The new name is durable only once the directory is; the file itself was flushed.
    steps::FlushDirectory(m_target.directory);
    return BUF_S_WRITTEN;
}
