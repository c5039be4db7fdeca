// POSIX backend: named mapping objects as files under /dev/shm, shared by name between the
// processes of one user, with atomic publication, a shared flock as the lifetime and clean-up of
// leftovers of processes that died.
#pragma once

#include <cstdint>
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
};

// The file name an object name gets under kObjectFolder: "qrcore-<uid>-" followed by the name with
// every byte outside [A-Za-z0-9_-] written as %XX (upper-case hex); names whose encoding would
// not fit a file name are written as '#' and a 128-bit hash instead (the header keeps the full
// name, so a collision is detected, not shared). The uid keeps users apart.
std::string encodeObjectName(const std::string& sName);
std::string objectPath(const std::string& sName);

// One process's hold on a named object: an open descriptor with a shared flock, which keeps the
// object alive. Moving only.
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
    bool create(const std::string& sName, const ObjectInfo& info);
    // Drops the hold; the last holder of a named object removes its name.
    void release();

    bool valid() const { return m_nFd >= 0; }
    int descriptor() const { return m_nFd; }
    const ObjectInfo& info() const { return m_info; }

private:
    int m_nFd = -1;
    std::string m_sPath;  // "" for an unnamed object
    ObjectInfo m_info;
};

}  // namespace qr::sys::posix
