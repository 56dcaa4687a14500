#include "common/KvEngineSlot.h"

#include "common/KvProgramFolder.h"
#include "common/KvSharedMemory.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <sys/stat.h>

namespace velmora {

namespace {

constexpr std::string_view kSlotOption = "--slot=";

std::atomic<int> g_currentSlot{0};

std::string SlotSuffix(int slot)
{
    return slot > 0 ? "-" + std::to_string(slot) : std::string();
}

} // namespace

std::vector<std::string> EngineSlotArguments(int slot)
{
    if (slot <= 0)
        return {};
    return {std::string(kSlotOption) + std::to_string(slot)};
}

int ParseEngineSlot(const std::vector<std::string>& args)
{
    if (args.empty())
        return 0;
    if (args.size() != 1 || args[0].compare(0, kSlotOption.size(), kSlotOption) != 0)
        return -1;
    const std::string_view digits = std::string_view(args[0]).substr(kSlotOption.size());
    int slot = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), slot);
    if (error != std::errc() || end != digits.data() + digits.size() || slot < 1 || slot > kKvMaxEngineSlot)
        return -1;
    // One spelling per slot ("--slot=01" is not slot 1): the names follow from it.
    if (EngineSlotArguments(slot).front() != args[0])
        return -1;
    return slot;
}

int CurrentEngineSlot()
{
    return g_currentSlot.load(std::memory_order_relaxed);
}

void SetCurrentEngineSlot(int slot)
{
    g_currentSlot.store(slot, std::memory_order_relaxed);
}

std::string JobBlockName(std::string_view programFolder, int slot)
{
    return SharedObjectName(kKvJobBlockGuid, programFolder) + SlotSuffix(slot);
}

std::string LevelMapName(std::string_view programFolder, int slot)
{
    return SharedObjectName(kKvLevelMapGuid, programFolder) + SlotSuffix(slot);
}

std::string JobFolder(std::string_view programFolder, int slot)
{
    std::string folder = WorkFolderOf(programFolder) + "tmp/";
    if (slot > 0)
        folder += "slot-" + std::to_string(slot) + "/";
    return folder;
}

bool EnsureJobFolder(std::string_view programFolder, int slot)
{
    const std::string folder = JobFolder(programFolder, slot);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace velmora
