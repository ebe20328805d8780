#include "platform/ioerror.h"

#include <cerrno>

namespace pelmora::platform {

int ioCodeFromErrno(int err) {
    switch (err) {
        case ENOENT:
            return kFileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL:
            return kPathNotFound;
        case EMFILE:
        case ENFILE:
            return kTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
            return kAccessDenied;
        case ENOSPC:
        case EDQUOT:
            return kDiskFull;
        case ENOMEDIUM:
            return kNotReady;
        default:
            return err;
    }
}

std::string ioErrorText(int code) {
    switch (code) {
        case kFileNotFound:
            return "File not found";
        case kPathNotFound:
            return "Invalid filename";
        case kTooManyOpenFiles:
            return "Too many open files";
        case kAccessDenied:
            return "File access denied";
        case kReadBeyondEof:
            return "Read beyond end of file";
        case kDiskFull:
            return "Disk full";
        case kInvalidNumericInput:
            return "Invalid numeric input";
        default:
            return "I/O error " + std::to_string(code);
    }
}

std::string ioErrorTextForErrno(int err) {
    // ENOENT is the one errno that maps onto its own number.
    const int code = ioCodeFromErrno(err);
    if (code != err || err == ENOENT) return ioErrorText(code);
    return "I/O error " + std::to_string(err);
}

}  // namespace pelmora::platform
