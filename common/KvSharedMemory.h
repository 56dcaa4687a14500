#pragma once

// Named shared memory between the two programs.
//
// Names. Every named object of the system is a GUID; on Linux the object's name also
// carries a hash of the program folder, so that two installations (and two test
// folders) never share an object, and the user id, so that two users of one
// installation never meet:
//
//     "/" + GUID with its braces + "-" + 16 lowercase hex digits of FNV-1a 64
//     of the program folder's UTF-8 bytes, trailing "/" included + "-" + the
//     effective user id in decimal
//
// e.g. "/{5DA50214-B4FD-483E-A189-CBE2EDA34F6F}-0123456789abcdef-1000". Both
// programs derive the name from their own program folder, so they meet only when
// they run from the same folder as the same user. Engine slots add "-k"
// (KvEngineSlot.h).
//
// Lifetime. A POSIX shared-memory object outlives a crashed creator, so the creating
// side removes a stale object of its name before it creates its own, and the opening
// side refuses an object it did not make (wrong size or another owner): a job block
// is an instruction to write a file, and another user must not be able to plant one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The GUIDs of the named objects.
inline constexpr std::string_view kKvJobBlockGuid = "{5DA50214-B4FD-483E-A189-CBE2EDA34F6F}";
inline constexpr std::string_view kKvLevelMapGuid = "{C32AE008-10E3-4051-A72E-936CB19EF71F}";
inline constexpr std::string_view kKvSingleInstanceGuid = "{957BA7AB-A0E8-4BA2-A02C-6A832DA7846B}";

// 64-bit FNV-1a (offset basis 0xcbf29ce484222325, prime 0x100000001b3).
constexpr std::uint64_t Fnv1a64(std::string_view bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// The object name for guid under programFolder (used as given: it must be the
// folder with its trailing "/", as GetProgramFolder returns it) for this user.
std::string SharedObjectName(std::string_view guid, std::string_view programFolder);
// The same under GetProgramFolder().
std::string SharedObjectName(std::string_view guid);

// Where the system shows the object of name as a file ("/dev/shm" + name): what a
// user removes by hand when a leftover object is in the way.
std::string SharedObjectPath(std::string_view name);

// What stands under a name, for telling a user why it cannot be created: whether an
// object is there, whose it is, and which processes map it (only our own processes
// can be seen, unless we are the administrator).
struct KvSharedObjectInfo
{
    bool exists = false;
    unsigned owner = 0;
    std::vector<int> processes;
};
KvSharedObjectInfo InspectSharedObject(const std::string& name);

// One mapping of a named POSIX shared-memory object, unmapped when the object goes.
// Only the side that created the object removes its name (at Close or destruction).
// Move-only.
class CKvSharedMemory
{
public:
    CKvSharedMemory() = default;
    ~CKvSharedMemory();
    CKvSharedMemory(CKvSharedMemory&& other) noexcept;
    CKvSharedMemory& operator=(CKvSharedMemory&& other) noexcept;
    CKvSharedMemory(const CKvSharedMemory&) = delete;
    CKvSharedMemory& operator=(const CKvSharedMemory&) = delete;

    // Creating side: removes any object of this name, creates it exclusively with
    // mode 0600 (whatever the umask) and exactly size bytes (all zero, its pages
    // reserved), and maps it read-write. The
    // name is removed again when this object is closed or destroyed. On failure
    // nothing is left behind, false is returned, Error() holds the errno (for a
    // leftover that cannot be removed, why not) and Name() the name that was tried.
    bool Create(const std::string& name, std::size_t size);

    // Opening side: opens an existing object read-write (never creates one) and maps
    // it. Refused (false) when there is none, when its size is not exactly size
    // (Error() = EINVAL), or when it belongs to another user than the effective one
    // (Error() = EPERM).
    bool Open(const std::string& name, std::size_t size);

    // Unmaps; removes the name when this side created it. Safe to call twice.
    void Close();

    bool IsOpen() const { return m_data != nullptr; }
    void* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }
    const std::string& Name() const { return m_name; }
    bool IsCreator() const { return m_creator; }
    int Error() const { return m_error; }

private:
    bool Fail(int error);
    bool NameStillOurs() const;

    void* m_data = nullptr;
    std::size_t m_size = 0;
    std::string m_name;
    bool m_creator = false;
    int m_error = 0;
    std::uint64_t m_device = 0; // identity of the object we created
    std::uint64_t m_inode = 0;
};

} // namespace velmora
