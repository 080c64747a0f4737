#include "points/input/exception_text.h"

#include <E57Exception.h>

std::string exceptionText(const std::exception& e) {
    const auto* e57Error = dynamic_cast<const e57::E57Exception*>(&e);
    if (e57Error == nullptr) return e.what();
    std::string text = e57Error->errorStr();
    if (!e57Error->context().empty()) text += ": " + e57Error->context();
    return text;
}
