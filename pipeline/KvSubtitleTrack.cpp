#include "pipeline/KvSubtitleTrack.h"

namespace velmora {

std::unique_ptr<CKvSubtitleTrack> CKvSubtitleTrack::Load(const std::string& path, int chapterIndex, double itemStart)
{
    auto file = std::make_unique<CKvSubtitleFile>();
    if (!file->Open(path, 1))
        return nullptr;
    if (file->ChapterCount() > 0)
        file->EnterChapter(chapterIndex);
    return std::unique_ptr<CKvSubtitleTrack>(new CKvSubtitleTrack(std::move(file), chapterIndex, itemStart));
}

CKvSubtitleTrack::CKvSubtitleTrack(std::unique_ptr<CKvSubtitleFile> file, int chapterIndex, double itemStart)
    : m_file(std::move(file))
    , m_nChapter(chapterIndex)
    , m_dItemStart(itemStart)
{
}

bool CKvSubtitleTrack::LookUp(double t)
{
    m_pictureNeeded = false;
    return m_file->ChapterCount() > 0 ? LookUpInChapter(t) : LookUpWithoutChapters(t);
}

bool CKvSubtitleTrack::Covers(const tagKvSubtitleEntry& entry, double t) const
{
    return m_dItemStart + entry.start <= t && t <= m_dItemStart + entry.end;
}

bool CKvSubtitleTrack::Reopen()
{
    return m_file->Open(m_file->Path(), 0) != 0;
}

bool CKvSubtitleTrack::LookUpWithoutChapters(double t)
{
    tagKvSubtitleEntry entry;
    if (m_dSubtitleStart <= t && t <= m_dSubtitleEnd && m_dSubtitleEnd > 0.0) {
        if (m_text.empty())
            return false;
        if (!m_pictureCached) {
            // Captions after the shown one that cover t too are shown with it; the
            // first one that does not is read again by a later frame.
            std::u16string more;
            std::int64_t offset = m_file->Tell();
            while (m_file->IsOpen() && m_file->ReadEntry(entry)) {
                if (!Covers(entry, t)) {
                    if (m_file->IsOpen() || Reopen())
                        m_file->SeekTo(offset);
                    break;
                }
                more += entry.text;
                offset = m_file->Tell();
            }
            m_text += more;
            m_pictureCached = true;
            m_pictureNeeded = true;
        }
        return true;
    }
    m_pictureCached = false;
    if (t < m_dSubtitleStart)
        return false;
    do {
        if (!m_file->ReadEntry(entry))
            return false;
    } while (!(m_dItemStart + entry.end > t));
    m_text = entry.text;
    m_dSubtitleStart = m_dItemStart + entry.start;
    m_dSubtitleEnd = m_dItemStart + entry.end;
    return false;
}

bool CKvSubtitleTrack::LookUpInChapter(double t)
{
    tagKvSubtitleChapter* chapter = m_file->Chapter(m_nChapter);
    if (!chapter)
        return false;
    auto covered = [&] {
        return chapter->dCurrentEnd > 0.0 && m_dItemStart + chapter->dCurrentStart <= t
            && t <= m_dItemStart + chapter->dCurrentEnd;
    };
    if (!covered()) {
        if (!m_file->IsOpen()) {
            // Entering resets the resume offset; the search still starts where the
            // last one left off.
            const int resume = m_file->ResumeOffset(m_nChapter);
            if (!Reopen() || !m_file->EnterChapter(m_nChapter))
                return false;
            m_file->SetResumeOffset(m_nChapter, resume);
        }
        m_file->SeekTo(m_file->ResumeOffset(m_nChapter));
        tagKvSubtitleEntry entry;
        while (m_file->ReadEntry(entry)) {
            if (m_dItemStart + entry.start > t)
                break;
            if (!Covers(entry, t))
                continue; // over before t
            // A read that reached the chapter's end has closed the file.
            m_file->SetResumeOffset(m_nChapter,
                                    m_file->IsOpen() ? static_cast<int>(m_file->Tell()) : chapter->nEndOffset);
            chapter->dCurrentStart = entry.start;
            chapter->dCurrentEnd = entry.end;
            const std::u16string text(entry.text);
            if (text != m_text) {
                m_text = text;
                m_pictureCached = false;
            }
            break;
        }
    }
    if (!covered() || m_text.empty())
        return false;
    if (!m_pictureCached)
        m_pictureCached = m_pictureNeeded = true;
    return true;
}

} // namespace velmora
