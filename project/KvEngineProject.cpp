#include "project/KvEngineProject.h"

#include <utility>

CKvEngineLine::CKvEngineLine(int nKind)
{
    nLineType = nKind;
    subtitlebottommargin = 10; // the margin of a line whose file value is missing
}

CKvEngineItem* CKvEngineLine::AppendItem(std::unique_ptr<CKvEngineItem> pItem)
{
    CKvEngineItem* pLast = items.empty() ? nullptr : items.back().get();
    pItem->pPrev = pLast;
    pItem->pNext = nullptr;
    pItem->nPosition = static_cast<int>(items.size());
    if (pLast != nullptr)
        pLast->pNext = pItem.get();
    items.push_back(std::move(pItem));
    return items.back().get();
}

void LinkEngineItems(std::vector<std::unique_ptr<CKvEngineItem>>& list)
{
    CKvEngineItem* pPrev = nullptr;
    int nPosition = 0;
    for (auto& pItem : list) {
        pItem->pPrev = pPrev;
        pItem->pNext = nullptr;
        pItem->nPosition = nPosition++;
        if (pPrev != nullptr)
            pPrev->pNext = pItem.get();
        pPrev = pItem.get();
    }
}

namespace {

// The order in which the dialogs create the line objects; the player walks them in it.
std::vector<int> LineCreationOrder()
{
    std::vector<int> order = {32, 15, 0, 9, 3, 10};
    for (int k = 16; k <= 20; ++k) {
        order.push_back(k);
        order.push_back(k + 5);
    }
    for (int k = 34; k <= 39; ++k) {
        order.push_back(k);
        order.push_back(k + 6);
    }
    for (int k : {1, 2, 46, 47, 4, 11, 5, 12, 6, 13})
        order.push_back(k);
    for (int k = 26; k <= 28; ++k) {
        order.push_back(k);
        order.push_back(k + 3);
    }
    for (int k : {7, 14, 33})
        order.push_back(k);
    return order;
}

} // namespace

void CKvEngineLine::Relink()
{
    LinkEngineItems(items);
}

CKvEngineProject::CKvEngineProject()
{
    for (int nKind : LineCreationOrder()) {
        m_lines.push_back(std::make_unique<CKvEngineLine>(nKind));
        m_byKind[static_cast<size_t>(nKind)] = m_lines.back().get();
    }
}

CKvEngineProject::~CKvEngineProject() = default;

CKvEngineLine* CKvEngineProject::FindLine(int nKind) const
{
    if (nKind < 0 || nKind >= velmora::kLineKindCount)
        return nullptr;
    return m_byKind[static_cast<size_t>(nKind)];
}

void CKvEngineProject::Clear()
{
    detached.clear();
    // The line objects stay where they are: the player may hold pointers to them.
    for (auto& pLine : m_lines) {
        const int nKind = pLine->nLineType;
        pLine->items.clear();
        static_cast<tagKvLineAttributes&>(*pLine) = tagKvLineAttributes{};
        pLine->nLineType = nKind;
        pLine->subtitlebottommargin = 10;
        pLine->nOverlayMaxWidth = 0;
        pLine->nOverlayMaxHeight = 0;
    }
    b3D = 0;
    bEnableFog = 0;
    bEnableLighting = 0;
    clrFog = 11697996;
    clrLightAmbient = 8355711;
    clrLightDiffuse = 16777215;
    RelativeDir.clear();
    option = {};
    nFrameWidth = 0;
    nFrameHeight = 0;
    dScaleFactorForPlay = 1.0;
    bHasVuMeter = 0;
    nLoadCount = 0;
    nLoadTotal = 1;
}
