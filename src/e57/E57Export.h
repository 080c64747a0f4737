#pragma once

// The library is always linked statically in this tree, so nothing needs exporting.
#ifndef E57_DLL
#define E57_DLL
#endif
