// Error codes of file operations and their fixed texts, and the error type that commands raise.
#pragma once

#include <stdexcept>
#include <string>

namespace pelmora::platform {

// Codes the program reports by (the classic DOS/Windows numbering).
enum IoCode : int {
    kFileNotFound = 2,
    kPathNotFound = 3,
    kTooManyOpenFiles = 4,
    kAccessDenied = 5,
    kNoMoreFiles = 18,
    kNotReady = 21,
    kReadBeyondEof = 100,
    kDiskFull = 101,
    kInvalidNumericInput = 106,
};

// Maps an errno value onto the codes above; unknown values are returned unchanged.
int ioCodeFromErrno(int err);

// "File not found", "Invalid filename", ... or "I/O error %d" for any other code.
std::string ioErrorText(int code);

// The text for a failed system call: that of the code ioCodeFromErrno gives when the errno is
// one it maps, else "I/O error %d" with the errno itself (so that EIO, errno 5, reads
// "I/O error 5", never the "File access denied" of code 5).
std::string ioErrorTextForErrno(int err);

// An error raised by a command. The application's error box shows what() followed by ".".
class PelmoraError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Raised for a failed file operation: the text is ioErrorText(code).
class InOutError : public PelmoraError {
  public:
    explicit InOutError(int code) : PelmoraError(ioErrorText(code)), m_code(code) {}
    // For a failed system call: code ioCodeFromErrno(err), text ioErrorTextForErrno(err).
    static InOutError fromErrno(int err) { return InOutError(err, Errno{}); }
    int code() const { return m_code; }

  protected:
    struct Errno {};
    InOutError(int err, Errno)
        : PelmoraError(ioErrorTextForErrno(err)), m_code(ioCodeFromErrno(err)) {}

  private:
    int m_code;
};

}  // namespace pelmora::platform
