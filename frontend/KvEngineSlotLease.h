#pragma once

// A front end's hold on one engine slot (common/KvEngineSlot.h), for as long as the
// object lives.
//
// Several front ends of one user and program folder may run at once: the window and
// any number of "velmora --render" runs. Each engine slot k >= 1 has an owner lock,
// locked with flock: a shared-memory object named as the slot's job block with
// ".owner" after it, so it guards exactly the name it must (two front ends that meet
// on a block name meet on its lock, whatever their work folders), and emptying tmp/
// never removes a lock that is held. Whoever holds the lock alone may create the
// slot's job block and write its job folder tmp/slot-k/; the system drops the lock
// when the holder dies, so a crashed run never keeps a slot. A holder removes the
// lock object before it lets go, and a lock counts only on the object that is under
// the name, so removing never hands a slot to two holders; a crashed holder's empty
// object stays until the next holder of that slot lets go. Slot 0 is the
// window's: its single-instance lock already says that no other window uses it, and
// a command-line run never takes it.
//
// Taking a slot empties its job folder (whatever a crashed holder left) and creates
// its job block, all zero; giving it back removes the block and empties the folder.
// No widgets; any thread, but one lease is used from one thread.

#include "common/KvJobBlock.h"
#include "common/KvJobBlockMapping.h"

#include <memory>
#include <string>
#include <vector>

namespace velmora {

class KvEngineSlotLease
{
public:
    ~KvEngineSlotLease();
    KvEngineSlotLease(const KvEngineSlotLease&) = delete;
    KvEngineSlotLease& operator=(const KvEngineSlotLease&) = delete;

    // Takes slot (>= 1) of programFolder when no other holder has it and its job folder
    // and job block can be made; nullptr otherwise (error, when given, says why).
    static std::unique_ptr<KvEngineSlotLease> Take(const std::string& programFolder, int slot,
                                                   std::string* error = nullptr);
    // The lowest free slots from 1 up, at most count of them (fewer when the slots run
    // out). error says why the first slot that was free could not be taken when none was.
    static std::vector<std::unique_ptr<KvEngineSlotLease>> TakeFree(const std::string& programFolder, int count,
                                                                    std::string* error = nullptr);

    // The owner lock of slot: its shared-memory name, and where it shows as a file.
    static std::string LockName(const std::string& programFolder, int slot);
    static std::string LockPath(const std::string& programFolder, int slot);
    // Locks the owner lock of slot without taking anything else; the descriptor to close
    // to let it go, or -1 when another holder has it (or it cannot be made).
    static int LockSlot(const std::string& programFolder, int slot);
    // Lets go of a lock LockSlot gave, removing its object.
    static void UnlockSlot(const std::string& programFolder, int slot, int fd);

    int Slot() const { return m_slot; }
    const std::string& ProgramFolder() const { return m_programFolder; }
    // The job folder with its trailing "/": tmp/slot-k/ of the work folder.
    const std::string& JobFolder() const { return m_jobFolder; }
    tagKvJobBlock* Block() const { return m_block.Block(); }
    // The engine's arguments for this slot.
    std::vector<std::string> EngineArguments() const;

private:
    KvEngineSlotLease() = default;

    std::string m_programFolder;
    std::string m_jobFolder;
    int m_slot = 0;
    int m_lockFd = -1;
    CKvJobBlockOwner m_block;
};

// Empties tmp/ of programFolder's work folder, as the window does when it starts and
// when it ends: every file and folder goes, except the job folder of a slot another
// process holds (its engine is working there). Free slot folders are removed while
// their lock is held here, so a run starting meanwhile takes another slot instead of
// one that is being emptied under it. False when something could not be removed.
bool EmptyWorkTmpFolder(const std::string& programFolder);

} // namespace velmora
