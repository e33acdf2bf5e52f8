#pragma once
// The results of the tool's operations and the message box that reports each one.

#include <string>

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
    // The file is held by another program and cannot be read now; the choice may be retried.
    FileInUse,
    // The file on disk is no longer the one that was opened: nothing was written, and it must
    // be opened again before its PIN can be changed.
    FileChanged,
    // The file is no longer there: nothing can be changed, nothing was created.
    FileGone,
    // The file asks more than the tool allows (size, entries, work of its key derivations).
    BeyondLimits,
};

// Why an outcome came about, where its message alone would not say; shown as a second line.
// Other programs keep these values: new ones go at the end.
enum class Reason {
    None,
    FileInUse,
    NoWritePermission,
    DirectoryNotWritable,
    DiskFull,
    OwnerNotKept,
    AttributesNotKept,
    OtherLinks,
    FileTooLarge,
    TooManyBags,
    TooMuchWork,
    ScryptMemory,
    ProtectionNotRenewable,
    // The system started no thread for the change; nothing was begun.
    NoWorkerThread,
    // The file is encrypted (EFS) and the new one could not be.
    EncryptionNotKept,
    // Beyond the one budget of work by the number of encrypted values, or of the elements of
    // its structure, or by its depth.
    TooManyEncryptedValues,
    TooManyElements,
    TooDeep,
    // What it protects opens with no PIN, or does not read once the PIN has opened the file.
    Damaged,
    // Under the new PIN the file would be larger than the tool reads.
    OutputTooLarge,
};

struct OutcomeMessage {
    const char* text;  // UTF-8
    UINT style;        // message-box type flags
};

inline constexpr const char* kMessageCaption = "Quintara(R) Tessaplan";

// The text and style of an outcome's message box; Accepted has none (empty text).
OutcomeMessage MessageFor(Outcome outcome) noexcept;

struct DetailedMessage {
    std::string text;  // UTF-8: the outcome's text, then the reason on a line of its own
    UINT style;
};

// The message box of an outcome with the reason for it.
DetailedMessage MessageFor(Outcome outcome, Reason reason);
