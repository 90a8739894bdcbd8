#pragma once

#include "WString.h"

#include <cstddef>

// File names on Linux are case-sensitive while URLs reach us in whatever case
// the client wrote (and virtual-directory remainders in lower case). These
// helpers find the file a request means.
namespace PathResolver {

// What a path names, from one status call (Unknown: not looked at).
enum class FileType : unsigned char { Unknown, Missing, Directory, Regular, Other };

FileType typeOf(const char* path);

// root followed by rest when that names an existing entry; otherwise the path
// found by matching each component of rest below root without regard to ASCII
// case (an exact match first, else the first candidate in byte order). When
// nothing matches, root followed by rest unchanged. A trailing '/' of rest is
// kept. A rest with "." or ".." components is never searched. type, when
// given, receives what the returned path names where that was looked at on
// the way (Unknown otherwise).
WString resolve(const char* root, const char* rest, FileType* type = nullptr);

// The first of names, tried in order, that folder holds as a readable file,
// each matched as resolve matches a last component: its position in names,
// with its path in path; -1 (path empty) when none is.
long findReadableFile(const char* folder, const char* const* names, size_t count, WString& path);

// Whether resolve may read large folders, which takes long. An event loop
// routes under a RefusedScans scope: a search of a large folder that would be
// needed is only noted (wasScanRefused), and a worker routes the request
// again. Small folders are searched either way.
class RefusedScans {
public:
    RefusedScans();
    ~RefusedScans();
    bool wasScanRefused() const;

    RefusedScans(const RefusedScans&) = delete;
    RefusedScans& operator=(const RefusedScans&) = delete;
};

// True for a regular file that can be opened for reading. Directories, FIFOs,
// sockets and devices are not files to serve. known: what a status call just
// said of path (Unknown: look now); a regular file is then only asked for
// read permission, which spares opening it.
bool isReadableFile(const char* path, FileType known = FileType::Unknown);

// The same test by opening it: the open descriptor (the caller closes it), or
// -1 when path is no regular file that can be read, with errno saying why
// (EINVAL: no regular file; EMFILE, ENFILE, ENOMEM: the file may well be
// there, but descriptors or memory ran short).
int openReadableFile(const char* path);

// True for a regular file, readable or not (never opens it).
bool isRegularFile(const char* path);

// True when path names a directory.
bool isDirectory(const char* path);

// True when path exists in any form.
bool exists(const char* path);

// A configured folder made absolute against the working directory, so that
// the paths derived from it stay valid wherever a script or program runs
// ("./" and trailing '/' dropped). An absolute path, "" and an archive path
// ("$...") are returned as they are.
WString absoluteFolder(const char* folder);

} // namespace PathResolver
