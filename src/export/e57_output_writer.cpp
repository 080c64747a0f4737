#include "export/e57_output_writer.h"

#include <exception>

void E57WriterDisposer::operator()(e57::Writer* writer) const noexcept {
    if (writer == nullptr) return;
    bool stillOpen = false;
    try {
        if (writer->IsOpen()) writer->Close();
        stillOpen = writer->IsOpen();
    } catch (...) {
        try {
            stillOpen = writer->IsOpen();
        } catch (...) {
            stillOpen = true;
        }
    }
    if (!stillOpen) delete writer;
}

E57WriterPtr openE57Writer(const std::string& path, const e57::WriterOptions& options) {
    return E57WriterPtr(new e57::Writer(path, options));
}
