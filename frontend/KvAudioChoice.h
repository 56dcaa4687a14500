#pragma once

// The output settings a command line names, turned into the option record the
// settings dialog would have written for them. No widgets.

#include <QString>

namespace velmora {

class KvFrontEndState;

// What a user asks for: the format and, where named, the bit rate, sample rate and
// channels; 0 leaves a value to what the settings dialog would show for it.
struct KvAudioChoice
{
    bool wma = true;
    int kbps = 0;
    int sampleRate = 0;  // kKvRateOfSource with rateOfSource
    int channels = 0;    // 1 or 2; kKvChannelsOfSource: the source's
    int outputType = -1; // one of KvAudioFormats.h (14 on); -1: MP3 or WMA, as wma says
    bool rateOfSource = false;
    bool hasQuality = false;
    int quality = 0;     // the format's quality number (WAV: its bits)
};

// Applies choice to the current record of state as if the user had opened the
// settings dialog on it, chosen those values and pressed OK: the format defaults when
// the format changes, the MP3 values of the MP3 lists, the WMA format from the formats
// on offer, and everything else of the record as the dialog stores it. What is not
// named keeps the value the dialog would show (MP3 at the record's bit rate, sample
// rate and channels; WMA at the record's format).
//
// A combination the format cannot carry is refused, never changed in silence: false,
// the record untouched, and error names the legal values.
bool ApplyAudioChoice(KvFrontEndState& state, const KvAudioChoice& choice, QString& error);

} // namespace velmora
