// Writes text to the process's standard output as bytes. Narrow and wide texts
// share one byte-oriented stream, so they reach the console in the order written
// and a character that cannot be converted never silences later output. A
// console that is gone (EIO, EPIPE) drops the text and stops nothing.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace hbafw {

// Wide characters below 256 become the byte of their value (a catalogue byte
// widened on reading comes back unchanged); others go through the locale's
// conversion, and '?' stands in for any that it cannot convert.
std::string NarrowForConsole(std::wstring_view text);

void ConsoleWrite(std::string_view text, std::FILE* stream = stdout);
void ConsoleWrite(std::wstring_view text, std::FILE* stream = stdout);

}  // namespace hbafw
