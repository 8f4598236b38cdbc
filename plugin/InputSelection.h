// Selection of the input kind from the picture exports' flags.
#pragma once

#include "plugin/HostRecords.h"

#include <optional>

// Only the low three bits count: 0 is a file name, 1 a memory block, others are refused.
inline std::optional<InputKind> SelectInput(unsigned flags) {
    switch (flags & kInputKindMask) {
    case 0: return InputKind::FileInput;
    case 1: return InputKind::MemoryInput;
    default: return std::nullopt;
    }
}
