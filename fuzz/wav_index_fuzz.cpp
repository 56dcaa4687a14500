// The index of extracted sound tracks over any bytes: the engine's look-up and the
// front end's updates. Every source the file names must be found again, with the new
// WAV, after an extraction is recorded for it.

#include "FuzzSupport.h"

#include "common/KvText.h"
#include "project/KvWavIndex.h"
#include "xml/KvXmlNode.h"

#include <cstdint>
#include <string>
#include <vector>

using velmora::fuzz::Expect;
using velmora::fuzz::Scratch;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string& folder = Scratch().Path();
    const std::string index = velmora::WavIndexPath(folder);
    velmora::fuzz::WriteFile(index, bytes);

    // The sources the file names (a few), as the front end would look them up.
    std::vector<std::wstring> sources = {L"/media/absent.mkv"};
    CKvXmlNode document;
    if (document.LoadFromBuffer(bytes)) {
        if (const CKvXmlNode* root = document.FirstChild(L"WavFiles")) {
            for (const CKvXmlNode* item = root->FirstChild(L"item"); item && sources.size() < 4;
                 item = root->NextChild(L"item", item))
                sources.push_back(item->GetStringAttribute(L"source"));
        }
    }

    const velmora::WavIndexView view(folder);
    const std::string wavPath = Scratch().Writable("tmp/extracted.wav");
    const std::wstring wav = velmora::Utf8ToWide(wavPath);
    velmora::fuzz::WriteFile(wavPath, "RIFF");
    for (const std::wstring& source : sources) {
        (void)view.Find(source);
        Expect(velmora::RecordWavExtraction(folder, source, wav), "the index is saved");
        const velmora::WavIndexLookup found = velmora::LookupWavIndex(folder, source);
        Expect(found.state == velmora::WavIndexState::kPresent && found.wav == wav,
               "a recorded extraction is found again");
        Expect(!velmora::ForgetStaleWav(folder, source), "a present WAV is not forgotten");
    }
    return 0;
}
