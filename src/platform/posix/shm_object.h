// POSIX backend: named mapping objects as files under /dev/shm, shared by name between the
// processes of one user, with atomic publication, a shared flock as the lifetime and clean-up of
// leftovers of processes that died.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace qr::sys::posix {

// The folder of the named objects and the room the header takes before the data of a page-file
// object (a multiple of every page size, so views of the data stay page-aligned).
inline constexpr const char* kObjectFolder = "/dev/shm/";
inline constexpr int64_t kHeaderBytes = 65536;

// Object names longer than this are refused with ENAMETOOLONG.
inline constexpr std::size_t kMaxObjectName = 255;

// What the header of a named object records.
enum class ObjectKind : uint32_t { PageFile = 1, File = 2 };
struct ObjectInfo {
    ObjectKind kind = ObjectKind::PageFile;
    uint32_t nProtect = 0;     // kPageReadOnly or kPageReadWrite
    int64_t llSize = 0;        // size of the object's data in bytes
    uint64_t nDevice = 0;      // file-backed: the file's device and inode
    uint64_t nInode = 0;
    std::string sFilePath;     // file-backed: the file's path
    bool bAppendNull = false;  // created in append-null mode (two terminator bytes after the data)
};

// The file name an object name gets under kObjectFolder: "qrcore-<uid>-" followed by the name with
// every byte outside [A-Za-z0-9_-] written as %XX (upper-case hex); names whose encoding would
// not fit a file name are written as '#' and a 128-bit hash instead (the header keeps the full
// name, so a collision is detected, not shared). The uid keeps users apart.
std::string encodeObjectName(const std::string& sName);
std::string objectPath(const std::string& sName);

// One process's hold on a named object: an open descriptor with a shared flock, which keeps the
// object alive. Moving only.
//
// The hold belongs to the process that took it. A child forked without exec inherits the
// descriptor, and with it the very open file description whose flock the parent holds: the
// child's copy may only be closed (release does nothing else there), never converted to an
// exclusive lock or used to remove the name, or the child would end the parent's object.
class SharedObject {
public:
    SharedObject() = default;
    ~SharedObject();
    SharedObject(SharedObject&& other) noexcept;
    SharedObject& operator=(SharedObject&& other) noexcept;
    SharedObject(const SharedObject&) = delete;
    SharedObject& operator=(const SharedObject&) = delete;

    // Opens the object sName. A leftover nobody holds is removed first and counts as absent.
    // false with errno set: ENOENT when there is none, EINVAL when the file under that name
    // is not one of our objects (or is another name's, after a hash collision).
    bool open(const std::string& sName);
    // Publishes a new object sName (or, for an empty name, makes an unnamed one) with info; the
    // data of a page-file object is reserved and zero. EEXIST when the name is taken (by a live
    // object); the caller then opens it. Other failures set errno.
    //
    // fnInitialise, when given, runs once the name is known to be this creator's (after the
    // link), while openers of the name wait for it; it returns 0, or an errno value, and then
    // the name is removed again and create fails with that value. A file mapping grows its file
    // there, so that a creator that loses the name to another never touches its file.
    bool create(const std::string& sName, const ObjectInfo& info, const std::function<int()>& fnInitialise = {});
    // Drops the hold; the last holder of a named object removes its name. In a forked child that
    // did not take the hold itself, only the child's descriptor is closed.
    void release();

    bool valid() const { return m_nFd >= 0; }
    int descriptor() const { return m_nFd; }
    const ObjectInfo& info() const { return m_info; }

private:
    int m_nFd = -1;
    std::string m_sPath;  // "" for an unnamed object
    ObjectInfo m_info;
    pid_t m_nOwner = 0;   // the process that took the hold
};

}  // namespace qr::sys::posix
