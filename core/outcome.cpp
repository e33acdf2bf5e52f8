#include "core/outcome.h"

#include "pkcs12/ber.h"
#include "pkcs12/limits.h"

namespace {

// A count as German text shows it: 5.000.000.
std::string Grouped(long long number) {
    const std::string digits = std::to_string(number);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += '.';
        }
        grouped += digits[i];
    }
    return grouped;
}

std::string ReasonText(Reason reason) {
    switch (reason) {
        case Reason::None:
            return "";
        case Reason::FileInUse:
            return "Die Datei wird gerade von einem anderen Programm verwendet.";
        case Reason::NoWritePermission:
            return "Die Datei ist schreibgeschützt, oder Sie haben keine Berechtigung, sie zu "
                   "ändern.";
        case Reason::DirectoryNotWritable:
            return "Im Ordner der Datei dürfen Sie keine Dateien anlegen; die Datei wird über "
                   "eine neue Datei daneben ersetzt.";
        case Reason::DiskFull:
            return "Auf dem Datenträger ist nicht genügend Speicherplatz frei.";
        case Reason::OwnerNotKept:
            return "Die Datei gehört einem anderen Benutzer oder einer Gruppe, der Sie nicht "
                   "angehören; nach der Änderung gehörte sie Ihnen.";
        case Reason::AttributesNotKept:
            return "Die Zugriffsrechte (ACL) oder erweiterten Attribute der Datei lassen sich "
                   "nicht übernehmen.";
        case Reason::EncryptionNotKept:
            return "Die Datei ist verschlüsselt (EFS), die neue Datei ließe sich aber nicht "
                   "verschlüsseln; unverschlüsselt wird sie nicht geschrieben.";
        case Reason::OtherLinks:
            return "Die Datei hat weitere Namen (harte Links); unter diesen bliebe die alte PIN "
                   "gültig.";
        case Reason::FileTooLarge:
            return "Die Datei ist größer als " + Grouped(kMaxPfxBytes / (1024 * 1024)) + " MiB.";
        case Reason::TooManyBags:
            return "Die Datei enthält mehr als " + Grouped(kMaxBags) + " Einträge.";
        case Reason::TooMuchWork:
            return "Ihre Schlüsselableitungen verlangen mehr Rechenaufwand, als das Programm "
                   "zulässt (höchstens " +
                   Grouped(kMaxIterationsPerDerivation) + " Iterationen je Ableitung und " +
                   Grouped(kMaxWorkPerPass) + " Blöcke je Lesen der ganzen Datei).";
        case Reason::ScryptMemory:
            return "Ihre scrypt-Parameter verlangen mehr als " +
                   Grouped(static_cast<long long>(kMaxScryptMemory / (1024 * 1024))) +
                   " MiB Arbeitsspeicher.";
        case Reason::ProtectionNotRenewable:
            return "Die Datei enthält verschlüsselte Inhalte, die dieses Programm nicht unter der "
                   "neuen PIN verschlüsseln kann; sie blieben mit der alten PIN lesbar.";
        case Reason::NoWorkerThread:
            return "Das System konnte für die Änderung keinen weiteren Thread starten. Versuchen "
                   "Sie es später noch einmal.";
        case Reason::TooManyEncryptedValues:
            return "Die Datei enthält zu viele verschlüsselte Einträge (höchstens " +
                   Grouped(kMaxWorkPerPass / kWorkPerDerivation) + ").";
        case Reason::TooManyElements:
            return "Die Datei besteht aus zu vielen Elementen (höchstens " +
                   Grouped(kMaxWorkPerPass / kWorkPerElement) + ").";
        case Reason::TooDeep:
            return "Die Datei ist tiefer verschachtelt, als das Programm liest (höchstens " +
                   Grouped(ber::kMaxDepth) + " Ebenen).";
        case Reason::Damaged:
            return "Die Datei ist beschädigt: verschlüsselte Inhalte darin lassen sich mit keiner "
                   "PIN öffnen oder nicht vollständig lesen.";
        case Reason::OutputTooLarge:
            return "Mit der neuen PIN würde die Datei größer als " +
                   Grouped(kMaxPfxBytes / (1024 * 1024)) + " MiB.";
    }
    return "";
}

}  // namespace

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
        case Outcome::FileInUse:
            return {
                "Die ausgewählte Datei kann zurzeit nicht gelesen werden.\nSie wird gerade "
                "von einem anderen Programm verwendet. Versuchen Sie es später noch einmal.",
                MB_ICONHAND};
        case Outcome::FileChanged:
            return {
                "Die PIN konnte nicht geändert werden. Das Softzertifikat ist unverändert.\n"
                "Die Datei wurde geändert, seit sie geöffnet wurde. Sie wird neu eingelesen; "
                "bitte ändern Sie die PIN danach noch einmal.",
                MB_ICONHAND};
        case Outcome::FileGone:
            return {
                "Die PIN konnte nicht geändert werden.\nDie Datei ist nicht mehr vorhanden: "
                "Sie wurde gelöscht, umbenannt oder verschoben.",
                MB_ICONHAND};
        case Outcome::BeyondLimits:
            return {
                "Das Softzertifikat überschreitet die Grenzen dieses Programms und wurde "
                "nicht verarbeitet.",
                MB_ICONHAND};
    }
    return {"", MB_OK};
}

DetailedMessage MessageFor(Outcome outcome, Reason reason) {
    const OutcomeMessage message = MessageFor(outcome);
    const std::string line = ReasonText(reason);
    return {line.empty() ? std::string(message.text) : message.text + ("\n" + line), message.style};
}
