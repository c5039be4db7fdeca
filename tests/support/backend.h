// Test support: what the platform backends do differently, in one table, so that the contract
// tests run on every backend from the same sources and state each difference where it matters.
#pragma once

#include <cstdint>
#include <string>

namespace qrtest {

struct Backend {
    const char* szName;  // "posix" or "win32"
    // Names in the file system compare with case (POSIX) or without (Windows).
    bool bNamesCaseSensitive;
    // A closed handle's value is never given out again (POSIX: the backend's own registry); on
    // Windows handles are the system's own, whose values the system reuses.
    bool bHandlesNeverReused;
    // Inserting and removing blocks inside a file in place exists (POSIX, where the file system
    // can); on Windows the space functions always move the tail in chunks.
    bool bRangeEdits;
    // The native code the system gives for a target before 0 in a seek.
    uint32_t nNegativeSeekError;
    // The native code for a create that finds the file present.
    uint32_t nFileExistsError;
    // Paths longer than the Windows MAX_PATH (260) reach the system's file functions (POSIX);
    // the system's narrow-character functions refuse them on Windows.
    bool bLongPaths;
    // A named page-file mapping object reports its size as created (POSIX records it); the
    // Windows system keeps it in whole pages, so openers learn it rounded up to 4096.
    bool bExactObjectSize;
    // A named mapping object can be opened by name while any view of it remains (POSIX); on
    // Windows its name goes with its last handle, while views keep the data.
    bool bNameLivesWithViews;
    // A program finds the shared library beside itself (Windows DLLs); POSIX programs find it
    // through their run path, installed in a library folder of its own.
    bool bLibraryBesideProgram;
    // Running under Wine, whose Win32 differs from Windows in a few places the tests name.
    bool bWine;
    // A process can fork a copy of itself without exec (POSIX); Windows has no such call.
    bool bFork;
};

const Backend& backend();

// The size an opener of a named page-file mapping object created with llSize bytes learns.
inline int64_t openedObjectSize(int64_t llSize) {
    return backend().bExactObjectSize ? llSize : (llSize + 4095) / 4096 * 4096;
}

// szUtf8 as the library's built-in texts and shipped error list hold it: in the system's code page
// (UTF-8 on POSIX; code page 936 on Windows, converted here by the system's own converter).
std::string systemText(const char* szUtf8);

// The disk space the file sPath takes (its allocated blocks), -1 when it cannot be read: far less
// than its size for a sparse file.
int64_t allocatedBytes(const std::string& sPath);

// Handles (descriptors) the process holds open right now.
int openHandles();

// Makes sFolder the system's folder for temporary files for the lifetime of the object (POSIX:
// TMPDIR; Windows: TMP, the first variable the system consults) and restores the old setting.
class TempFolderOverride {
public:
    explicit TempFolderOverride(const std::string& sFolder);
    ~TempFolderOverride();
    TempFolderOverride(const TempFolderOverride&) = delete;
    TempFolderOverride& operator=(const TempFolderOverride&) = delete;
    // Points the setting to sFolder (the destructor still restores the first old setting).
    void set(const std::string& sFolder);

private:
    std::string m_sOld;
    bool m_bHadOld = false;
};

}  // namespace qrtest
