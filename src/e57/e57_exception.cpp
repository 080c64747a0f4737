#include "E57Exception.h"

#include <utility>

namespace e57 {

E57Exception::E57Exception(ErrorCode ecode, std::string context, const char* srcFileName,
                           int srcLineNumber, const char* srcFunctionName)
    : errorCode_(ecode),
      context_(std::move(context)),
      sourceFileName_(srcFileName),
      sourceFunctionName_(srcFunctionName),
      sourceLineNumber_(srcLineNumber) {
    what_ = Utilities::errorCodeToString(errorCode_);
    if (!context_.empty()) {
        what_ += ": ";
        what_ += context_;
    }
}

const char* E57Exception::what() const noexcept { return what_.c_str(); }

void E57Exception::report(const char* reportingFileName, int reportingLineNumber,
                          const char* reportingFunctionName, std::ostream& os) const noexcept {
    try {
        os << "**** Got an e57 exception: " << errorStr() << '\n';
        if (!context_.empty()) os << "  context: " << context_ << '\n';
        if (reportingFileName != nullptr) {
            os << "  reported at: " << reportingFileName << ':' << reportingLineNumber;
            if (reportingFunctionName != nullptr) os << " (" << reportingFunctionName << ')';
            os << '\n';
        }
    } catch (...) {
    }
}

ErrorCode E57Exception::errorCode() const noexcept { return errorCode_; }

std::string E57Exception::errorStr() const noexcept {
    try {
        return Utilities::errorCodeToString(errorCode_);
    } catch (...) {
        return {};
    }
}

const std::string& E57Exception::context() const noexcept { return context_; }
const char* E57Exception::sourceFileName() const noexcept { return sourceFileName_; }
const char* E57Exception::sourceFunctionName() const noexcept { return sourceFunctionName_; }
int E57Exception::sourceLineNumber() const noexcept { return sourceLineNumber_; }

namespace Utilities {

std::string errorCodeToString(ErrorCode ecode) noexcept {
    switch (ecode) {
        case Success: return "operation was successful (Success)";
        case ErrorBadCVHeader: return "a CompressedVector binary header was bad (ErrorBadCVHeader)";
        case ErrorBadCVPacket: return "a CompressedVector binary packet was bad (ErrorBadCVPacket)";
        case ErrorChildIndexOutOfBounds:
            return "a numerical index identifying a child was out of bounds "
                   "(ErrorChildIndexOutOfBounds)";
        case ErrorSetTwice:
            return "attempted to set an existing child element to a new value (ErrorSetTwice)";
        case ErrorHomogeneousViolation:
            return "attempted to add an E57 Element that would have made the children of a "
                   "homogeneous Vector have different types (ErrorHomogeneousViolation)";
        case ErrorValueNotRepresentable:
            return "a value could not be represented in the requested type "
                   "(ErrorValueNotRepresentable)";
        case ErrorScaledValueNotRepresentable:
            return "after scaling the result could not be represented in the requested type "
                   "(ErrorScaledValueNotRepresentable)";
        case ErrorReal64TooLarge:
            return "a 64 bit IEEE float was too large to store in a 32 bit IEEE float "
                   "(ErrorReal64TooLarge)";
        case ErrorExpectingNumeric:
            return "Expecting numeric representation in user's buffer, found ustring "
                   "(ErrorExpectingNumeric)";
        case ErrorExpectingUString:
            return "Expecting string representation in user's buffer, found numeric "
                   "(ErrorExpectingUString)";
        case ErrorInternal:
            return "An unrecoverable inconsistent internal state was detected (ErrorInternal)";
        case ErrorBadXMLFormat:
            return "E57 primitive not encoded in XML correctly (ErrorBadXMLFormat)";
        case ErrorXMLParser: return "XML not well formed (ErrorXMLParser)";
        case ErrorBadAPIArgument:
            return "bad API function argument provided by user (ErrorBadAPIArgument)";
        case ErrorFileReadOnly: return "can't modify read only file (ErrorFileReadOnly)";
        case ErrorBadChecksum: return "checksum mismatch, file is corrupted (ErrorBadChecksum)";
        case ErrorOpenFailed: return "open() failed (ErrorOpenFailed)";
        case ErrorCloseFailed: return "close() failed (ErrorCloseFailed)";
        case ErrorReadFailed: return "read() failed (ErrorReadFailed)";
        case ErrorWriteFailed: return "write() failed (ErrorWriteFailed)";
        case ErrorSeekFailed: return "lseek() failed (ErrorSeekFailed)";
        case ErrorPathUndefined:
            return "E57 element path well formed but not defined (ErrorPathUndefined)";
        case ErrorBadBuffer: return "bad SourceDestBuffer (ErrorBadBuffer)";
        case ErrorNoBufferForElement:
            return "no buffer specified for an element in CompressedVectorNode during write "
                   "(ErrorNoBufferForElement)";
        case ErrorBufferSizeMismatch:
            return "SourceDestBuffers not all same size (ErrorBufferSizeMismatch)";
        case ErrorBufferDuplicatePathName:
            return "duplicate pathname in CompressedVectorNode read/write "
                   "(ErrorBufferDuplicatePathName)";
        case ErrorBadFileSignature:
            return "file signature not \"ASTM-E57\" (ErrorBadFileSignature)";
        case ErrorUnknownFileVersion: return "incompatible file version (ErrorUnknownFileVersion)";
        case ErrorBadFileLength:
            return "size in file header not same as actual (ErrorBadFileLength)";
        case ErrorXMLParserInit: return "XML parser failed to initialize (ErrorXMLParserInit)";
        case ErrorDuplicateNamespacePrefix:
            return "namespace prefix already defined (ErrorDuplicateNamespacePrefix)";
        case ErrorDuplicateNamespaceURI:
            return "namespace URI already defined (ErrorDuplicateNamespaceURI)";
        case ErrorBadPrototype: return "bad prototype in CompressedVectorNode (ErrorBadPrototype)";
        case ErrorBadCodecs: return "bad codecs in CompressedVectorNode (ErrorBadCodecs)";
        case ErrorValueOutOfBounds:
            return "element value out of min/max bounds (ErrorValueOutOfBounds)";
        case ErrorConversionRequired:
            return "conversion required to assign element value, but not requested "
                   "(ErrorConversionRequired)";
        case ErrorBadPathName: return "E57 path name is not well formed (ErrorBadPathName)";
        case ErrorNotImplemented: return "functionality not implemented (ErrorNotImplemented)";
        case ErrorBadNodeDowncast:
            return "bad downcast from Node to specific node type (ErrorBadNodeDowncast)";
        case ErrorWriterNotOpen:
            return "CompressedVectorWriter is no longer open (ErrorWriterNotOpen)";
        case ErrorReaderNotOpen:
            return "CompressedVectorReader is no longer open (ErrorReaderNotOpen)";
        case ErrorNodeUnattached:
            return "node is not yet attached to tree of ImageFile (ErrorNodeUnattached)";
        case ErrorAlreadyHasParent: return "node already has a parent (ErrorAlreadyHasParent)";
        case ErrorDifferentDestImageFile:
            return "nodes were constructed with different destImageFiles "
                   "(ErrorDifferentDestImageFile)";
        case ErrorImageFileNotOpen:
            return "destImageFile is no longer open (ErrorImageFileNotOpen)";
        case ErrorBuffersNotCompatible:
            return "SourceDestBuffers not compatible with previously given ones "
                   "(ErrorBuffersNotCompatible)";
        case ErrorTooManyWriters:
            return "too many open CompressedVectorWriters of an ImageFile (ErrorTooManyWriters)";
        case ErrorTooManyReaders:
            return "too many open CompressedVectorReaders of an ImageFile (ErrorTooManyReaders)";
        case ErrorBadConfiguration: return "bad configuration string (ErrorBadConfiguration)";
        case ErrorInvarianceViolation:
            return "class invariance constraint violation in debug mode (ErrorInvarianceViolation)";
        case ErrorInvalidNodeType:
            return "an invalid node type was passed in Data3D pointFields (ErrorInvalidNodeType)";
        case ErrorInvalidData3DValue:
            return "an invalid value was passed in Data3D pointFields (ErrorInvalidData3DValue)";
        case ErrorData3DReadInvalidZeroRecords:
            return "a Data3D with zero records has no point data to read "
                   "(ErrorInvalidZeroRecordsData3D)";
        case ErrorPathNameEmpty: return "path name is empty (ErrorPathNameEmpty)";
        case ErrorPathNameMalformed: return "path name is malformed (ErrorPathNameMalformed)";
        case ErrorPathNameExtensionNotRegistered:
            return "path name uses an extension prefix that is not registered "
                   "(ErrorPathNameExtensionNotRegistered)";
        case ErrorBadInputDataSize: return "the input data size is not a multiple of the page size";
    }
    try {
        return "unknown error code (" + std::to_string(static_cast<int>(ecode)) + ")";
    } catch (...) {
        return {};
    }
}

}  // namespace Utilities
}  // namespace e57
