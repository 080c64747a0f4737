#pragma once

#include "gui/input_kind.h"

// Which output formats the export routes accept for this input and export mode. Only E57
// output can be split into several files, and LAS input writes one file whatever the mode.
struct AllowedOutputFormats {
    bool e57 = false;
    bool xyz = false;
    bool las = false;
    bool allows(int format) const {
        return (format == 0 && e57) || (format == 1 && xyz) || (format == 2 && las);
    }
    bool all() const { return e57 && xyz && las; }
};

AllowedOutputFormats allowedOutputFormats(InputKind input, int exportMode);

// The chosen format when it is allowed, else the first allowed of LAS binary, E57, XYZ ASCII,
// else 0 (E57).
int correctedOutputFormat(int choice, const AllowedOutputFormats& allowed);

// Why some format radios are disabled; null when every format is allowed.
const char* unavailableFormatNote(const AllowedOutputFormats& allowed, int exportMode);
