#pragma once

#include <QValidator>

class QLineEdit;

namespace tamberlo {

// Limits what the operator types or pastes into a text box to maxChars characters while
// leaving text the program writes with setText() whole (QLineEdit's maxLength would cut
// that too, e.g. a reply's "12 34 " in the current-address box).
//
// The operator may shorten a longer text the program has shown, or edit it without making
// it longer, but never make a text longer than both the limit and what it was.
class TypingLimit : public QValidator {
    Q_OBJECT
public:
    // Installs the limit on edit (the validator is a child of edit) and lifts any maxLength
    // the box had, so that program text is never cut.
    static TypingLimit* install(QLineEdit* edit, int maxChars);

    int maxChars() const { return maxChars_; }

    State validate(QString& input, int& pos) const override;

private:
    TypingLimit(QLineEdit* edit, int maxChars);

    QLineEdit* edit_;
    int maxChars_;
    qsizetype shownLength_ = 0; // length of the text before the change being validated
};

} // namespace tamberlo
