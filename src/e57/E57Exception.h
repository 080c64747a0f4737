#pragma once

#include <exception>
#include <iostream>
#include <string>

#include "E57Export.h"

namespace e57 {

enum ErrorCode {
    Success = 0,
    ErrorBadCVHeader = 1,
    ErrorBadCVPacket = 2,
    ErrorChildIndexOutOfBounds = 3,
    ErrorSetTwice = 4,
    ErrorHomogeneousViolation = 5,
    ErrorValueNotRepresentable = 6,
    ErrorScaledValueNotRepresentable = 7,
    ErrorReal64TooLarge = 8,
    ErrorExpectingNumeric = 9,
    ErrorExpectingUString = 10,
    ErrorInternal = 11,
    ErrorBadXMLFormat = 12,
    ErrorXMLParser = 13,
    ErrorBadAPIArgument = 14,
    ErrorFileReadOnly = 15,
    ErrorBadChecksum = 16,
    ErrorOpenFailed = 17,
    ErrorCloseFailed = 18,
    ErrorReadFailed = 19,
    ErrorWriteFailed = 20,
    ErrorSeekFailed = 21,
    ErrorPathUndefined = 22,
    ErrorBadBuffer = 23,
    ErrorNoBufferForElement = 24,
    ErrorBufferSizeMismatch = 25,
    ErrorBufferDuplicatePathName = 26,
    ErrorBadFileSignature = 27,
    ErrorUnknownFileVersion = 28,
    ErrorBadFileLength = 29,
    ErrorXMLParserInit = 30,
    ErrorDuplicateNamespacePrefix = 31,
    ErrorDuplicateNamespaceURI = 32,
    ErrorBadPrototype = 33,
    ErrorBadCodecs = 34,
    ErrorValueOutOfBounds = 35,
    ErrorConversionRequired = 36,
    ErrorBadPathName = 37,
    ErrorNotImplemented = 38,
    ErrorBadNodeDowncast = 39,
    ErrorWriterNotOpen = 40,
    ErrorReaderNotOpen = 41,
    ErrorNodeUnattached = 42,
    ErrorAlreadyHasParent = 43,
    ErrorDifferentDestImageFile = 44,
    ErrorImageFileNotOpen = 45,
    ErrorBuffersNotCompatible = 46,
    ErrorTooManyWriters = 47,
    ErrorTooManyReaders = 48,
    ErrorBadConfiguration = 49,
    ErrorInvarianceViolation = 50,
    ErrorInvalidNodeType = 51,
    ErrorInvalidData3DValue = 52,
    ErrorData3DReadInvalidZeroRecords = 53,
    ErrorPathNameEmpty = 54,
    ErrorPathNameMalformed = 55,
    ErrorPathNameExtensionNotRegistered = 56,
    ErrorBadInputDataSize = 57,
};

// what() carries the whole diagnosis (error sentence and context). The released library's
// what() is the fixed text "E57 exception", so callers take errorStr() and context().
class E57Exception : public std::exception {
public:
    E57Exception() = delete;
    // Internal: thrown by the library.
    E57Exception(ErrorCode ecode, std::string context, const char* srcFileName = nullptr,
                 int srcLineNumber = 0, const char* srcFunctionName = nullptr);

    const char* what() const noexcept override;

    void report(const char* reportingFileName = nullptr, int reportingLineNumber = 0,
                const char* reportingFunctionName = nullptr,
                std::ostream& os = std::cout) const noexcept;

    ErrorCode errorCode() const noexcept;
    std::string errorStr() const noexcept;
    const std::string& context() const noexcept;
    const char* sourceFileName() const noexcept;
    const char* sourceFunctionName() const noexcept;
    int sourceLineNumber() const noexcept;

private:
    ErrorCode errorCode_;
    std::string context_;
    std::string what_;
    const char* sourceFileName_;
    const char* sourceFunctionName_;
    int sourceLineNumber_;
};

namespace Utilities {
std::string errorCodeToString(ErrorCode ecode) noexcept;
}

}  // namespace e57
