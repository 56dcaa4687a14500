#include "pipeline/KvFFMpegAudioSource.h"

#include "media/KvFFMpegAudioReader.h"

namespace velmora {

CKvFFMpegAudioSource::CKvFFMpegAudioSource(std::shared_ptr<CKvFFMpegAudioReader> reader)
    : m_reader(std::move(reader))
{
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

double CKvFFMpegAudioSourceFactory::ProbeFirstAudioTime(const std::string& path)
{
    CKvFFMpegAudioReader probe(path);
    return probe.IsFailed() ? 0.0 : probe.ProbeFirstAudioTime();
}

std::unique_ptr<IKvAudioSource> CKvFFMpegAudioSourceFactory::Open(const std::string& path,
                                                                  double engineFrameRate)
{
    auto reader = std::make_shared<CKvFFMpegAudioReader>(path);
    if (engineFrameRate > 0.0)
        reader->SetEngineFrameRate(engineFrameRate);
    return std::make_unique<CKvFFMpegAudioSource>(std::move(reader));
}

} // namespace velmora
