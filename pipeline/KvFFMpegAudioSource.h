#pragma once

// The mixer's audio sources over the FFmpeg reader.

#include "pipeline/IKvAudioSource.h"

#include <memory>

class CKvFFMpegAudioReader;

namespace velmora {

class CKvFFMpegAudioSource : public IKvAudioSource
{
public:
    explicit CKvFFMpegAudioSource(std::shared_ptr<CKvFFMpegAudioReader> reader);

    std::string OpenError() const override;
    KvJobFailure OpenFailure() const override;
    double FirstAudioTime() override;
    void SetLeadIn(double seconds) override;
    void Seek(double seconds) override;
    const std::int16_t* GetBuffer(int frames, int rate) override;
    int LastDeliveredFrames() const override;
    bool IsExhausted() const override;

    const std::shared_ptr<CKvFFMpegAudioReader>& Reader() const { return m_reader; }

private:
    std::shared_ptr<CKvFFMpegAudioReader> m_reader;
};

class CKvFFMpegAudioSourceFactory : public IKvAudioSourceFactory
{
public:
    std::unique_ptr<IKvAudioSource> Open(const std::string& path, double engineFrameRate, int audioStream) override;
};

} // namespace velmora
