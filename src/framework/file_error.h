#pragma once
// Errors of the file layer and the texts that tell the operator about them, naming the file.

#include <string>
#include <string_view>

class CFileException {
  public:
    enum Cause {
        none,
        generic,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        hardIO,
        diskFull,
    };

    // The cause of a failed system call, from its errno value.
    static Cause FromErrno(int error);
};

// Which way the file was being used, for the text of an error without a cause of its own.
enum class FileAccess { read, write };

// The message for a file error, with the file's path in it: "%1 was not found.",
// "Access to %1 was denied.", "Disk full while accessing %1." and the like.
std::string FileErrorMessage(CFileException::Cause cause, std::string_view path, FileAccess access);
