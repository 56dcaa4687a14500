#include "engine/KvEngineApp.h"

#include "common/KvLog.h"
#include "common/KvProgramFolder.h"
#include "engine/KvConvertDlg.h"
#include "engine/KvEngineLog.h"
#include "engine/KvFullPlayDlg.h"
#include "project/KvDecoderSettings.h"

#include <QCoreApplication>
#include <cstdlib>
#include <ctime>

using namespace velmora;

bool CKvEngineApp::InitInstance()
{
    m_programFolder = GetProgramFolder();
    // Started by hand, or the front end is gone: there is no job to touch.
    if (!m_view.Open(m_programFolder))
        return false;
    tagKvJobBlock& block = *m_view.Block();
    // What the readers and the pipeline refuse goes where the rest of the job's
    // story is.
    SetLogSink([folder = m_programFolder](std::string_view line) { AppendEngineLog(folder, line); });

    m_optionsLoaded = LoadOptions(LoadAcquire(block.nPreset), m_options, m_programFolder);
    if (m_optionsLoaded)
        WriteDecoderSettings(m_programFolder, m_options.Current());
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    LoadSmoothing(m_programFolder, m_b3DSmoothing);

    if (LoadAcquire(block.bPlayMode) != 0) {
        if (LoadAcquire(block.bPreview) != 0)
            RunPreview();
        return false;
    }

    LoadH264Settings(m_programFolder, m_h264);
    if (LoadAcquire(block.nState) == kKvJobIdle)
        return false;
    if (m_optionsLoaded && IsListModeJob(block))
        ApplyListModeOverrides(m_options.Current(), block);
    RunConversion();
    return false;
}

void CKvEngineApp::RunConversion()
{
    CKvConvertDlg dialog(m_view.Block(), m_options, m_optionsLoaded, m_programFolder);
    dialog.OnInitDialog();
    QCoreApplication::exec();
    dialog.Close();
}

void CKvEngineApp::RunPreview()
{
    CKvFullPlayDlg dialog(m_view.Block(), m_options, m_optionsLoaded, m_programFolder);
    dialog.OnInitDialog();
    QCoreApplication::exec();
    dialog.Close();
}

int CKvEngineApp::ExitInstance()
{
    m_view.Close();
    return 0;
}
