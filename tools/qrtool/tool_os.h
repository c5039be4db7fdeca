// qrtool: the few operating-system services the tool needs beyond the library, behind one small
// interface. tool_os_posix.cpp implements it for POSIX systems, tool_os_win32.cpp for Windows;
// CMake picks the one for the target system. Everything else in the tool is portable C++ over the
// library.
//
// Errors: a function that can fail returns false (or null) and puts the system's text for the
// cause into sError; it never prints.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qrtool::os {

enum class Stream { In, Out, Err };

// True when the standard stream is a terminal.
bool isTerminal(Stream stream);

// Called once at start-up: writes to a pipe whose reader has gone fail with an error (EPIPE)
// instead of ending the process, so that the tool reports them like every other write error;
// standard input and output carry bytes unchanged (no line-end translation).
void prepareStreams();

// The next byte of a C stream that only the calling thread reads, as getc gives it (EOF at the
// end or on an error), without taking the stream's lock for every byte: lines are read byte by
// byte.
int readByte(std::FILE* pFile);

// The identity of a file: two paths (or a path and a standard stream) with equal identities
// reach the same file, whatever links or spellings lead there.
struct FileIdentity {
    bool bKnown = false;  // false: nothing there, or the system could not tell
    bool bRegular = false;  // a regular file (not a terminal, pipe, device or folder)
    uint64_t llDevice = 0;
    uint64_t llFile = 0;
    bool operator==(const FileIdentity& other) const {
        return bKnown && other.bKnown && llDevice == other.llDevice && llFile == other.llFile;
    }
};
FileIdentity identityOf(const std::string& sPath);  // follows symbolic links
FileIdentity identityOf(Stream stream);

// What a path names, after following symbolic links.
enum class PathKind { Missing, Regular, Folder, Other };  // Other: a device, a pipe, a socket
PathKind kindOf(const std::string& sPath);

// Where a write to a path really lands: the path with every symbolic link on the way resolved,
// split into its folder and name, and the folder's identity as the walk found it (a folder put
// in its place later is refused by beginReplacement).
struct Target {
    std::string sPath;    // sFolder + sName
    std::string sFolder;  // with its trailing separator; "" for the current folder
    std::string sName;
    bool bLink = false;   // sPath is itself a link the system resolves (a /proc descriptor link)
    FileIdentity folder;  // bKnown false: not checked
};
// Resolves sPath for writing. A link that the protected-link rule refuses (a link in a sticky
// folder that others may write, owned neither by the folder's owner nor by the caller) is not
// followed, whatever the system's own setting: false with sError, as for a chain of links too
// long or a folder that cannot be read.
bool resolveTarget(const std::string& sPath, Target& target, std::string& sError);

// Opens an existing device or pipe at a resolved target for writing, as a C stream; a link put
// at its place since it was resolved is not followed. Null with sError on failure.
std::FILE* openForWriting(const Target& target, std::string& sError);

// A replacement being written for a file: a new file of its own created in the target's folder
// (so that the final rename stays on one file system), open for writing as a C stream.
struct Replacement {
    std::FILE* pFile = nullptr;
    std::string sTempPath;
    std::string sTarget;
    int nFolder = -1;  // POSIX: the target's folder, held open so that the rename lands there
};
// Creates the temporary file beside the target; false with sError when the folder refuses it or
// is no longer the folder that resolveTarget found.
bool beginReplacement(const Target& target, Replacement& replacement, std::string& sError);
// Writes out the stream's buffers, forces the data to the disk, closes the stream (every step
// checked), gives the file the permission bits of the file it replaces without its set-user and
// set-group bits (or those of a new file when there is none) and renames it over the target in
// one step. On failure the temporary file is removed and the target is as it was.
bool commitReplacement(Replacement& replacement, std::string& sError);
// Closes and removes the temporary file; the target is untouched.
void abandonReplacement(Replacement& replacement);

}  // namespace qrtool::os
