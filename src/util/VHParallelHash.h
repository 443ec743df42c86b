#pragma once

#include "VHMinisign.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Feeds a signature's BLAKE2b on a thread of its own, so the hash runs beside
// whatever the caller does with the same bytes (its MD5, reading the next
// chunk): the two cost about as much as the slower one instead of their sum.
// At most kMaxWaiting chunks are held.
class VHParallelHash
{
public:
    // How many chunks may wait before add() waits for the hash.
    static constexpr size_t kMaxWaiting = 8;

    explicit VHParallelHash(VHMinisign::Verifier &verifier) : m_thread([this, &verifier] { run(verifier); }) {}
    ~VHParallelHash() { finish(); }

    void add(QByteArray chunk)
    {
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, [this] { return m_chunks.size() < kMaxWaiting; });
        m_chunks.push_back(std::move(chunk));
        m_work.notify_one();
    }
    // Returns once every chunk added is hashed.
    void finish()
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_work.notify_one();
        m_thread.join();
    }

private:
    void run(VHMinisign::Verifier &verifier)
    {
        for (;;) {
            std::unique_lock lock(m_mutex);
            m_work.wait(lock, [this] { return !m_chunks.empty() || m_finished; });
            if (m_chunks.empty())
                return;
            const QByteArray chunk = std::move(m_chunks.front());
            m_chunks.pop_front();
            lock.unlock();
            m_room.notify_one();
            verifier.addData(chunk);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_room;
    std::deque<QByteArray> m_chunks;
    bool m_finished = false;
    std::thread m_thread; // last: it starts once the rest is made
};
