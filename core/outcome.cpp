#include "core/outcome.h"

OutcomeMessage MessageFor(Outcome outcome) noexcept {
    switch (outcome) {
        case Outcome::Accepted:
            return {"", MB_OK};
        case Outcome::NotSoftCertificate:
            return {"Die ausgewählte Datei ist kein Softzertifikat!", MB_ICONHAND};
        case Outcome::OldPinMissing:
            return {"Sie müssen die alte PIN angeben!", MB_OK};
        case Outcome::NewPinMissing:
            return {"Sie müssen die neue PIN angeben!", MB_OK};
        case Outcome::RepeatMissing:
            return {"Sie müssen die neue PIN auch im Wiederholungsfeld angeben!", MB_OK};
        case Outcome::RepeatDiffers:
            return {"Die neue PIN und die Eingabe im Wiederholungsfeld sind nicht identisch!",
                    MB_OK};
        case Outcome::CannotOpenWithOldPin:
            return {
                "Das Softzertifikat konnte mit der angegebenen alten PIN nicht verarbeitet "
                "werden!",
                MB_OK};
        case Outcome::CannotSave:
            return {"Die PIN konnte nicht geändert werden. Das Softzertifikat ist unverändert.",
                    MB_ICONHAND};
        case Outcome::PinChanged:
            return {"Die PIN wurde geändert.", MB_OK};
    }
    return {"", MB_OK};
}
