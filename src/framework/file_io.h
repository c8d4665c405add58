#pragma once
// Whole-file reading and safe replacing writes for documents. Both report failure as an errno
// value (0 is success) for FileErrorMessage to put into words.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Reads the whole regular file at path into bytes. The buffer grows only with what is really
// read, never by what the file claims. Anything but a regular file is refused without waiting
// on it (a directory as EISDIR, a pipe or device as EINVAL).
int ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes);

// Writes bytes as the new content of the file at path without ever leaving a damaged file: the
// bytes go to a new file in the same directory, are flushed to the disk and then renamed over
// the target, so a failure at any step leaves the previous file as it was. A target that is a
// symbolic link keeps its link: the file it names is replaced. A replaced file keeps its
// permission bits; a new one gets the usual ones of a created file.
int WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes);

// True when the file exists and may not be written (its permissions or a read-only file
// system), so that saving to it would fail.
bool IsReadOnlyFile(const std::string& path);
