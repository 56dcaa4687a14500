// Start-up and dispatch in process, where the engine's option state can be seen.

#include "EngineTestHelper.h"

#include "common/KvProgramFolder.h"
#include "engine/KvConvertDlg.h"
#include "engine/KvEngineApp.h"
#include "engine/KvFullPlayDlg.h"

#include <QCoreApplication>
#include <filesystem>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

struct ProgramFolderScope
{
    explicit ProgramFolderScope(const std::string& folder) { SetProgramFolderForTesting(folder); }
    ~ProgramFolderScope() { SetProgramFolderForTesting(""); }
};

} // namespace

TEST(EngineApp, ListModeAppliesTheOverridesAndConvertsWithoutTheGoFlag)
{
    TempFolder media("velmora-engine-app");
    const std::string source = media.Path() + "tone.wav";
    ASSERT_TRUE(MakeSource(source, 1.0, 44100));

    EngineJob job;
    ProgramFolderScope scope(job.Folder());
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
    ASSERT_TRUE(job.WriteProject({{source, 1.0, 0.0, 0.5, 1.0, 0.0}}, 4, true));
    WriteFileBytes(job.Folder() + "list.txt", "x");
    job.FillConversion(job.Folder() + "list.mp3", false);
    SetJobPathUtf8(job.Block().szListFile, job.Folder() + "list.txt");
    job.Block().nSizeModeOverride = 1;
    job.Block().nVideoBitrateOverride = 777;
    job.Block().nFileSizeOverride = 55;
    job.Block().nQualityOverride = 9;

    int argc = 1;
    char name[] = "kvengine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CKvEngineApp engine;
    EXPECT_FALSE(engine.InitInstance());
    EXPECT_EQ(engine.ExitInstance(), 0);

    const tagKvOptionRecord& current = engine.Options().Current();
    EXPECT_EQ(current.nSizeMode, 1);
    EXPECT_EQ(current.nVideoBitrate, 777);
    EXPECT_EQ(current.nFileSizeMB, 55);
    EXPECT_EQ(current.nQuality, 9);
    EXPECT_EQ(current.nWidth, 856) << "the rest comes from the option file";
    EXPECT_EQ(job.Block().nState, kKvJobIdle);
    EXPECT_EQ(job.Block().bConvertFailed, 0);
    EXPECT_EQ(job.Block().bEngineClosed, 1);
    EXPECT_EQ(job.Block().dPosition, 0.5);
    EXPECT_TRUE(fs::exists(job.Folder() + "list.mp3"));
    // The engine keeps the decoder settings in step with the record it uses.
    EXPECT_TRUE(fs::exists(WorkFolderOf(job.Folder()) + "skin/decoder.xml")) << "written where the user may write";
    EXPECT_FALSE(fs::exists(job.Folder() + "skin/decoder.xml"));
}

// The front end may start its next job the moment it sees nState = 0, so the engine
// writes it once, after its converter (the last thing that writes) is gone, and
// follows it only with bEngineClosed.
TEST(ConvertDlg, WritesNStateOnceAtTheVeryEnd)
{
    TempFolder media("velmora-engine-dlg");
    const std::string source = media.Path() + "tone.wav";
    ASSERT_TRUE(MakeSource(source, 1.0, 44100));
    int argc = 1;
    char name[] = "kvengine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    for (const bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "failed job" : "completed job");
        EngineJob job;
        ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, failing ? 0 : 128, 44100, 1)));
        ASSERT_TRUE(job.WriteProject({{source, 1.0, 0.0, 0.5, 1.0, 0.0}}));
        job.FillConversion(job.Folder() + "out.mp3");
        tagKvEngineOptions options;
        ASSERT_TRUE(LoadOptions(4, options, job.Folder()));
        WriteFileBytes(job.Folder() + "skin/GL.dat", "<GL GLExtensionSupported=\"1\"/>");

        CKvConvertDlg dialog(&job.Block(), options, true, job.Folder());
        // Building the job dialog reads the renderer's capabilities and saves them back.
        EXPECT_EQ(ReadFileBytes(WorkFolderOf(job.Folder()) + "skin/GL.dat").substr(0, 2), "\xFF\xFE") << "saved where the user may write";
        dialog.OnInitDialog();
        EXPECT_EQ(QCoreApplication::exec(), CKvConvertDlg::kQuitCode);
        EXPECT_EQ(job.Block().bConvertFailed, failing ? 1 : 0);
        EXPECT_EQ(job.Block().dPosition, failing ? 0.0 : 0.5);
        EXPECT_EQ(job.Block().nState, kKvJobRunning) << "not before the converter is gone";
        EXPECT_EQ(job.Block().bEngineClosed, 0);
        dialog.Close();
        EXPECT_EQ(dialog.Converter(), nullptr);
        EXPECT_EQ(job.Block().nState, kKvJobIdle);
        EXPECT_EQ(job.Block().bEngineClosed, 1);
    }
}

// The preview's job object reads the renderer's capabilities where the conversion's
// does: when it is built.
TEST(FullPlayDlg, ReadsTheRendererCapabilitiesWhenBuilt)
{
    EngineJob job;
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
    job.FillPreview(1.0);
    tagKvEngineOptions options;
    ASSERT_TRUE(LoadOptions(4, options, job.Folder()));
    WriteFileBytes(job.Folder() + "skin/GL.dat", "<GL GLExtensionSupported=\"1\"/>");
    CKvFullPlayDlg dialog(&job.Block(), options, true, job.Folder());
    EXPECT_EQ(ReadFileBytes(WorkFolderOf(job.Folder()) + "skin/GL.dat").substr(0, 2), "\xFF\xFE");
}
