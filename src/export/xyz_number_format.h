#pragma once

// Writes value as printf's "%.10g" does (10 significant digits, fixed or scientific notation,
// no trailing zeros). Needs 24 bytes of room; returns the end of the text.
char* formatDouble10g(char* at, double value);
