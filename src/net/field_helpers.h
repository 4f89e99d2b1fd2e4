// Field and position helpers on texts cut at a separator character, and the
// line writer for streams. The HTTP client parses URLs and status lines with
// them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

// The n-th field (counting from 1) of `text` cut at every `separator`; empty
// fields count. Empty when the text has fewer fields or is empty.
// NthWord("HTTP/1.0 200 OK", ' ', 2) is "200".
std::string NthWord(const std::string& text, char separator, int n);

// The position (counting from 1) of the n-th `separator` in `text`, or the
// text's length + 1 when it holds fewer than n.
int NthPos(const std::string& text, char separator, int n);

// A decimal integer with an optional sign and nothing else; false (and
// `value` untouched) when the text is none or does not fit 32 bits.
bool ParseInt32(const std::string& text, int32_t* value);

// Writes `text` followed by CR LF.
void StreamLn(std::ostream& stream, const std::string& text);
