#include "gui/output_formats.h"

AllowedOutputFormats allowedOutputFormats(InputKind input, int exportMode) {
    const bool single = exportMode == 0;
    const bool e57OrXyz = input == InputKind::E57 || input == InputKind::Xyz;
    AllowedOutputFormats a;
    a.e57 = e57OrXyz || (input == InputKind::Las && single);
    a.xyz = single && (e57OrXyz || input == InputKind::Las);
    a.las = a.xyz;
    return a;
}

int correctedOutputFormat(int choice, const AllowedOutputFormats& allowed) {
    const bool refused = (choice == 0 && !allowed.e57) || (choice == 1 && !allowed.xyz) ||
                         (choice == 2 && !allowed.las);
    if (!refused) return choice;
    if (allowed.las) return 2;
    if (allowed.e57) return 0;
    if (allowed.xyz) return 1;
    return 0;
}

const char* unavailableFormatNote(const AllowedOutputFormats& allowed, int exportMode) {
    if (allowed.all()) return nullptr;
    if (exportMode != 0)
        return "XYZ ASCII split-to-many-files export is planned next. Use single combined output "
               "for XYZ ASCII now.";
    // In single mode a format is refused only for an input no route reads.
    return "Some converter routes are planned but not connected yet. Export is connected for "
           "E57, XYZ and LAS input.";
}
