#pragma once

#include <QString>

namespace tamberlo {

enum class MessageIcon { None, Information, Critical };

// Modal message boxes with one OK button. Every box the panel shows goes through here,
// so tests can record them instead of blocking on a real dialog.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    // Returns once the operator has dismissed the box. An empty title stands for the
    // application's own title.
    virtual void show(const QString& text, const QString& title, MessageIcon icon) = 0;
};

} // namespace tamberlo
