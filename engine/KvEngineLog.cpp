#include "engine/KvEngineLog.h"

#include "common/KvProgramFolder.h"

#include <ctime>
#include <fstream>

namespace velmora {

void AppendEngineLog(const std::string& programFolder, std::string_view text)
{
    std::string line;
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char stamp[32] = "";
    if (gmtime_r(&now, &utc) != nullptr)
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    line += stamp;
    line += " kvengine: ";
    for (char c : text)
        line += (c == '\n' || c == '\r') ? ' ' : c;
    line += '\n';
    std::ofstream out(ProgramPath(programFolder, "tmp/kvengine.log"), std::ios::binary | std::ios::app);
    out << line;
}

} // namespace velmora
