#include "framework/file_error.h"

#include <cerrno>

CFileException::Cause CFileException::FromErrno(int error) {
    switch (error) {
        case 0:
            return none;
        case ENOENT:
            return fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return badPath;
        case EMFILE:
        case ENFILE:
            return tooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return accessDenied;
        case EIO:
            return hardIO;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return diskFull;
        default:
            return generic;
    }
}

namespace {

// Puts the path in place of "%1". The path is inserted as it is: it is never a format.
std::string WithPath(std::string_view text, std::string_view path) {
    const std::size_t at = text.find("%1");
    std::string result(text.substr(0, at));
    result += path;
    result += text.substr(at + 2);
    return result;
}

}  // namespace

std::string FileErrorMessage(CFileException::Cause cause, std::string_view path,
                             FileAccess access) {
    switch (cause) {
        case CFileException::fileNotFound:
            return WithPath("%1 was not found.", path);
        case CFileException::badPath:
            return WithPath("%1 contains an invalid path.", path);
        case CFileException::tooManyOpenFiles:
            return WithPath("%1 could not be opened because there are too many open files.", path);
        case CFileException::accessDenied:
            return WithPath("Access to %1 was denied.", path);
        case CFileException::hardIO:
            return WithPath("A hardware I/O error was reported while accessing %1.", path);
        case CFileException::diskFull:
            return WithPath("Disk full while accessing %1.", path);
        case CFileException::none:
        case CFileException::generic:
            break;
    }
    return WithPath(access == FileAccess::read ? "An unexpected error occurred while reading %1."
                                               : "An unexpected error occurred while writing %1.",
                    path);
}
