#pragma once

#include <cstddef>
#include <cstring>

// Text editors on Windows often start a file with the UTF-8 byte order mark. At the start of an
// XYZ file it is no part of the first line, which would otherwise be a bad line.
inline constexpr std::size_t kUtf8ByteOrderMarkBytes = 3;

// kUtf8ByteOrderMarkBytes when [p, p + size) starts with the mark, else 0.
inline std::size_t utf8ByteOrderMarkLength(const char* p, std::size_t size) {
    return size >= kUtf8ByteOrderMarkBytes && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0
               ? kUtf8ByteOrderMarkBytes
               : 0;
}
