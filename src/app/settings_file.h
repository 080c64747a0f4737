#pragma once

#include <filesystem>
#include <string>

// settings.ini: the paths of the last run that asked for an export.
//   [Paths]
//   InputE57Path=<input path, whatever its kind>
//   OutputFolder=<output folder>

// Overwrites *inputPath / *outputFolder with the keys the file names in its section "Paths"
// (a later line wins); a string the file does not name keeps its value. True when the file
// could be opened, whatever it held.
bool loadSettings(const std::filesystem::path& file, std::string* inputPath,
                  std::string* outputFolder);

// Writes the three lines. The new text goes to a new file beside it ("<file>.tmp", never
// through a link found there) and is renamed over the file, so a crash leaves the old settings
// or the new ones, never half of them. On failure prints
// "WARNING: could not save settings.ini to <file>" on standard error and returns false.
bool saveSettings(const std::filesystem::path& file, const std::string& inputPath,
                  const std::string& outputFolder);
