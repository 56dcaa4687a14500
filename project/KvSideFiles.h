#pragma once

// The small settings files under the program folder that the two programs keep beside
// the project file. All of them use the document layer and are saved UTF-16 LE with a
// byte-order mark; each operation opens, reads or writes and closes its file at once.
//
//   skin/h264.dat          <Settings nProfileIndex="0" nPFrameIndex="6" nBFrameIndex="1"/>
//   skin/3dsmoothing.xml   <_3DSmoothing Enable="0"/>
//   skin/GL.dat            <GL GLExtensionSupported="0" GLMultiSampleFormat="0"/>
//   <wav path>.xml         <AudioData dDelay="0.25"/>   (per extracted WAV, engine only)
//
// Readers tolerate missing files and attributes by keeping the values they were given;
// save failures are returned but nobody needs to report them (the next start reads
// the defaults or the old file).

#include <string>
#include <string_view>

// H.264 encoder choices: indices into the settings lists of the output settings.
struct tagKvH264Settings
{
    int nProfileIndex = 0;
    int nPFrameIndex = 6;
    int nBFrameIndex = 1;
};

// OpenGL capability values kept for the renderer.
struct tagKvGLCaps
{
    int GLExtensionSupported = 0;
    int GLMultiSampleFormat = 0;
};

// Reads "skin/h264.dat" over settings; each missing attribute keeps its current value.
// Returns false (settings untouched) when the file is missing, unreadable or has no
// "Settings" element.
bool LoadH264Settings(const std::string& programFolder, tagKvH264Settings& settings);
// Replaces "skin/h264.dat" with the three values.
bool SaveH264Settings(const std::string& programFolder, const tagKvH264Settings& settings);

// Writes "skin/3dsmoothing.xml" with "Enable" = bEnable.
bool SaveSmoothing(const std::string& programFolder, int bEnable);
// When the file loads and has a "_3DSmoothing" element, sets bEnable from "Enable"
// (0 when missing) and returns true; otherwise leaves bEnable and returns false.
bool LoadSmoothing(const std::string& programFolder, int& bEnable);

// When "skin/GL.dat" loads: reads both values of its "GL" element into caps (0 when
// missing; both 0 when there is no "GL" element), saves the document back UTF-16 LE
// whatever its former encoding, and returns GLExtensionSupported. When it does not
// load: returns 0 and leaves caps as they were.
int LoadGLCaps(const std::string& programFolder, tagKvGLCaps& caps);

// "dDelay" of the "AudioData" element in wavPath + ".xml": seconds by which the
// extracted sound is shifted. 0 when the path is empty, the file is missing or
// unreadable, the element or attribute is absent, or the value is not finite.
double GetWavDelay(std::wstring_view wavPath);
