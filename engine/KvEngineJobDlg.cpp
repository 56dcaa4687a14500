#include "engine/KvEngineJobDlg.h"

#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "project/KvDecoderSettings.h"
#include "project/KvProjectReader.h"

#include <QCoreApplication>
#include <QThread>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;

CKvEngineJobDlg::CKvEngineJobDlg(tagKvJobBlock* jobBlock, const std::string& programFolder, QObject* parent)
    : QObject(parent)
    , m_block(jobBlock)
    , m_programFolder(programFolder)
{
    LoadGLCaps(m_programFolder, m_glCaps);
}

bool CKvEngineJobDlg::LoadJobProject(const std::string& projectPath, tagKvEngineOptions& options, bool optionsLoaded,
                                     bool playMode)
{
    if (!optionsLoaded) {
        m_loadError = "cannot read " + ProgramPath(m_programFolder, "tmp/option.dat");
        return false;
    }
    tagKvProjectReadOptions read;
    read.programFolder = m_programFolder;
    read.bPlayMode = playMode;
    read.pPresetTable = options.table.data();
    read.onPresetSelected = [this](const tagKvOptionRecord& record) { WriteDecoderSettings(m_programFolder, record); };
    if (!ReadProject(projectPath, m_project, read)) {
        m_loadError = "cannot load the project " + projectPath;
        return false;
    }
    return true;
}

std::string CKvEngineJobDlg::FindUnreadableSource() const
{
    const CKvEngineLine* line = m_project.FindLine(kLineAudio);
    if (!line)
        return {};
    for (const auto& item : line->items) {
        const std::wstring& path = item->bUsesExtractedWav ? item->szExtractedWav : item->source;
        if (path.empty())
            continue;
        const std::string utf8 = WideToUtf8(path);
        struct stat info {};
        if (stat(utf8.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || access(utf8.c_str(), R_OK) != 0)
            return "cannot read the source " + utf8;
    }
    return {};
}

KvNotifyCallback CKvEngineJobDlg::GraphNotice()
{
    return [this](int) { QMetaObject::invokeMethod(this, [this] { OnGraphNotify(); }, Qt::QueuedConnection); };
}

void CKvEngineJobDlg::DrainGraphEvents(CKvVideoConverter& graph, const std::function<void(long code)>& onEnd)
{
    long code = 0;
    std::intptr_t param1 = 0;
    std::intptr_t param2 = 0;
    if (graph.GetEvent(code, param1, param2, 0) != S_OK)
        return;
    for (;;) {
        graph.FreeEventParams(code, param1, param2);
        if (code == EC_COMPLETE || code == EC_USERABORT || code == EC_ERRORABORT || code == EC_LOUDNESS_AGAIN) {
            onEnd(code);
            return;
        }
        QThread::msleep(100);
        if (graph.GetEvent(code, param1, param2, 0) != S_OK)
            return;
    }
}

void CKvEngineJobDlg::StopTimers()
{
    if (m_startTimer != 0)
        killTimer(m_startTimer);
    if (m_positionTimer != 0)
        killTimer(m_positionTimer);
    m_startTimer = 0;
    m_positionTimer = 0;
}

void CKvEngineJobDlg::Quit()
{
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::exit(kQuitCode);
}
