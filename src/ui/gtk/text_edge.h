// Captions at the window's edge: the control layer marks a caption's
// keyboard accelerator with "&", GTK with "_". The code page is converted
// by the texts' own codec (texts/cp1252.h).
#pragma once

#include <string>

namespace ui::gtk {

// A caption with "&" accelerators as a GTK mnemonic label: "&x" -> "_x",
// "&&" -> "&", and a literal "_" is doubled so it stays visible.
std::string MnemonicFromAccelerator(const std::string& utf8);

// The caption as the user reads it: accelerator marks removed, "&&" -> "&".
std::string WithoutAccelerator(const std::string& text);

}  // namespace ui::gtk
