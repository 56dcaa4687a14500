#include "common/KvJobBlockMapping.h"

#include "common/KvEngineSlot.h"
#include "common/KvProgramFolder.h"

namespace velmora {

bool CKvJobBlockOwner::Create(const std::string& programFolder, int slot)
{
    return m_memory.Create(JobBlockName(programFolder, slot), sizeof(tagKvJobBlock));
}

bool CKvJobBlockOwner::Create()
{
    return Create(GetProgramFolder());
}

bool CKvJobBlockView::Open(const std::string& programFolder)
{
    return m_memory.Open(JobBlockName(programFolder, CurrentEngineSlot()), sizeof(tagKvJobBlock));
}

bool CKvJobBlockView::Open()
{
    return Open(GetProgramFolder());
}

} // namespace velmora
