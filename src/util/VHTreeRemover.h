#pragma once

// Removes a folder tree through directory handles (openat, unlinkat, never
// following a link), so any tree we could create we can remove, however deep
// and however long its paths. The walk keeps no stack of calls and at most
// kOpenLevels descriptors: a folder deeper than that is left by "..", which is
// checked to be the folder we came from. Internal to vh_util.

#include <QByteArray>

#include <vector>

class VHTreeRemover
{
public:
    enum class Hidden { Remove, Keep };
    enum class OnFailure { GoOn, Stop };

    static constexpr int kOpenLevels = 16;

    VHTreeRemover(Hidden hidden, OnFailure onFailure) : m_hidden(hidden), m_onFailure(onFailure) {}

    // Removes everything in the folder that `dirFd` refers to (hidden entries
    // kept when asked); links are removed, not entered. False when something
    // could not be removed.
    bool empty(int dirFd) const;

private:
    struct Level;

    bool list(Level &level) const;
    bool removeNonFolder(Level &level, const QByteArray &name) const;
    bool ascend(std::vector<Level> &levels) const;

    Hidden m_hidden;
    OnFailure m_onFailure;
};
