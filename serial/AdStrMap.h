// Message texts of the serial layer's result codes.
#pragma once

#include <cstdint>
#include <string>

// Text for a result code, looked up by its absolute value. Codes without an
// entry get the operating system's text for that error number, cleaned up
// for a one-line message box; empty when the system has none either.
// Never longer than 255 characters.
std::string MessageLookup(int32_t code);

// The operating system's own text for an error number, with control
// characters turned into blanks and runs of blanks folded to one.
std::string SystemErrorText(int errorNumber);
