#pragma once

#include <exception>
#include <string>

// The message a user sees for a caught exception. The E57 library's what() may be the fixed
// text "E57 exception"; its detail is in errorStr() and context(), so those are used for it.
std::string exceptionText(const std::exception& e);
