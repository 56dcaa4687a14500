#include "pipeline/KvFFMpegAudioSource.h"

#include "media/KvFFMpegAudioReader.h"

namespace velmora {

CKvFFMpegAudioSource::CKvFFMpegAudioSource(std::shared_ptr<CKvFFMpegAudioReader> reader)
    : m_reader(std::move(reader))
{
}

std::string CKvFFMpegAudioSource::OpenError() const
{
    if (!m_reader->IsFailed())
        return {};
    return m_reader->OpenError().empty() ? std::string("cannot be read") : m_reader->OpenError();
}

KvJobFailure CKvFFMpegAudioSource::OpenFailure() const
{
    if (!m_reader->IsFailed())
        return KvJobFailure::None;
    const KvJobFailure failure = m_reader->OpenFailure();
    return failure == KvJobFailure::None ? KvJobFailure::SourceUnreadable : failure;
}

double CKvFFMpegAudioSource::FirstAudioTime()
{
    return m_reader->ProbeFirstAudioTime();
}

void CKvFFMpegAudioSource::SetLeadIn(double seconds)
{
    m_reader->SetLeadIn(seconds);
}

void CKvFFMpegAudioSource::Seek(double seconds)
{
    m_reader->Seek(seconds);
}

const std::int16_t* CKvFFMpegAudioSource::GetBuffer(int frames, int rate)
{
    return m_reader->GetBuffer(frames, rate);
}

int CKvFFMpegAudioSource::LastDeliveredFrames() const
{
    return m_reader->LastDeliveredFrames();
}

bool CKvFFMpegAudioSource::IsExhausted() const
{
    return m_reader->IsExhausted();
}

std::unique_ptr<IKvAudioSource> CKvFFMpegAudioSourceFactory::Open(const std::string& path,
                                                                  double engineFrameRate, int audioStream)
{
    auto reader = std::make_shared<CKvFFMpegAudioReader>(path, audioStream);
    if (engineFrameRate > 0.0)
        reader->SetEngineFrameRate(engineFrameRate);
    return std::make_unique<CKvFFMpegAudioSource>(std::move(reader));
}

} // namespace velmora
