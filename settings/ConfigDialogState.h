// What one open settings dialog holds: the key it works on, the current colour and the history.
#pragma once

#include "settings/SettingsStore.h"

#include <array>
#include <string>

struct ConfigDialogState {
    std::wstring keyPath = kSettingsKeyPath;
    // The colour OK saves as "Color"; swatch 1016 shows it.
    ColorRef currentColor = 0xFFFFFF;
    // Slot 1 (most recent) first; OK saves it as "ColorHistory"; swatches 1005 to 1012 show it.
    std::array<ColorRef, 8> history = PluginSettings{}.colorHistory;
};

// Makes `color` current. A colour new to the history pushes every slot down (slot 8 is dropped);
// a colour found in slot j moves to slot 1 ahead of slots 1 to j - 1. Either way the previous
// current colour ends in slot 1. False, with nothing changed, when `color` is current already.
bool SelectColor(ConfigDialogState& state, ColorRef color);
