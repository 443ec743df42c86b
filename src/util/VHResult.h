#pragma once

#include <QString>

// What a step of an action came to: on failure, the code the action leaves for
// the window and the reason it logs once, at its end.
struct [[nodiscard]] VHResult
{
    bool ok = true;
    int code = 0;        // the family's error code; 0 none
    QString reason;      // empty on success, but for a success that changed nothing
    bool changed = true; // false when nothing had to be written (already up to date)

    static VHResult success() { return {}; }
    static VHResult failure(int code, const QString &reason) { return {false, code, reason}; }
    // Success without a write: the device already holds what was asked for.
    static VHResult unchanged(const QString &reason) { return {true, 0, reason, false}; }
    explicit operator bool() const { return ok; }
};
