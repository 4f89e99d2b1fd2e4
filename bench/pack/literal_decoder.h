// A container decoder written the plain way: one getc per input byte, one
// putc per output byte, the model updated and searched exactly as described
// step by step. It is the yardstick for CPack::DecodeFile's speed and, in
// the fuzzer and the tests, the reference its output must equal.
#pragma once

#include <cstdio>

// True when the payload's byte sum matches the header checksum; false for a
// missing source, an uncreatable destination, a short header, original size
// 0 or a wrong format. Does not set file times.
bool LiteralDecodeFile(const char* source, const char* destination);

// The same between two open streams, which stay open.
bool LiteralDecodeStream(std::FILE* source, std::FILE* destination);
