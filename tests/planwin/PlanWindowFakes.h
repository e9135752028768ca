#pragma once

#include "planwin/PlanDialogs.h"
#include "support/Fakes.h"

#include <QFileInfo>
#include <QHash>
#include <deque>

namespace tamberlo::test {

// Dialogs that answer from queues; an empty queue is a cancel (or "no").
class FakePlanDialogs : public planwin::PlanDialogs {
public:
    QStringList openFiles(const QString& title, const QStringList&) override {
        titles << title;
        return take(fileLists, QStringList{});
    }
    QString openFile(const QString& title, const QStringList&) override {
        titles << title;
        return take(files, QString{});
    }
    QString saveFile(const QString& title, const QStringList&, const QString& suggested) override {
        titles << title;
        suggestions << suggested;
        return take(files, QString{});
    }
    bool ask(const QString& text, const QString& title) override {
        questions << text;
        titles << title;
        return take(answers, false);
    }

    std::deque<QStringList> fileLists;
    std::deque<QString> files; // for openFile and saveFile
    std::deque<bool> answers;
    QStringList titles;
    QStringList questions;
    QStringList suggestions;

private:
    template <typename T> static T take(std::deque<T>& queue, T none) {
        if (queue.empty())
            return none;
        T next = queue.front();
        queue.pop_front();
        return next;
    }
};

// The fake player with a length per file name, for measuring plans of several files.
class LengthsPlayer : public FakeAudioPlayer {
    Q_OBJECT
public:
    std::int32_t length() const override {
        if (mode() == NotOpen)
            return 0;
        return lengths.value(QFileInfo(fileName()).fileName(), fileLength);
    }
    QHash<QString, std::int32_t> lengths;
};

} // namespace tamberlo::test
