#pragma once
// Keeps a line edit within a number of bytes of the locale's encoding, which
// is what goes on the wire; a character may take several bytes. Owns nothing.
//
// What does not fit is cut from what was just typed or pasted, which ends at
// the cursor, as an edit box with a length limit does, and always on a
// character boundary: a character that does not fit whole is left out whole.

#include <QValidator>

class CByteLimitValidator : public QValidator {
public:
    CByteLimitValidator(int limit, QObject* pParent) : QValidator(pParent), m_nLimit(limit) {}

    State validate(QString& input, int& pos) const override;

private:
    const int m_nLimit;
};
