#pragma once

// The caption lookup of one subtitle-file item, asked once per video frame: which
// text covers the frame's time, and whether the drawn picture of it must be made
// again. Drawing itself is the renderer's business; this class only keeps the
// item's caption state between frames.
//
// Files without chapters (SRT) are read forward once: the caption being shown and
// the item's text are kept until the time passes its end; captions that overlap the
// time are joined. Files with chapters (ASS, SSA) show the run the item chose and
// resume each search at the offset after the caption found last, so a lookup reads
// only the captions between two frames.

#include "pipeline/KvSubtitleFile.h"

#include <memory>
#include <string>

namespace velmora {

class CKvSubtitleTrack
{
public:
    // Opens path and enters chapterIndex when the file has chapters. itemStart is the
    // item's place on the time line (seconds); caption times are added to it.
    // nullptr when the file cannot be opened (the item then shows no captions).
    static std::unique_ptr<CKvSubtitleTrack> Load(const std::string& path, int chapterIndex, double itemStart);

    // The lookup for a frame at time-line time t. Returns true when a caption is to
    // be drawn in this frame: Text() then holds it, and PictureNeeded() tells whether
    // the picture of the text has to be made (the call counts it as made).
    bool LookUp(double t);

    const std::u16string& Text() const { return m_text; }
    bool PictureNeeded() const { return m_pictureNeeded; }
    // Times of the caption being shown (files without chapters), time-line seconds.
    double ShownStart() const { return m_dSubtitleStart; }
    double ShownEnd() const { return m_dSubtitleEnd; }
    CKvSubtitleFile& File() { return *m_file; }

private:
    CKvSubtitleTrack(std::unique_ptr<CKvSubtitleFile> file, int chapterIndex, double itemStart);

    bool LookUpWithoutChapters(double t);
    bool LookUpInChapter(double t);
    bool Covers(const tagKvSubtitleEntry& entry, double t) const;
    // Reopens a file that the end of a read closed, keeping its chapter index.
    bool Reopen();

    std::unique_ptr<CKvSubtitleFile> m_file;
    int m_nChapter = 0;
    double m_dItemStart = 0.0;
    std::u16string m_text;
    bool m_pictureCached = false;
    bool m_pictureNeeded = false;
    double m_dSubtitleStart = 0.0;
    double m_dSubtitleEnd = 0.0;
};

} // namespace velmora
