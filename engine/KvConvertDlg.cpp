#include "engine/KvConvertDlg.h"

#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "engine/KvEngineLog.h"

#include <QCoreApplication>
#include <QTimerEvent>
#include <cmath>
#include <fstream>

using namespace velmora;

CKvConvertDlg::CKvConvertDlg(tagKvJobBlock* jobBlock, tagKvEngineOptions& options, bool optionsLoaded,
                             const std::string& programFolder, QObject* parent)
    : CKvEngineJobDlg(jobBlock, programFolder, parent)
{
    m_bListMode = IsListModeJob(*m_block) ? 1 : 0;
    const std::string projectPath = ProgramPath(m_programFolder, m_bListMode ? "tmp/listctrl.kvmmpj" : "tmp/kvengine.kvmmpj");

    tagKvOptionRecord option = options.Current();
    if (optionsLoaded && options.nBytesRead < kKvOptionRecordSize) {
        // The rest of the record would keep built-in values, and the audio fields
        // of those are 0: a job made from that is not the one the user chose.
        m_loadError = "the option file " + ProgramPath(m_programFolder, "tmp/option.dat") + " holds " +
                      std::to_string(options.nBytesRead) + " of " + std::to_string(kKvOptionRecordSize) + " bytes";
        m_loadFailure = KvJobFailure::SettingsRefused;
    } else if (LoadJobProject(projectPath, options, optionsLoaded, false)) {
        option = m_project.option;
        if (!(option == options.Current()))
            AppendEngineLog(m_programFolder, "the project names another preset (\"vensettingIndex\") than the job "
                                             "block's nPreset " + std::to_string(options.nCurrent) +
                                             "; its record was not read from the option file");
        m_duration = GetProjectDuration(&m_project);
        if (!std::isfinite(m_duration) || m_duration <= 0.0)
            m_loadError = "the project's time line has no length (" + std::to_string(m_duration) + " s)";
        else if (m_loadError = FindUnreadableSource(); !m_loadError.empty())
            m_loadFailure = KvJobFailure::SourceUnreadable;
    }

    m_jobFlags = option.nJobFlags;
    m_setup.project = &m_project;
    m_setup.jobBlock = m_block;
    m_setup.option = option;
    m_setup.programFolder = m_programFolder;
    m_pConverter = std::make_unique<CKvVideoConverter>(m_setup);
}

CKvConvertDlg::~CKvConvertDlg()
{
    Close();
}

void CKvConvertDlg::OnInitDialog()
{
    if (!m_loadError.empty()) {
        // Nothing could come of waiting for the go flag: end the job now, so the front
        // end is not left polling a job that can never start.
        QMetaObject::invokeMethod(this, [this] { FailJob(m_loadError, m_loadFailure); }, Qt::QueuedConnection);
        return;
    }
    m_startTimer = startTimer(kStartTimerMs);
    // A go flag that is already set is seen at the first turn of the loop, not a
    // whole timer period later: that wait would be most of a short job's start-up.
    QMetaObject::invokeMethod(this, [this] { CheckGoFlag(); }, Qt::QueuedConnection);
}

void CKvConvertDlg::CheckGoFlag()
{
    if (m_startTimer == 0)
        return;
    if (m_bListMode != 0 || LoadAcquire(m_block->bStartConvert) != 0) {
        killTimer(m_startTimer);
        m_startTimer = 0;
        StartConversion();
    }
}

void CKvConvertDlg::timerEvent(QTimerEvent* event)
{
    if (m_startTimer != 0 && event->timerId() == m_startTimer) {
        CheckGoFlag();
        return;
    }
    if (m_positionTimer != 0 && event->timerId() == m_positionTimer) {
        if (LoadAcquire(m_block->nState) != 0 && m_pConverter) {
            RaiseJobPosition(*m_block, m_pConverter->GetPosition(), m_duration);
        } else {
            killTimer(m_positionTimer);
            m_positionTimer = 0;
        }
    }
}

void CKvConvertDlg::StartConversion()
{
    if (m_started || m_ended)
        return;
    m_started = true;
    const std::string outputPath = GetJobPathUtf8(m_block->szOutputFile);
    // The source may have gone while the engine waited for the go flag.
    const std::string unreadable = FindUnreadableSource();
    if (!unreadable.empty()) {
        FailJob(unreadable, KvJobFailure::SourceUnreadable);
        return;
    }
    if (m_jobFlags & kKvJobMeasureLoudness) {
        // An album's rows, measured together before any of them is converted.
        KvLoudness measured;
        std::string why;
        if (!m_pConverter->MeasureLoudness(measured, why)) {
            FailJob("the loudness cannot be measured: " + why, KvJobFailure::SourceUnreadable);
            return;
        }
        std::ofstream(ProgramPath(m_programFolder, "tmp/measured.txt"))
            << FormatDoubleAs("%.17g", measured.integrated) << ' ' << FormatDoubleAs("%.17g", measured.truePeak) << '\n';
        AppendEngineLog(m_programFolder, "loudness measured: " + FormatDoubleAs("%.2f", measured.integrated) +
                                             " LUFS integrated, true peak " +
                                             FormatDoubleAs("%.2f", LinearToDb(measured.truePeak)) + " dBTP");
        StoreRelease(m_block->bConvertFailed, 0);
        StoreRelease(m_block->dPosition, m_duration);
        m_ended = true;
        Quit();
        return;
    }
    m_positionTimer = startTimer(kPositionTimerMs);
    BuildGraph(outputPath);
}

void CKvConvertDlg::BuildGraph(const std::string& outputPath)
{
    m_pConverter->SetOutputPath(outputPath);
    m_pConverter->SetNotifyWindow(GraphNotice(), kGraphNotifyMessage);
    const HRESULT hr = m_pConverter->BuildConversionGraph(outputPath);
    if (!m_pConverter->SettingsNote().empty())
        AppendEngineLog(m_programFolder, "output settings adjusted: " + m_pConverter->SettingsNote());
    if (Failed(hr))
        FailJob("the conversion to " + outputPath + " cannot start: " + m_pConverter->LastError(),
                m_pConverter->LastFailure());
}

void CKvConvertDlg::ConvertAgain()
{
    if (m_ended)
        return;
    // A fresh converter with the loudness the first one measured, the true peak now
    // among it; the bar goes on from where it is.
    const KvLoudness measured = m_pConverter->MeasuredLoudness();
    m_pConverter->TearDown();
    m_pConverter = std::make_unique<CKvVideoConverter>(m_setup);
    m_pConverter->SetKnownLoudness(measured, m_duration > 0.0 ? LoadAcquire(m_block->dPosition) / m_duration : 0.0);
    BuildGraph(GetJobPathUtf8(m_block->szOutputFile));
}

void CKvConvertDlg::OnGraphNotify()
{
    if (m_ended)
        return;
    DrainGraphEvents(*m_pConverter, [this](long code) {
        if (code == EC_LOUDNESS_AGAIN) {
            QMetaObject::invokeMethod(this, [this] { ConvertAgain(); }, Qt::QueuedConnection);
            return;
        }
        if (code == EC_COMPLETE) {
            StopTimers();
            // Every position published so far is at most the length, so this is the
            // last and largest; the file is already complete under its name. nState
            // follows in Close, once the converter is gone. Sources that ran out early
            // ended the output with them: then its length is the position, and the
            // front end is told where the sound ended.
            StoreRelease(m_block->bConvertFailed, 0);
            const double soundEnd = m_pConverter->GetSoundEnd();
            if (soundEnd >= 0.0) {
                StoreRelease(m_block->dSoundEnd, soundEnd);
                AppendEngineLog(m_programFolder, "the sources' sound ends at " + FormatDoubleAs("%.3f", soundEnd) +
                                                     " s of the time line's " + FormatDoubleAs("%.3f", m_duration) +
                                                     " s");
            }
            StoreRelease(m_block->dPosition, soundEnd >= 0.0 ? soundEnd : m_duration);
            if (const std::string& note = m_pConverter->LoudnessNote(); !note.empty()) {
                // One line the front end shows in the row's tip.
                std::ofstream(ProgramPath(m_programFolder, "tmp/loudness.txt")) << note << '\n';
                AppendEngineLog(m_programFolder, "loudness: " + note);
            }
            m_ended = true;
            Quit();
            return;
        }
        const std::string why = m_pConverter->LastError();
        FailJob("the conversion aborted" + (why.empty() ? std::string() : ": " + why), m_pConverter->LastFailure());
    });
}

void CKvConvertDlg::FailJob(const std::string& reason, KvJobFailure kind)
{
    if (m_ended)
        return;
    m_ended = true;
    StopTimers();
    if (kind == KvJobFailure::None)
        kind = KvJobFailure::Internal;
    // The bracketed name reads the same in every locale, for whoever greps the log.
    AppendEngineLog(m_programFolder, "job failed [" + std::string(JobFailureName(kind)) + "]: " + reason);
    if (m_pConverter) {
        m_pConverter->Stop();
        m_pConverter->TearDown();
    }
    // Written before nState (in Close): whoever sees nState = 0 also sees why.
    StoreRelease(m_block->nFailureCode, static_cast<std::int32_t>(kind));
    StoreRelease(m_block->bConvertFailed, 1);
    Quit();
}

void CKvConvertDlg::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    StopTimers();
    // Joins the streaming thread: after this nobody in the engine writes dPosition.
    m_pConverter.reset();
    // The one write of nState = 0, last but for bEngineClosed: a front end that
    // starts its next job on seeing it finds nothing of this one still writing.
    StoreRelease(m_block->nState, kKvJobIdle);
    StoreRelease(m_block->bEngineClosed, 1);
}
