// The end of a refused run: its message on standard error, exit status 1.
#pragma once

#include <string>

// Flushes standard output (what the run printed stays ahead of the
// message), prints message and a line end on standard error and ends the
// program with exit status 1.
[[noreturn]] void refuse(const std::string& message);
