#include "media/KvTagWriter.h"

#include "media/KvCoverPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include <asffile.h>
#include <asfpicture.h>
#include <asftag.h>
#include <attachedpictureframe.h>
#include <chapterframe.h>
#include <commentsframe.h>
#include <flacfile.h>
#include <flacpicture.h>
#include <id3v2tag.h>
#include <infotag.h>
#include <mp4coverart.h>
#include <mp4file.h>
#include <mp4tag.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <tableofcontentsframe.h>
#include <textidentificationframe.h>
#include <vorbisfile.h>
#include <wavfile.h>
#include <xiphcomment.h>

namespace velmora {

namespace {

using TagLib::ByteVector;
using TagLib::String;

String Text(const std::string& utf8)
{
    return String(utf8, String::UTF8);
}

ByteVector Bytes(const std::vector<std::uint8_t>& bytes)
{
    return ByteVector(reinterpret_cast<const char*>(bytes.data()), static_cast<unsigned int>(bytes.size()));
}

struct Cover
{
    std::vector<std::uint8_t> bytes; // empty: none
    std::string mime;
};

// "3" and "3/12" as numbers; whole when the text is nothing but that.
struct TrackNumbers
{
    unsigned int number = 0;
    unsigned int total = 0;
    bool whole = false;
};

TrackNumbers ParseTrack(const std::string& track)
{
    TrackNumbers parsed;
    std::size_t at = 0;
    auto number = [&](unsigned int& value) {
        const std::size_t start = at;
        unsigned long long n = 0;
        for (; at < track.size() && track[at] >= '0' && track[at] <= '9'; ++at)
            n = std::min(n * 10 + static_cast<unsigned>(track[at] - '0'), 0xFFFFFFFFull);
        value = static_cast<unsigned int>(n);
        return at > start;
    };
    if (!number(parsed.number))
        return parsed;
    if (at < track.size() && track[at] == '/') {
        ++at;
        if (!number(parsed.total))
            return parsed;
    }
    parsed.whole = at == track.size();
    return parsed;
}

// WM/Year holds a year; a full date gives its year.
std::string YearOf(const std::string& date)
{
    if (date.size() >= 4 && std::all_of(date.begin(), date.begin() + 4, [](char c) { return c >= '0' && c <= '9'; }))
        return date.substr(0, 4);
    return date;
}

bool HasText(const MediaTags& tags)
{
    return !tags.title.empty() || !tags.artist.empty() || !tags.album.empty() || !tags.albumArtist.empty() ||
           !tags.date.empty() || !tags.track.empty() || !tags.genre.empty() || !tags.comment.empty() ||
           !tags.chapters.empty();
}

Cover FitCover(const MediaTags& tags, KvTagContainer container, std::string* note)
{
    Cover cover{tags.cover, tags.coverMime};
    if (cover.bytes.empty())
        return cover;
    const bool asf = container == KvTagContainer::Asf;
    if (!FitCoverPicture(cover.bytes, cover.mime, asf ? kMaxAsfTagCoverBytes : kMaxTagCoverBytes,
                         asf ? kAsfTagCoverSide : kTagCoverSide)) {
        if (note != nullptr)
            *note = "the cover picture (" + (tags.coverMime.empty() ? std::string("no type") : tags.coverMime) + ", " +
                    std::to_string(tags.cover.size()) + " bytes) cannot be carried over; the file has none";
        return Cover{};
    }
    return cover;
}

// ID3v2 (MP3, and the "ID3 " chunk of a WAV file).

void SetId3Text(TagLib::ID3v2::Tag& tag, const char* id, const std::string& text)
{
    if (text.empty())
        return;
    tag.removeFrames(id);
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(ByteVector(id), String::UTF8);
    frame->setText(Text(text));
    tag.addFrame(frame.release());
}

void FillId3v2(TagLib::ID3v2::Tag& tag, const MediaTags& tags, const std::vector<KvExtraTag>& extra,
               const Cover& cover)
{
    using namespace TagLib::ID3v2;
    SetId3Text(tag, "TIT2", tags.title);
    SetId3Text(tag, "TPE1", tags.artist);
    SetId3Text(tag, "TALB", tags.album);
    SetId3Text(tag, "TPE2", tags.albumArtist);
    SetId3Text(tag, "TDRC", tags.date);
    SetId3Text(tag, "TRCK", tags.track);
    SetId3Text(tag, "TCON", tags.genre);
    if (!tags.comment.empty()) {
        // The comment is the one without a description; others (a player's own) stay.
        const FrameList comments = tag.frameList("COMM");
        for (Frame* frame : comments) {
            if (static_cast<CommentsFrame*>(frame)->description().isEmpty())
                tag.removeFrame(frame);
        }
        auto frame = std::make_unique<CommentsFrame>(String::UTF8);
        frame->setLanguage("XXX");
        frame->setText(Text(tags.comment));
        tag.addFrame(frame.release());
    }
    for (const KvExtraTag& field : extra) {
        if (UserTextIdentificationFrame* old = UserTextIdentificationFrame::find(&tag, Text(field.name)))
            tag.removeFrame(old);
        tag.addFrame(new UserTextIdentificationFrame(Text(field.name), TagLib::StringList(Text(field.value)),
                                                     String::UTF8));
    }
    if (!cover.bytes.empty()) {
        tag.removeFrames("APIC");
        auto frame = std::make_unique<AttachedPictureFrame>();
        frame->setTextEncoding(String::UTF8);
        frame->setMimeType(Text(cover.mime));
        frame->setType(AttachedPictureFrame::FrontCover);
        frame->setPicture(Bytes(cover.bytes));
        tag.addFrame(frame.release());
    }
}

unsigned int Milliseconds(double seconds)
{
    return static_cast<unsigned int>(std::clamp(std::llround(seconds * 1000.0), 0LL, 0xFFFFFFFELL));
}

// The chapters as ID3v2 CHAP frames ("chp1", "chp2", ...) under one ordered top-level
// CTOC ("toc"), each titled by an embedded TIT2; chapters the tag had before go.
void SetId3Chapters(TagLib::ID3v2::Tag& tag, const std::vector<KvChapter>& chapters)
{
    using namespace TagLib::ID3v2;
    if (chapters.empty())
        return;
    tag.removeFrames("CHAP");
    tag.removeFrames("CTOC");
    TagLib::ByteVectorList ids;
    for (size_t i = 0; i < chapters.size(); ++i) {
        const ByteVector id(("chp" + std::to_string(i + 1)).c_str());
        FrameList embedded;
        if (!chapters[i].title.empty()) {
            auto title = new TextIdentificationFrame("TIT2", String::UTF8);
            title->setText(Text(chapters[i].title));
            embedded.append(title);
        }
        // No byte offsets: 0xFFFFFFFF says the times alone place the chapter.
        tag.addFrame(new ChapterFrame(id, Milliseconds(chapters[i].start), Milliseconds(chapters[i].end), 0xFFFFFFFF,
                                      0xFFFFFFFF, embedded));
        ids.append(id);
    }
    auto toc = std::make_unique<TableOfContentsFrame>("toc", ids);
    toc->setIsTopLevel(true);
    toc->setIsOrdered(true);
    tag.addFrame(toc.release());
}

// "HH:MM:SS.mmm", the time of a CHAPTERnnn comment.
std::string ChapterTime(double seconds)
{
    const long long ms = std::max(0LL, std::llround(seconds * 1000.0));
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms % 1000);
    return text;
}

// Vorbis comments (FLAC, Ogg Vorbis, Ogg Opus).

std::unique_ptr<TagLib::FLAC::Picture> FlacPicture(const Cover& cover)
{
    auto picture = std::make_unique<TagLib::FLAC::Picture>();
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setMimeType(Text(cover.mime));
    picture->setData(Bytes(cover.bytes));
    const CoverPictureSize size = MeasureCoverPicture(cover.bytes, cover.mime);
    picture->setWidth(size.width);
    picture->setHeight(size.height);
    picture->setColorDepth(size.depth);
    return picture;
}

void FillXiphComment(TagLib::Ogg::XiphComment& xiph, const MediaTags& tags, const std::vector<KvExtraTag>& extra)
{
    auto put = [&](const String& key, const std::string& text) {
        if (!text.empty())
            xiph.addField(key, Text(text), true);
    };
    put("TITLE", tags.title);
    put("ARTIST", tags.artist);
    put("ALBUM", tags.album);
    put("ALBUMARTIST", tags.albumArtist);
    put("DATE", tags.date);
    if (const TrackNumbers track = ParseTrack(tags.track); track.whole && track.total > 0) {
        put("TRACKNUMBER", std::to_string(track.number));
        put("TRACKTOTAL", std::to_string(track.total));
    } else {
        put("TRACKNUMBER", tags.track);
    }
    put("GENRE", tags.genre);
    put("COMMENT", tags.comment);
    for (const KvExtraTag& field : extra)
        put(Text(field.name), field.value);
}

template <class File>
bool Opened(const File& file, const char* what, std::string* why)
{
    if (file.isOpen() && file.isValid())
        return true;
    if (why != nullptr)
        *why = std::string(file.isOpen() ? "TagLib does not read the file as " : "TagLib cannot open the file as ") +
               what;
    return false;
}

bool Saved(bool saved, std::string* why)
{
    if (!saved && why != nullptr)
        *why = "TagLib could not save the tags into the file";
    return saved;
}

bool WriteMp3(const std::string& path, const MediaTags& tags, const std::vector<KvExtraTag>& extra,
              const Cover& cover, std::string* why)
{
    TagLib::MPEG::File file(path.c_str(), false);
    if (!Opened(file, "an MP3 file", why))
        return false;
    FillId3v2(*file.ID3v2Tag(true), tags, extra, cover);
    SetId3Chapters(*file.ID3v2Tag(), tags.chapters);
    return Saved(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4,
                           TagLib::File::DoNotDuplicate),
                 why);
}

bool WriteWav(const std::string& path, const MediaTags& tags, const std::vector<KvExtraTag>& extra,
              const Cover& cover, std::string* why)
{
    TagLib::RIFF::WAV::File file(path.c_str(), false);
    if (!Opened(file, "a WAV file", why))
        return false;
    TagLib::RIFF::Info::Tag& info = *file.InfoTag();
    auto put = [&](const char* id, const std::string& text) {
        if (!text.empty())
            info.setFieldText(id, Text(text));
    };
    put("INAM", tags.title);
    put("IART", tags.artist);
    put("IPRD", tags.album);
    put("ICRD", tags.date);
    put("IPRT", tags.track);
    put("IGNR", tags.genre);
    put("ICMT", tags.comment);
    FillId3v2(*file.ID3v2Tag(), tags, extra, cover);
    return Saved(file.save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v4), why);
}

// TagLib rewrites the header but leaves the file size in the File Properties object as
// it was. FFmpeg's demuxer distrusts the play duration of a file whose size is more than
// 5 % off that field and estimates one from the bit rate instead (a short file with a
// cover plays "longer"), so the field is set to the size the file has now.
void UpdateAsfFileSize(TagLib::ASF::File& file)
{
    static const unsigned char kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                      0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    const ByteVector guid(reinterpret_cast<const char*>(kFileProperties), sizeof kFileProperties);
    constexpr long kHeaderObjectBytes = 30;    // GUID, size, object count, two reserved bytes
    constexpr long kFileSizeAt = 24 + 16;      // object GUID and size, file id
    file.seek(0);
    const ByteVector header = file.readBlock(kHeaderObjectBytes);
    if (header.size() != kHeaderObjectBytes)
        return;
    const long long headerSize = header.toLongLong(16, false);
    const unsigned int count = header.toUInt(24, false);
    long long at = kHeaderObjectBytes;
    for (unsigned int i = 0; i < count && at + kFileSizeAt + 8 <= headerSize; ++i) {
        file.seek(static_cast<long>(at));
        const ByteVector object = file.readBlock(24);
        const long long size = object.size() == 24 ? object.toLongLong(16, false) : 0;
        if (size < 24)
            return;
        if (object.mid(0, 16) == guid) {
            if (size >= kFileSizeAt + 8) {
                file.seek(static_cast<long>(at + kFileSizeAt));
                file.writeBlock(ByteVector::fromLongLong(file.length(), false));
            }
            return;
        }
        at += size;
    }
}

bool WriteAsf(const std::string& path, const MediaTags& tags, const std::vector<KvExtraTag>& extra,
              const Cover& cover, std::string* why)
{
    TagLib::ASF::File file(path.c_str(), false);
    if (!Opened(file, "a Windows Media file", why))
        return false;
    TagLib::ASF::Tag& tag = *file.tag();
    if (!tags.title.empty())
        tag.setTitle(Text(tags.title));
    if (!tags.artist.empty())
        tag.setArtist(Text(tags.artist));
    if (!tags.comment.empty())
        tag.setComment(Text(tags.comment));
    auto put = [&](const String& name, const std::string& text) {
        if (!text.empty())
            tag.setAttribute(name, TagLib::ASF::Attribute(Text(text)));
    };
    put("WM/AlbumTitle", tags.album);
    put("WM/AlbumArtist", tags.albumArtist);
    put("WM/Year", YearOf(tags.date));
    if (const TrackNumbers track = ParseTrack(tags.track); track.number > 0)
        tag.setAttribute("WM/TrackNumber", TagLib::ASF::Attribute(track.number));
    put("WM/Genre", tags.genre);
    for (const KvExtraTag& field : extra)
        put(Text(field.name), field.value);
    if (!cover.bytes.empty()) {
        TagLib::ASF::Picture picture;
        picture.setType(TagLib::ASF::Picture::FrontCover);
        picture.setMimeType(Text(cover.mime));
        picture.setPicture(Bytes(cover.bytes));
        tag.setAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
    }
    if (!Saved(file.save(), why))
        return false;
    UpdateAsfFileSize(file);
    return true;
}

bool WriteMp4(const std::string& path, const MediaTags& tags, const std::vector<KvExtraTag>& extra,
              const Cover& cover, std::string* why)
{
    TagLib::MP4::File file(path.c_str(), false);
    if (!Opened(file, "an MP4 file", why))
        return false;
    TagLib::MP4::Tag& tag = *file.tag();
    auto put = [&](const String& key, const std::string& text) {
        if (!text.empty())
            tag.setItem(key, TagLib::StringList(Text(text)));
    };
    put("\251nam", tags.title);
    put("\251ART", tags.artist);
    put("\251alb", tags.album);
    put("aART", tags.albumArtist);
    put("\251day", tags.date);
    if (const TrackNumbers track = ParseTrack(tags.track); track.number > 0)
        tag.setItem("trkn", TagLib::MP4::Item(static_cast<int>(std::min(track.number, 0xFFFFu)),
                                              static_cast<int>(std::min(track.total, 0xFFFFu))));
    put("\251gen", tags.genre);
    put("\251cmt", tags.comment);
    for (const KvExtraTag& field : extra)
        put("----:com.apple.iTunes:" + Text(field.name), field.value);
    if (!cover.bytes.empty()) {
        TagLib::MP4::CoverArtList covers;
        covers.append(TagLib::MP4::CoverArt(
            cover.mime == "image/png" ? TagLib::MP4::CoverArt::PNG : TagLib::MP4::CoverArt::JPEG, Bytes(cover.bytes)));
        tag.setItem("covr", covers);
    }
    return Saved(file.save(), why);
}

bool WriteFlac(const std::string& path, const MediaTags& tags, const std::vector<KvExtraTag>& extra,
               const Cover& cover, std::string* why)
{
    TagLib::FLAC::File file(path.c_str(), false);
    if (!Opened(file, "a FLAC file", why))
        return false;
    FillXiphComment(*file.xiphComment(true), tags, extra);
    if (!cover.bytes.empty()) {
        file.removePictures();
        file.addPicture(FlacPicture(cover).release());
    }
    return Saved(file.save(), why);
}

template <class OggFile>
bool WriteOgg(const std::string& path, const char* what, const MediaTags& tags, const std::vector<KvExtraTag>& extra,
              const Cover& cover, std::string* why)
{
    OggFile file(path.c_str(), false);
    if (!Opened(file, what, why))
        return false;
    TagLib::Ogg::XiphComment& xiph = *file.tag();
    FillXiphComment(xiph, tags, extra);
    // Chapters as Ogg players read them: CHAPTER001=00:01:02.500, CHAPTER001NAME=title.
    if (!tags.chapters.empty()) {
        std::vector<String> old;
        for (const auto& field : xiph.fieldListMap()) {
            if (field.first.startsWith("CHAPTER"))
                old.push_back(field.first);
        }
        for (const String& key : old)
            xiph.removeFields(key);
    }
    for (size_t i = 0; i < tags.chapters.size() && i < 999; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "CHAPTER%03zu", i + 1);
        xiph.addField(key, ChapterTime(tags.chapters[i].start), true);
        if (!tags.chapters[i].title.empty())
            xiph.addField(String(key) + "NAME", Text(tags.chapters[i].title), true);
    }
    if (!cover.bytes.empty()) {
        xiph.removeAllPictures();
        xiph.addPicture(FlacPicture(cover).release());
    }
    return Saved(file.save(), why);
}

} // namespace

bool WriteMediaTags(const std::string& path, KvTagContainer container, const MediaTags& tags, std::string* why,
                    std::string* note)
{
    if (note != nullptr)
        note->clear();
    if (container == KvTagContainer::None)
        return true;
    std::vector<KvExtraTag> fields;
    for (const KvExtraTag& field : tags.extra) {
        if (!field.name.empty() && !field.value.empty())
            fields.push_back(field);
    }
    const Cover cover = FitCover(tags, container, note);
    if (!HasText(tags) && fields.empty() && cover.bytes.empty())
        return true;

    switch (container) {
    case KvTagContainer::Mp3:
        return WriteMp3(path, tags, fields, cover, why);
    case KvTagContainer::Asf:
        return WriteAsf(path, tags, fields, cover, why);
    case KvTagContainer::Mp4:
        return WriteMp4(path, tags, fields, cover, why);
    case KvTagContainer::Flac:
        return WriteFlac(path, tags, fields, cover, why);
    case KvTagContainer::OggVorbis:
        return WriteOgg<TagLib::Ogg::Vorbis::File>(path, "an Ogg Vorbis file", tags, fields, cover, why);
    case KvTagContainer::OggOpus:
        return WriteOgg<TagLib::Ogg::Opus::File>(path, "an Ogg Opus file", tags, fields, cover, why);
    case KvTagContainer::Wav:
        return WriteWav(path, tags, fields, cover, why);
    case KvTagContainer::None:
        break;
    }
    return true;
}

} // namespace velmora
