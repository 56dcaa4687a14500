// The manifest of a target folder on any bytes (a torn write, a hand edit, another
// program's file under its name): every entry read writes out as a line that reads
// back the same, and looking a source up in it never fails.

#include "frontend/KvConvertedManifest.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace velmora;
    KvConvertedManifest manifest(QStringLiteral("/nonexistent-velmora-fuzz"));
    manifest.Parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const KvManifestEntry& entry : manifest.Entries()) {
        KvManifestEntry again;
        if (!KvConvertedManifest::ParseLine(KvConvertedManifest::Line(entry), again))
            std::abort();
        if (again.source.path != entry.source.path || again.source.size != entry.source.size
            || again.source.mtimeNs != entry.source.mtimeNs || again.settings != entry.settings
            || again.output != entry.output || again.state != entry.state)
            std::abort();
        if (!manifest.FindConverted(entry.source, entry.settings, QString()).isEmpty())
            std::abort(); // nothing is there
    }
    return 0;
}
