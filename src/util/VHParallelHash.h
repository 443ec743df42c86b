#pragma once

#include "VHMinisign.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Feeds a hash (a signature's BLAKE2b, a package's MD5) on a thread of its
// own, so it runs beside whatever the caller does with the same bytes (another
// hash, reading the next chunk, writing it): together they cost about as much
// as the slowest instead of their sum. At most kMaxWaiting chunks are held;
// one chunk given to several feeders is shared, not copied.
class VHParallelHash
{
public:
    // How many chunks may wait before add() waits for the hash.
    static constexpr size_t kMaxWaiting = 8;

    using Feed = std::function<void(const QByteArray &chunk)>;

    explicit VHParallelHash(Feed feed) : m_feed(std::move(feed)), m_thread([this] { run(); }) {}
    explicit VHParallelHash(VHMinisign::Verifier &verifier)
        : VHParallelHash([&verifier](const QByteArray &chunk) { verifier.addData(chunk); })
    {}
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
    void run()
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
            m_feed(chunk);
        }
    }

    const Feed m_feed;
    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_room;
    std::deque<QByteArray> m_chunks;
    bool m_finished = false;
    std::thread m_thread; // last: it starts once the rest is made
};
