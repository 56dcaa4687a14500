#include "frontend/KvJobWmProfile.h"

#include "common/KvWmProfile.h"
#include "frontend/KvFrontEndState.h"

#include <QLocale>

namespace velmora {

namespace {

constexpr int kOutputWmv = 8;

} // namespace

void ApplyInitialWindowsMediaChoice(tagKvOptionRecord& record)
{
    record.nOutputType = kKvOutputWma;
    const std::vector<WmCodecInfo>& codecs = WmAudioCodecs();
    int matching = 0;
    int chosen = -1;
    for (const WmCodecInfo& codec : codecs) {
        const QString name = QString::fromStdWString(codec.name);
        if (!name.contains(QLatin1String("Windows Media Audio")))
            continue;
        if (name.compare(QLatin1String("Windows Media Audio 9.2"), Qt::CaseInsensitive) == 0) {
            chosen = matching;
            break;
        }
        ++matching;
    }
    record.nWmaCodec = std::max(0, chosen >= 0 ? chosen : matching - 1);

    for (int passes = 0; passes <= 2; ++passes) {
        const std::vector<WmAudioFormat> formats = WmAudioFormats(record.nWmaCodec, passes);
        for (size_t position = 0; position < formats.size(); ++position) {
            const QString description = QString::fromStdWString(formats[position].description);
            if (!description.contains(QLatin1String("VBR")) && !description.contains(QLatin1String("5.1"))
                && description.contains(QLatin1String("128 kbps"))) {
                record.nWmaFormat = passes * kWmaPassesFactor + int(position);
                break;
            }
        }
    }
}

std::string ProfileLanguageTag()
{
    const QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return "en-us";
    QString tag = locale.name(); // "de_DE"
    tag.replace(u'_', u'-');
    return tag.toLower().toStdString();
}

int WriteJobWmProfile(const KvFrontEndState& state, const std::string& path, QString* failure)
{
    const tagKvOptionRecord& record = state.CurrentRecord();
    if (record.nOutputType != kKvOutputWma && record.nOutputType != kOutputWmv)
        return 1;
    WmAudioFormat format;
    if (!ResolveWmAudioFormat(record.nWmaCodec, record.nWmaFormat, format)) {
        if (failure)
            *failure = QStringLiteral("Add Audio Stream To Profile Fialed");
        return 0;
    }
    if (!WriteWmProfile(path, record.nWmaCodec, record.nWmaFormat, ProfileLanguageTag())) {
        if (failure)
            *failure = QStringLiteral("Cannot write ") + QString::fromStdString(path);
        return 0;
    }
    return 1;
}

} // namespace velmora
