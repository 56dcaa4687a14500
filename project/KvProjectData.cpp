#include "project/KvProjectData.h"

namespace velmora {

namespace {

bool InRange(int n, int lo, int hi)
{
    return n >= lo && n <= hi;
}

} // namespace

bool IsOverlayLine(int nKind)
{
    return nKind == 3 || InRange(nKind, 16, 20) || InRange(nKind, 34, 39);
}

bool IsTextLine(int nKind)
{
    return InRange(nKind, 4, 7) || InRange(nKind, 26, 28);
}

bool IsActionLine(int nKind)
{
    return InRange(nKind, 9, 14) || InRange(nKind, 21, 25) || InRange(nKind, 29, 31) || InRange(nKind, 40, 45);
}

bool IsBlockActionLine(int nKind)
{
    return nKind == 9 || nKind == 10 || InRange(nKind, 21, 25) || InRange(nKind, 40, 45);
}

bool Has3DItemValues(int nKind)
{
    // Audio, action, camera and the further media lines carry no per-item 3D values.
    const bool excluded = nKind == 1 || nKind == 2 || InRange(nKind, 9, 14) || InRange(nKind, 21, 25)
        || InRange(nKind, 29, 32) || InRange(nKind, 40, 47);
    return !excluded;
}

bool HasSourceChild(int nKind)
{
    return InRange(nKind, 0, 3) || InRange(nKind, 15, 20) || InRange(nKind, 33, 39) || nKind == 46 || nKind == 47;
}

bool Has3DGroupSettings(int nKind)
{
    return nKind == 0 || InRange(nKind, 3, 6) || InRange(nKind, 16, 20) || InRange(nKind, 26, 28)
        || InRange(nKind, 34, 39);
}

} // namespace velmora
