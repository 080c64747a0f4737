#pragma once

#include <memory>
#include <string>

#include <E57SimpleWriter.h>

// An E57 writer that a failed route may leave open. The library's destructor closes an open
// file and can throw from there, which ends the process; the disposer closes it first and
// swallows that failure, and a writer that still reports itself open after a failed close is
// let go without its destructor (its file handle lives on until the helper process exits).
struct E57WriterDisposer {
    void operator()(e57::Writer* writer) const noexcept;
};
using E57WriterPtr = std::unique_ptr<e57::Writer, E57WriterDisposer>;

E57WriterPtr openE57Writer(const std::string& path, const e57::WriterOptions& options);
