// The subtitle reader on any bytes: the first byte picks the file name's extension
// (.srt, .ass, .ssa), the rest is the file. Every caption is read, every chapter
// entered and read, and the per-frame lookup walks the time line.

#include "FuzzSupport.h"

#include "pipeline/KvSubtitleFile.h"
#include "pipeline/KvSubtitleTrack.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace velmora;
    if (size < 1)
        return 0;
    static const char* const kNames[] = {"captions.srt", "captions.ass", "captions.SSA"};
    const std::string path = velmora::fuzz::Scratch().Path() + kNames[data[0] % 3];
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    CKvSubtitleFile reader;
    if (reader.Open(path, 1)) {
        tagKvSubtitleEntry entry;
        for (int i = 0; i < 10000 && reader.ReadEntry(entry); ++i) {
            if (entry.text[CKvSubtitleFile::kMaxTextUnits] != 0)
                std::abort(); // the text must stay terminated
        }
        for (int chapter = 0; chapter < reader.ChapterCount() && chapter < 64; ++chapter) {
            if (!reader.IsOpen() && !reader.Open(path, 0))
                break;
            reader.EnterChapter(chapter);
            for (int i = 0; i < 10000 && reader.ReadEntry(entry); ++i) {
            }
        }
    }
    if (auto track = CKvSubtitleTrack::Load(path, data[0] / 3 % 4, 0.0)) {
        for (double t = 0.0; t < 20.0; t += 0.5)
            track->LookUp(t);
    }
    std::remove(path.c_str());
    return 0;
}
