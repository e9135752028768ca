#pragma once

#include "audio/AudioOutputs.h"

#include <QByteArray>
#include <QComboBox>
#include <functional>

namespace tamberlo {

// The sound output a recording plays its file on: the panel's and the plan window's choice
// of output. The first entry is the default output (an empty id: whatever the sound server
// takes as its default when the file plays); then every output there is, by description.
// The list is read again each time it is opened, so an adapter plugged in meanwhile shows.
// An output chosen earlier that is gone now stays in the list, marked, until another is
// chosen: a plan that names one keeps it, and the recording says that it is missing.
class AudioOutputBox : public QComboBox {
    Q_OBJECT
public:
    using Lister = std::function<QList<AudioOutput>()>;

    // `outputs` lists the outputs; empty: audioOutputs().
    explicit AudioOutputBox(QWidget* parent = nullptr, Lister outputs = {});

    // Where the list comes from from now on (empty: audioOutputs()); read at the next refresh.
    void setLister(Lister outputs);
    // Reads the outputs again, keeping the choice.
    void refresh();

    // The chosen output's id; empty for the default output.
    QByteArray chosenId() const;
    // Its name for messages.
    QString chosenName() const;
    // Chooses the output `id` (empty: the default) without announcing it.
    void choose(const QByteArray& id);

    void showPopup() override;

signals:
    // The operator chose another output.
    void chosen(const QByteArray& id);

private:
    void fill(const QList<AudioOutput>& outputs, const QByteArray& keep);

    Lister outputs_;
};

} // namespace tamberlo
