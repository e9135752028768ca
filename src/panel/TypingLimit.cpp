#include "panel/TypingLimit.h"

#include <QLineEdit>

namespace tamberlo {

namespace {
// QLineEdit's own default: no limit.
constexpr int UnlimitedLength = 32767;
} // namespace

TypingLimit* TypingLimit::install(QLineEdit* edit, int maxChars) {
    if (!edit)
        return nullptr;
    auto* limit = new TypingLimit(edit, maxChars);
    edit->setMaxLength(UnlimitedLength);
    edit->setValidator(limit);
    return limit;
}

TypingLimit::TypingLimit(QLineEdit* edit, int maxChars)
    : QValidator(edit), edit_(edit), maxChars_(maxChars), shownLength_(edit->text().size()) {
    // textChanged follows every accepted change, the program's and the operator's alike,
    // so during validation shownLength_ is the length before the change.
    connect(edit, &QLineEdit::textChanged, this,
            [this](const QString& text) { shownLength_ = text.size(); });
}

QValidator::State TypingLimit::validate(QString& input, int&) const {
    if (input.size() <= maxChars_)
        return Acceptable;
    // setText() clears the box's undo history before the new text is validated, while an
    // operator's edit (key, input method, paste, drop) always leaves an undo step: text
    // arriving without one is the program's and is shown whole.
    if (!edit_->isUndoAvailable())
        return Acceptable;
    return input.size() <= shownLength_ ? Acceptable : Invalid;
}

} // namespace tamberlo
