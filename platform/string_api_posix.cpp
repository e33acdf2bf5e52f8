#include "platform/string_api.h"

#include <cstring>

#include "platform/file_api.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Reads one UTF-8 sequence at text[0..length); returns the code point and sets `used`.
// Overlong forms, surrogates and values beyond U+10FFFF are invalid and consume one byte.
char32_t DecodeOne(const unsigned char* text, int length, int& used) {
    const unsigned char lead = text[0];
    used = 1;
    if (lead < 0x80) {
        return lead;
    }
    int extra = 0;
    char32_t minimum = 0;
    char32_t value = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, minimum = 0x80, value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, minimum = 0x800, value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, minimum = 0x10000, value = lead & 0x07;
    } else {
        return kReplacement;
    }
    if (extra >= length) {
        return kReplacement;
    }
    for (int i = 1; i <= extra; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            return kReplacement;
        }
        value = (value << 6) | (text[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return kReplacement;
    }
    used = extra + 1;
    return value;
}

}  // namespace

int lstrlenA(LPCSTR string) noexcept {
    return string == nullptr ? 0 : static_cast<int>(std::strlen(string));
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength,
                        LPWSTR wideChar, int wideCharLength) noexcept {
    if (codePage != CP_ACP || flags != 0 || multiByte == nullptr || multiByteLength == 0 ||
        multiByteLength < -1 || wideCharLength < 0 ||
        (wideChar == nullptr && wideCharLength != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto* source = reinterpret_cast<const unsigned char*>(multiByte);
    const int length = multiByteLength == -1 ? lstrlenA(multiByte) + 1 : multiByteLength;
    int written = 0;
    const auto put = [&](char16_t unit) {
        if (wideCharLength != 0 && written < wideCharLength) {
            wideChar[written] = unit;
        }
        ++written;
    };
    for (int position = 0; position < length;) {
        int used = 0;
        const char32_t code = DecodeOne(source + position, length - position, used);
        position += used;
        if (code >= 0x10000) {
            put(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            put(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            put(static_cast<char16_t>(code));
        }
    }
    if (wideCharLength != 0 && written > wideCharLength) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return written;
}

int _mbscmp(const unsigned char* first, const unsigned char* second) noexcept {
    return std::strcmp(reinterpret_cast<const char*>(first), reinterpret_cast<const char*>(second));
}
