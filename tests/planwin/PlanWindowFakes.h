#pragma once

#include "plan/Plan.h"
#include "plan/PlanFakes.h"
#include "planwin/PlanDialogs.h"
#include "planwin/PlanTableModel.h"
#include "planwin/PlanWindow.h"
#include "support/Fakes.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QHash>
#include <QSignalSpy>
#include <QTest>
#include <deque>
#include <functional>

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

// The plan window and its platform edges, its controls found by name. On fakes (port,
// player, message boxes, dialogs), or with the real port and player against the bridge
// simulator (shown, as an operator has it).
struct PlanWindowRig {
    enum class Edges { Fakes, RealPortAndPlayer };
    using State = planwin::PlanTableModel::RowState;

    FakeSerialPort port;
    LengthsPlayer player;
    FakeMessageBoxes boxes;
    FakePlanDialogs dialogs;
    std::unique_ptr<planwin::PlanWindow> window;

    explicit PlanWindowRig(Edges edges = Edges::Fakes) {
        planwin::PlanWindow::Platform p;
        p.boxes = &boxes;
        p.dialogs = &dialogs;
        if (edges == Edges::Fakes) {
            p.port = &port;
            p.player = &player;
        }
        window = std::make_unique<planwin::PlanWindow>(p);
        if (edges == Edges::RealPortAndPlayer)
            window->show();
    }
    template <typename T = QWidget> T* find(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    void click(const char* name) { find<QAbstractButton>(name)->click(); }
    void setPort(int port) { find<QComboBox>("port_box")->setCurrentText(QString::number(port)); }
    QStringList names() const {
        QStringList n;
        for (const plan::PlanMessage& m : window->plan().messages)
            n << m.name;
        return n;
    }
    QStringList cells(int column) const {
        QStringList c;
        for (int r = 0; r < window->table().rowCount(); ++r)
            c << window->table().index(r, column).data().toString();
        return c;
    }
    QList<State> states() const {
        QList<State> s;
        for (int r = 0; r < window->table().rowCount(); ++r)
            s << window->table().rowState(r);
        return s;
    }
    // The planned rows of the messages from `from` on, "0x010..0x01D".
    QStringList plannedRanges(int from = 1) const {
        QStringList r;
        for (const plan::PlacedMessage& m : window->layout().messages)
            if (m.number >= from)
                r << QStringLiteral("%1..%2").arg(plan::rowText(m.start), plan::rowText(m.end));
        return r;
    }
    // Clicks the button and waits (real time, up to `ms`) for the run it starts to end;
    // `meanwhile` looks at the window as it runs.
    bool run(const char* button, const std::function<void()>& meanwhile = {}, int ms = 60000) {
        QSignalSpy finished(window.get(), &planwin::PlanWindow::runFinished);
        click(button);
        if (!window->isRunning())
            return false;
        return QTest::qWaitFor(
            [&] {
                if (meanwhile)
                    meanwhile();
                return !finished.isEmpty();
            },
            ms);
    }
};

} // namespace tamberlo::test
