#include "project/KvWavIndex.h"

#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "xml/KvXmlNode.h"

#include <sys/stat.h>

#include <algorithm>

#include <string>

namespace velmora {

namespace {

constexpr std::wstring_view kRoot = L"WavFiles";
constexpr std::wstring_view kItem = L"item";
constexpr std::wstring_view kSource = L"source";
constexpr std::wstring_view kWav = L"wav";
constexpr std::wstring_view kAudioStream = L"nAudioStream";

// The sound track an item holds: absent (and anything negative) is the first.
int ItemAudioStream(const CKvXmlNode& item)
{
    return std::max(-1, item.GetIntAttribute(kAudioStream, -1));
}

int Track(int audioStream)
{
    return audioStream < 0 ? -1 : audioStream;
}

// The first item whose "source" equals source exactly and that holds the track, or
// nullptr. The value is read through the unescaping getter, so names with & < > "
// compare as they are on disk.
CKvXmlNode* FindFirstItem(const CKvXmlNode* root, std::wstring_view source, int audioStream)
{
    if (!root)
        return nullptr;
    for (CKvXmlNode* item = root->FirstChild(kItem); item; item = root->NextChild(kItem, item)) {
        if (!item->HasAttribute(kSource))
            continue;
        if (item->GetStringAttribute(kSource) == source && ItemAudioStream(*item) == Track(audioStream))
            return item;
    }
    return nullptr;
}

CKvXmlNode* LoadRoot(CKvXmlNode& document, const std::string& path)
{
    if (!document.Load(path))
        return nullptr;
    return document.FirstChild(kRoot);
}

} // namespace

std::string WavIndexPath(const std::string& programFolder)
{
    return ProgramPath(programFolder, "tmp/wavfiles.dat");
}

bool WavFileExists(std::wstring_view path)
{
    if (path.empty())
        return false;
    struct stat info {};
    return ::stat(WideToUtf8(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

WavIndexView::WavIndexView(const std::string& programFolder)
{
    CKvXmlNode document;
    const CKvXmlNode* root = LoadRoot(document, WavIndexPath(programFolder));
    if (!root)
        return;
    for (const CKvXmlNode* item = root->FirstChild(kItem); item; item = root->NextChild(kItem, item)) {
        // The first item naming a source decides; later ones are never consulted.
        if (item->HasAttribute(kSource))
            m_items.emplace(Key{item->GetStringAttribute(kSource), ItemAudioStream(*item)}, item->GetStringAttribute(kWav));
    }
}

WavIndexLookup WavIndexView::Find(std::wstring_view source, int audioStream) const
{
    WavIndexLookup result;
    const auto found = m_items.find(Key{std::wstring(source), Track(audioStream)});
    if (found == m_items.end())
        return result;
    result.wav = found->second;
    result.state = WavFileExists(result.wav) ? WavIndexState::kPresent : WavIndexState::kStale;
    return result;
}

WavIndexLookup LookupWavIndex(const std::string& programFolder, std::wstring_view source, int audioStream)
{
    return WavIndexView(programFolder).Find(source, audioStream);
}

bool RecordWavExtraction(const std::string& programFolder, std::wstring_view source, std::wstring_view wav,
                         int audioStream)
{
    const std::string path = WavIndexPath(programFolder);
    CKvXmlNode document;
    CKvXmlNode* root = LoadRoot(document, path);
    if (!root) {
        // Unreadable, or not an index: start over rather than append to a stranger's tree.
        document.ClearChildren();
        root = document.AddChild(kRoot);
    }
    if (CKvXmlNode* item = FindFirstItem(root, source, audioStream)) {
        item->SetAttributeInPlace(kWav, wav); // the attribute keeps its place
    } else {
        CKvXmlNode* added = root->AddChild(kItem);
        added->SetAttribute(kSource, source);
        added->SetAttribute(kWav, wav);
        if (audioStream >= 0)
            added->SetIntAttribute(kAudioStream, audioStream);
    }
    return document.Save(path, CKvXmlNode::kUtf16Le);
}

bool ForgetStaleWav(const std::string& programFolder, std::wstring_view source, int audioStream)
{
    const std::string path = WavIndexPath(programFolder);
    CKvXmlNode document;
    CKvXmlNode* root = LoadRoot(document, path);
    CKvXmlNode* item = FindFirstItem(root, source, audioStream);
    if (!item || WavFileExists(item->GetStringAttribute(kWav)))
        return false;
    root->RemoveChild(item);
    return document.Save(path, CKvXmlNode::kUtf16Le);
}

} // namespace velmora
