#include "common/KvJobBlockMapping.h"

#include "common/KvProgramFolder.h"

namespace velmora {

bool CKvJobBlockOwner::Create(const std::string& programFolder)
{
    return m_memory.Create(SharedObjectName(kKvJobBlockGuid, programFolder), sizeof(tagKvJobBlock));
}

bool CKvJobBlockOwner::Create()
{
    return Create(GetProgramFolder());
}

bool CKvJobBlockView::Open(const std::string& programFolder)
{
    return m_memory.Open(SharedObjectName(kKvJobBlockGuid, programFolder), sizeof(tagKvJobBlock));
}

bool CKvJobBlockView::Open()
{
    return Open(GetProgramFolder());
}

} // namespace velmora
