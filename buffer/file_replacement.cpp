#include <cstring>

#include "buffer/file_replacement.h"

// What both systems' replacements share: reading a file whole through its handle and comparing
// it with the original, and what a failure to open the target means.

namespace {

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

}  // namespace

BUFRESULT CFileReplacement::Fail(ReplaceProblem problem) noexcept {
    m_problem = problem;
    return ResultFromLastError();
}

BUFRESULT CFileReplacement::FailOpeningTarget() noexcept {
    switch (GetLastError()) {
        case ERROR_SHARING_VIOLATION:
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

BUFRESULT CFileReplacement::ReadBack(CByteBuffer& content) const noexcept {
    // Through the open file: its mode, now the target's, may not let its owner open it again.
    return m_temporaryFile.valid() ? ReadWhole(m_temporaryFile.get(), content) : BUF_E_FAIL;
}
