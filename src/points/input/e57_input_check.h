#pragma once

#include <string>

// libE57Format opens its input by name and waits on a FIFO until a writer comes, so every caller
// that hands it an input path asks here first.

// Empty when `path` is a regular file (after links), or when it cannot be looked at at all (the
// library then says why); otherwise "E57 input is not a regular file: <path>".
std::string e57InputRefusal(const std::string& path);

// Throws std::runtime_error with e57InputRefusal's text when it is not empty.
void requireRegularE57Input(const std::string& path);
