#include "VHLog.h"

#include <cstring>

namespace VHLog {

QByteArray functionName(const char *prettyFunction)
{
    if (!prettyFunction)
        return {};
    const char *open = std::strchr(prettyFunction, '(');
    if (!open)
        return QByteArray(prettyFunction);
    // Walk back from the parameter list to the space that starts the qualified
    // name; spaces inside template arguments ("VHDeviceImpl<A, B>::f") are skipped.
    const char *begin = open;
    int depth = 0;
    while (begin > prettyFunction) {
        const char c = *(begin - 1);
        if (c == '>')
            ++depth;
        else if (c == '<')
            --depth;
        else if (c == ' ' && depth == 0)
            break;
        --begin;
    }
    while (*begin == '*' || *begin == '&')
        ++begin;
    return QByteArray(begin, int(open - begin));
}

} // namespace VHLog
