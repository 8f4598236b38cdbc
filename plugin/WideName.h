// Conversion of the host's ANSI file names to UTF-16.
#pragma once

#include <string>

// Converts through the ANSI code page. A null or empty name, or one the code page cannot
// convert, gives an empty string (never a null pointer). Throws std::bad_alloc only.
std::wstring ToWideName(const char* name);
