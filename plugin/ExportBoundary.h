// Keeps C++ exceptions from crossing an export into the host.
#pragma once

#include "plugin/HostRecords.h"

#include <new>

// Runs `body` and turns an escaping allocation failure into 4 and anything else into 8.
template <class Body>
int GuardStatus(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    } catch (...) {
        return InternalError;
    }
}

// For exports that answer a count or a yes/no: a failure answers 0.
template <class Body>
int GuardZero(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return 0;
    }
}
