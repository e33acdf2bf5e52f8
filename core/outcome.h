#pragma once
// The results of the tool's operations and the message box that reports each one.

#include "platform/winuser.h"

enum class Outcome {
    Accepted,
    NotSoftCertificate,
    OldPinMissing,
    NewPinMissing,
    RepeatMissing,
    RepeatDiffers,
    CannotOpenWithOldPin,
    CannotSave,
    PinChanged,
};

struct OutcomeMessage {
    const char* text;  // UTF-8
    UINT style;        // message-box type flags
};

inline constexpr const char* kMessageCaption = "Quintara(R) Tessaplan";

// The text and style of an outcome's message box; Accepted has none (empty text).
OutcomeMessage MessageFor(Outcome outcome) noexcept;
