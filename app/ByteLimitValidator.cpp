#include "ByteLimitValidator.h"

#include <algorithm>

namespace {

// Where to cut so that whole characters before end cover excess bytes;
// excess is reduced by what they take.
int DropBefore(const QString& text, int end, qsizetype& excess)
{
    int at = end;
    while (excess > 0 && at > 0) {
        const int len = at >= 2 && text[at - 1].isLowSurrogate() && text[at - 2].isHighSurrogate() ? 2 : 1;
        excess -= QStringView(text).sliced(at - len, len).toLocal8Bit().size();
        at -= len;
    }
    return at;
}

}  // namespace

QValidator::State CByteLimitValidator::validate(QString& input, int& pos) const
{
    qsizetype excess = input.toLocal8Bit().size() - m_nLimit;
    if (excess <= 0)
        return Acceptable;
    const int cut = DropBefore(input, pos, excess);
    input.remove(cut, pos - cut);
    pos = cut;
    if (excess > 0)  // nothing before the cursor left to cut
        input.truncate(DropBefore(input, static_cast<int>(input.size()), excess));
    pos = std::min(pos, static_cast<int>(input.size()));
    return Acceptable;
}
