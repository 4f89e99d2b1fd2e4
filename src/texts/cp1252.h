// The program's texts are in the Windows-1252 code page, as the text table
// holds them. This is its one codec: to and from UTF-8 for toolkits and
// consoles that expect UTF-8, to and from UTF-16 for Unicode windows.
//
// The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become the C1 control characters of the same value, as the Windows
// conversion does, so a text never loses a byte and converts back to the
// same bytes. The other way, a character the code page cannot hold becomes
// "?", so that nothing the user typed turns into a different character.
#pragma once

#include <string>
#include <string_view>

// The character that byte `byte` of the code page stands for.
char32_t Cp1252CodePoint(unsigned char byte);

// The byte of the code page for character `cp`, or "?" when it has none.
char Cp1252Byte(char32_t cp);

// Converts a NUL-terminated Windows-1252 string to UTF-8. nullptr gives an
// empty string, as callers show a missing text as an empty one.
std::string Cp1252ToUtf8(const char* text);
// Every byte of `text`, NUL bytes included.
std::string Cp1252ToUtf8(std::string_view text);

// UTF-8 to Windows-1252 (what the user typed into an edit box). Broken
// UTF-8 sequences and overlong forms become one "?" each.
std::string Utf8ToCp1252(std::string_view text);

// Windows-1252 to UTF-16 and back; a surrogate pair, whose character the
// code page cannot hold, becomes one "?", an unpaired surrogate too.
std::u16string Cp1252ToUtf16(std::string_view text);
std::string Utf16ToCp1252(std::u16string_view text);
