// Conversion of the program's Windows-1252 texts to UTF-8, for toolkits and
// consoles that expect UTF-8.
#pragma once

#include <string>

// Converts a NUL-terminated Windows-1252 string to UTF-8. nullptr gives an
// empty string, as callers show a missing text as an empty one. The five bytes
// the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1
// control characters of the same value, as the Windows conversion does, so
// the result never loses a byte and converts back to the same input.
std::string Cp1252ToUtf8(const char* text);
