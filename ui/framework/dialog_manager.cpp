#include "ui/framework/dialog_manager.h"

namespace {

bool StartsGroup(const DialogItem& item) noexcept {
    return (item.style & WS_GROUP) != 0;
}

bool CanTakeFocus(const DialogItem& item, const ControlState& state) noexcept {
    return item.kind != ControlKind::Static && state.enabled && state.visible;
}

}  // namespace

std::size_t NextInGroup(std::span<const DialogItem> items, std::span<const ControlState> states,
                        std::size_t current, bool backwards) {
    if (current >= items.size() || states.size() != items.size()) {
        return current;
    }
    std::size_t first = current;
    while (first > 0 && !StartsGroup(items[first])) {
        --first;
    }
    std::size_t end = current + 1;
    while (end < items.size() && !StartsGroup(items[end])) {
        ++end;
    }
    const std::size_t size = end - first;
    for (std::size_t step = 1; step < size; ++step) {
        const std::size_t offset = current - first;
        const std::size_t index =
            first + (backwards ? (offset + size - step) % size : (offset + step) % size);
        if (CanTakeFocus(items[index], states[index])) {
            return index;
        }
    }
    return current;
}

bool ArrowsMoveFocusFrom(const DialogItem& item) noexcept {
    return item.kind != ControlKind::Edit;
}

bool IsAutoRadioButton(const DialogItem& item) noexcept {
    return item.kind == ControlKind::RadioButton &&
           (item.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}

const char* AccessibleNameOf(std::span<const DialogItem> items, std::size_t index) noexcept {
    if (index >= items.size()) {
        return nullptr;
    }
    if (items[index].accessibleName != nullptr) {
        return items[index].accessibleName;
    }
    if (items[index].kind == ControlKind::Edit && index > 0 &&
        items[index - 1].kind == ControlKind::Static) {
        return items[index - 1].text;
    }
    return nullptr;
}
