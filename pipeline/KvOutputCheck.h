#pragma once

// Plays an output back while it is being written, so that checking a finished file
// costs next to nothing on top of writing it: a thread of its own decodes the file
// from its start as far as the writer has got (Grow), waits there until the writer is
// a run of bytes further, and ends at the file's end once the writer is done
// (Finish). It runs at the lowest priority, on the time the writer leaves.
//
// The decoder reads the file as a stream from its first byte and never seeks: what
// the muxer rewrites in place at the end (the length fields of an MP3's Xing frame or
// of a Windows Media header) is read as it first stood, which a streaming player
// copes with, and which can only make the decode longer, never shorter.
//
// Threads: Start, Finish and Stop come from the writer's owner; Grow from whichever
// thread writes the file.

#include "media/KvDecodedLength.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace velmora {

class CKvOutputCheck
{
public:
    CKvOutputCheck() = default;
    ~CKvOutputCheck();
    CKvOutputCheck(const CKvOutputCheck&) = delete;
    CKvOutputCheck& operator=(const CKvOutputCheck&) = delete;

    // Opens path for reading and starts decoding it. False when it cannot be opened.
    bool Start(const std::string& path);
    // The file now holds at least bytes bytes from its start.
    void Grow(std::int64_t bytes);
    // The writer is done and the file closed: decodes what is left and gives what the
    // whole file decodes to. A check that never started gives an empty length with
    // the reason.
    DecodedLength Finish();
    // Gives up: the thread ends at once and the file is closed.
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }

private:
    static int ReadPacket(void* opaque, std::uint8_t* data, int size);
    void Run();
    void End(bool abandon);

    int m_fd = -1;
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_grown;
    std::int64_t m_available = 0; // under m_lock
    std::int64_t m_wakeAt = 0;    // the reader waits until the file reaches this far (under m_lock)
    std::int64_t m_position = 0;  // the decoder thread's own
    std::int64_t m_batch = 1;     // how far ahead the writer must be before it reads on (its own)
    bool m_done = false;          // no more bytes will come (under m_lock)
    bool m_abandoned = false;     // under m_lock
    DecodedLength m_result;       // written by the thread, read after it is joined
};

} // namespace velmora
