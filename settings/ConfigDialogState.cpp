// The colour history rule of the settings dialog.
#include "settings/ConfigDialogState.h"

#include <algorithm>
#include <utility>

bool SelectColor(ConfigDialogState& state, ColorRef color) {
    if (color == state.currentColor) return false;
    auto& history = state.history;
    const auto found = std::find(history.begin(), history.end(), color);
    if (found == history.end()) {
        std::rotate(history.begin(), history.end() - 1, history.end());  // slot 8 wraps to slot 1
        history.front() = color;
    } else {
        std::rotate(history.begin(), found, found + 1);
    }
    // Slot 1 now holds `color`: exchanging it with the current colour completes the move.
    std::swap(state.currentColor, history.front());
    return true;
}
