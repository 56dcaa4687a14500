#pragma once

// The front end's project writer: builds the document of a project and saves it
// (UTF-16 LE with a mark) as "tmp/kvengine.kvmmpj" for the engine.

#include "project/KvProjectData.h"

#include <string>

struct tagKvProjectWriteOptions
{
    std::string programFolder;             // ends with "/": motion files under skin/
    const tagKvEditorState* pEditorState = nullptr; // jobs pass none
    double dScaleFactorForPlay = 1.0;      // jobs pass 1
    int vensettingIndex = 4;               // the output preset in use (0..9)
};

// Writes project to path. Does nothing and returns false without a project.
// Returns the result of the save (jobs do not check it).
bool WriteProject(const tagKvProjectData* project, const std::string& path, const tagKvProjectWriteOptions& options);
