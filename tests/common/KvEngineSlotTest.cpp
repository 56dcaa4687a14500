#include "common/KvEngineSlot.h"

#include "common/KvProgramFolder.h"
#include "common/KvSharedMemory.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(EngineSlot, ArgumentsRoundTripAndAnythingElseIsRefused)
{
    EXPECT_TRUE(EngineSlotArguments(0).empty());
    EXPECT_EQ(ParseEngineSlot({}), 0);
    for (int slot : {1, 2, 10, kKvMaxEngineSlot}) {
        ASSERT_EQ(EngineSlotArguments(slot), std::vector<std::string>{"--slot=" + std::to_string(slot)});
        EXPECT_EQ(ParseEngineSlot(EngineSlotArguments(slot)), slot);
    }
    const std::vector<std::vector<std::string>> refused = {
        {"--slot=0"}, {"--slot=-1"}, {"--slot=01"}, {"--slot=+1"}, {"--slot=1x"}, {"--slot="},
        {"--slot"}, {"--slot=1000"}, {"--slot=99999999999"}, {"slot=1"}, {"--slot=1", "--slot=2"}, {"x"}};
    for (const auto& args : refused)
        EXPECT_EQ(ParseEngineSlot(args), -1) << args[0];
}

TEST(EngineSlot, SlotZeroKeepsThePlainNamesAndOthersAddTheirNumber)
{
    const std::string program = "/usr/lib/velmora/";
    EXPECT_EQ(JobBlockName(program, 0), SharedObjectName(kKvJobBlockGuid, program));
    EXPECT_EQ(LevelMapName(program, 0), SharedObjectName(kKvLevelMapGuid, program));
    EXPECT_EQ(JobBlockName(program, 4), SharedObjectName(kKvJobBlockGuid, program) + "-4");
    EXPECT_EQ(LevelMapName(program, 12), SharedObjectName(kKvLevelMapGuid, program) + "-12");
    EXPECT_EQ(JobFolder(program, 0), WorkFolderOf(program) + "tmp/");
    EXPECT_EQ(JobFolder(program, 7), WorkFolderOf(program) + "tmp/slot-7/");
}

} // namespace
} // namespace velmora
