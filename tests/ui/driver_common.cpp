// What the drivers of both backends share.

#include <array>

#include "tests/ui/driver.h"

namespace ui_testing {

std::vector<std::string> ModalDriver::texts() const {
    std::vector<std::string> texts;
    for (const ShownMessage& message : m_messages) {
        texts.push_back(message.text);
    }
    return texts;
}

void PrintTo(const ShownMessage& message, std::ostream* out) {
    static constexpr std::array kIcons{"none",        "error",    "warning",
                                       "information", "question", "other"};
    *out << "{\"" << message.caption << "\", \"" << message.text << "\", "
         << kIcons[static_cast<std::size_t>(message.icon)] << ", " << message.buttons
         << " button(s)}";
}

ShownMessage ShownFor(Outcome outcome, Reason reason) {
    const DetailedMessage message = MessageFor(outcome, reason);
    const MessageIcon icon =
        (message.style & MB_ICONMASK) == MB_ICONHAND ? MessageIcon::Error : MessageIcon::None;
    return {kMessageCaption, message.text, icon, 1, 0};
}

}  // namespace ui_testing
