#pragma once

#include "plan/Allocation.h"
#include "plan/PlanRun.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

namespace tamberlo::planwin {

// The plan's messages as the window's table shows them: number, name (editable), file,
// length, rows, start, end and a state column (recording, verify result). The table
// shows the layout it is given; edits, moves and dropped files go back to the window as
// requests, which changes the plan and hands the new layout back.
//
// Rows are dragged by their number to move them; files dropped on the table are added
// before the row they land on.
class PlanTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Number, Name, File, Length, Rows, Start, End, State, ColumnCount };
    using RowState = plan::RowState;
    static constexpr const char* RowsMimeType = "application/x-tamberlo-plan-rows";

    explicit PlanTableModel(QObject* parent = nullptr);

    // The messages laid out; `files` gives each one's measured length or why it has none.
    // States are kept when the row count stays the same, cleared otherwise.
    void setLayout(const plan::Layout& layout, const QList<plan::MeasuredFile>& files);
    void setRowState(int row, RowState state, const QString& detail = {});
    void clearStates();
    RowState rowState(int row) const { return states_.value(row).state; }
    // The row shown as the one being recorded; -1 for none.
    void setCurrentRow(int row);
    int currentRow() const { return current_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    // Emits the request and returns false: the window redoes the table, nothing is to be
    // removed by the view.
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;

    // Local files among dropped URLs.
    static QStringList droppedFiles(const QMimeData* data);

signals:
    void renameRequested(int row, const QString& name);
    // Move the rows `rows` (rising) so that they stand before row `before` (rowCount(): last).
    void moveRequested(const QList<int>& rows, int before);
    void filesDropped(const QStringList& files, int before);

private:
    struct StateOf {
        RowState state = RowState::None;
        QString detail;
    };
    QString stateText(int row) const;

    plan::Layout layout_;
    QList<plan::MeasuredFile> files_;
    QList<StateOf> states_;
    int current_ = -1;
};

} // namespace tamberlo::planwin
