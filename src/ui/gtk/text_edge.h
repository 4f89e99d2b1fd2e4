// Texts at the window's edge: the control layer keeps Windows-1252 text
// with "&" marking a caption's keyboard accelerator; GTK wants UTF-8 and "_".
#pragma once

#include <string>

namespace ui::gtk {

// Windows-1252 to UTF-8. The five bytes the code page leaves undefined
// become the control characters of the same number, as Windows maps them.
std::string Utf8FromCp1252(const std::string& text);

// UTF-8 to Windows-1252 (what the user typed into an edit box). Characters
// the code page cannot hold, and broken UTF-8 sequences, become "?".
std::string Cp1252FromUtf8(const std::string& text);

// A caption with "&" accelerators as a GTK mnemonic label: "&x" -> "_x",
// "&&" -> "&", and a literal "_" is doubled so it stays visible.
std::string MnemonicFromAccelerator(const std::string& utf8);

// The caption as the user reads it: accelerator marks removed, "&&" -> "&".
std::string WithoutAccelerator(const std::string& text);

}  // namespace ui::gtk
