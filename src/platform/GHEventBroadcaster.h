#pragma once

#include <QList>

#include <utility>

// An ordered list of listener pointers without duplicates that calls one
// member on every listener in list order. Listeners are not owned.
template <typename Listener>
class GHEventBroadcaster
{
public:
    void addListener(Listener *listener)
    {
        if (listener && !m_listeners.contains(listener))
            m_listeners.append(listener);
    }
    void removeListener(Listener *listener) { m_listeners.removeAll(listener); }
    const QList<Listener *> &listeners() const { return m_listeners; }

protected:
    template <typename Member, typename... Args>
    void broadcast(Member member, Args &&...args)
    {
        // A copy: a listener may remove itself while being called.
        const QList<Listener *> snapshot = m_listeners;
        for (Listener *listener : snapshot)
            (listener->*member)(args...);
    }

private:
    QList<Listener *> m_listeners;
};
