#include "project/KvJobProject.h"

#include "common/KvProgramFolder.h"
#include "common/KvText.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <set>
#include <system_error>

namespace {

// Identifies items inside this process; also names their temporary pictures.
std::atomic<int> g_nextItemId{1};

// What is not a finite number counts as 0.
double Finite(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

// True for "<letters/digits>_<id>.png": the temporary pictures an item leaves in tmp/.
bool IsItemPicture(const std::string& name, const std::set<std::string>& ids)
{
    const auto underscore = name.rfind('_');
    if (underscore == std::string::npos || underscore == 0 || name.size() < 4
        || name.compare(name.size() - 4, 4, ".png") != 0)
        return false;
    for (size_t i = 0; i < underscore; ++i) {
        if (!std::isalnum(static_cast<unsigned char>(name[i])))
            return false;
    }
    return ids.count(name.substr(underscore + 1, name.size() - 4 - underscore - 1)) != 0;
}

} // namespace

std::unique_ptr<tagKvProjectData> BuildJobProject(const std::vector<tagKvJobRow>& rows)
{
    if (rows.empty())
        return nullptr;

    auto project = std::make_unique<tagKvProjectData>();
    auto line = std::make_unique<tagKvLineData>();
    line->nLineType = velmora::kLineAudio;

    double dPreviousEnd = 0.0;
    for (const tagKvJobRow& row : rows) {
        auto item = std::make_unique<tagKvMediaData>();
        const double dDuration = Finite(row.duration);
        const double dEndCell = Finite(row.end);
        const double dOut = std::min(dEndCell, dDuration);
        // The in-point stays 0.1 s before the End cell and, when the End cell lies
        // beyond the source, before the source's end too: a start past the duration
        // would otherwise give an item of negative length.
        double dIn = std::min(Finite(row.start), dEndCell - 0.1);
        if (dIn > dOut - 0.1)
            dIn = std::max(0.0, dOut - 0.1);
        if (dIn < 0.001)
            dIn = 0.0;
        double dRate = row.speed;
        if (!std::isfinite(dRate) || dRate < 0.01)
            dRate = 0.01;

        item->source = row.file;
        item->dVSelfDuration = item->dASelfDuration = dDuration;
        item->dVSelfStartTime = item->dASelfStartTime = dIn;
        item->dVSelfEndTime = item->dASelfEndTime = dOut;
        item->dAudioDelay = Finite(row.syncAudio);
        item->dVoiceScale = Finite(row.volume);
        item->dPlaybackRate = dRate;
        item->bHadAudio = row.hasAudio ? 1 : 0;
        item->nVideoWidth = row.sourceWidth;
        item->nVideoHeight = row.sourceHeight;
        item->nAudioStream = row.audioStream < 0 ? -1 : row.audioStream;
        if (row.track) {
            item->track = row.track;
            item->track->start = dIn;
            item->track->end = dOut;
        }
        item->loudness = row.loudness;
        item->dEditorStartTime = dPreviousEnd;
        item->dEditorEndTime = (dOut - dIn) / dRate + item->dEditorStartTime;
        item->eMediaTypeLine = velmora::kLineAudio;
        item->eMediaType = velmora::kMediaAudio;
        item->eImageFillMode = 1;
        item->dwselptrinmainapp = g_nextItemId++;
        dPreviousEnd = item->dEditorEndTime;
        line->items.push_back(std::move(item));
    }
    project->lines.push_back(std::move(line));
    return project;
}

double GetAudioLineDuration(const tagKvProjectData* project)
{
    double dDuration = 0.0;
    if (project == nullptr)
        return dDuration;
    for (const auto& pLine : project->lines) {
        if (pLine->nLineType != velmora::kLineAudio)
            continue;
        for (const auto& pItem : pLine->items)
            dDuration = std::max(dDuration, pItem->dEditorEndTime);
    }
    return dDuration;
}

void FitAudioFades(tagKvMediaData& item)
{
    if (item.bHadAudio == 0)
        return;
    const double dLength = item.dEditorEndTime - item.dEditorStartTime;
    const double dIn = item.dAudioFadeInDuration;
    const double dOut = item.dAudioFadeOutDuration;
    if (dIn + dOut <= dLength)
        return;
    if (dIn > 0.0 && dOut > 0.0) {
        item.dAudioFadeInDuration = dIn * dLength / (dIn + dOut);
        item.dAudioFadeOutDuration = dOut * dLength / (dIn + dOut);
    } else if (dIn > 0.0) {
        item.dAudioFadeInDuration = dLength;
        item.dAudioFadeOutDuration = 0.0;
    } else if (dOut > 0.0) {
        item.dAudioFadeInDuration = 0.0;
        item.dAudioFadeOutDuration = dLength;
    }
}

void FreeProject(std::unique_ptr<tagKvProjectData>& project, const std::string& programFolder)
{
    if (!project)
        return;
    std::set<std::string> ids;
    while (!project->lines.empty()) {
        auto& items = project->lines.back()->items;
        while (!items.empty()) {
            ids.insert(std::to_string(items.back()->dwselptrinmainapp));
            items.pop_back();
        }
        project->lines.pop_back();
    }
    project.reset();

    std::error_code error;
    const std::filesystem::path tmp = velmora::ProgramPath(programFolder, "tmp/");
    std::vector<std::filesystem::path> pictures;
    for (std::filesystem::directory_iterator it(tmp, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error) && IsItemPicture(it->path().filename().string(), ids))
            pictures.push_back(it->path());
    }
    for (const auto& picture : pictures)
        std::filesystem::remove(picture, error);
}
