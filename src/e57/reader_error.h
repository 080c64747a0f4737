#pragma once

#include "E57Exception.h"

// Throws an E57Exception that records where it was raised.
#define E57_THROW(code, context) \
    throw ::e57::E57Exception((code), (context), __FILE__, __LINE__, __func__)
