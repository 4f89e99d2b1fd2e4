#include "ui/win32/text_codec.h"

#include "texts/cp1252.h"

namespace ui::win32 {

// wchar_t is a UTF-16 unit on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Widen(const std::string& text) {
    const std::u16string wide = Cp1252ToUtf16(text);
    return {wide.begin(), wide.end()};
}

std::string Narrow(const std::wstring& text) {
    return Utf16ToCp1252(std::u16string(text.begin(), text.end()));
}

}  // namespace ui::win32
