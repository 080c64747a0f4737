#pragma once

#include <string>
#include <string_view>

namespace platform {

// Replaces the file at `path` with `text` as a whole: the text goes to a new file beside it,
// which is then renamed onto `path`, so a reader sees the old content or the new, never a
// part. The new file is created exclusively, never through a link or file found at its name,
// and stays locked (flock) until it is renamed: replaceWorkingName(path) (a regular file there
// that no writer holds locked, left by a killed one, is removed first), or
// "<path>.<process id>-<n>.tmp" while something else holds that name; a name that would pass
// the folder's name limit is cut as fitFileName() cuts it. `durable`: the text
// is on the disk before the rename. On failure the new file is removed, `path` is left as it
// was and *error (when given) receives the system's error number. A device or pipe at `path`
// (after links) is written where it lies, never replaced.
bool replaceFileWhole(const std::string& path, std::string_view text, bool durable,
                      int* error = nullptr);

// "<path>.tmp", cut short by fitFileName() for a long name: the one working name that
// replaceFileWhole() removes a file from.
std::string replaceWorkingName(const std::string& path);

}  // namespace platform
