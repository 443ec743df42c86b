#include "VHVersion.h"

namespace VHVersion {

namespace {
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
} // namespace

int compare(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    const qsizetype na = a.size(), nb = b.size();
    while (i < na && j < nb) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare two digit runs as numbers of any length: skip leading
            // zeros, then the longer run is larger, then digit by digit.
            qsizetype si = i, sj = j;
            while (si < na && a[si] == u'0')
                ++si;
            while (sj < nb && b[sj] == u'0')
                ++sj;
            qsizetype ei = si, ej = sj;
            while (ei < na && isDigit(a[ei]))
                ++ei;
            while (ej < nb && isDigit(b[ej]))
                ++ej;
            const qsizetype la = ei - si, lb = ej - sj;
            if (la != lb)
                return la < lb ? -1 : 1;
            for (qsizetype k = 0; k < la; ++k) {
                if (a[si + k] != b[sj + k])
                    return a[si + k] < b[sj + k] ? -1 : 1;
            }
            // Equal values: the run with fewer leading zeros is smaller, so
            // "1" < "01" stays a strict order like the plain comparison.
            const qsizetype za = si - i, zb = sj - j;
            if (za != zb)
                return za < zb ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < na)
        return 1;
    if (j < nb)
        return -1;
    return 0;
}

bool isPlainText(const QString &version)
{
    if (!QStringView(version).isValidUtf16())
        return false;
    for (const QChar c : version) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format || c == QChar::ReplacementCharacter)
            return false;
    }
    return true;
}

} // namespace VHVersion
