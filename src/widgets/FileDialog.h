#pragma once

#include <QString>
#include <QStringList>

namespace tamberlo {

// A modal file-open dialog that remembers the last name the operator accepted.
class FileDialog {
public:
    virtual ~FileDialog() = default;

    // Shows the dialog with a title and filters such as "音频文件 (*.mp3)", the first one
    // preselected. A cancelled dialog leaves fileName() as it was.
    virtual void showOpen(const QString& title, const QStringList& filters) = 0;
    virtual QString fileName() const = 0;
};

} // namespace tamberlo
