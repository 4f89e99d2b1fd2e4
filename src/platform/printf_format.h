// Lets the compiler check printf-style format strings of our own functions.
// MinGW's plain "printf" archetype is the Microsoft runtime's dialect; the
// C99 one is "gnu_printf" there.
#pragma once

#if defined(__MINGW32__)
#define BRF_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define BRF_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define BRF_PRINTF_FORMAT(fmt, args)
#endif
