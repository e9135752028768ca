#include "widgets/AudioOutputBox.h"

#include <QSignalBlocker>

namespace tamberlo {

AudioOutputBox::AudioOutputBox(QWidget* parent, Lister outputs) : QComboBox(parent) {
    setObjectName(QStringLiteral("AudioOutputBox"));
    setAccessibleName(objectName());
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(12);
    setLister(std::move(outputs));
    // Until it is first opened only the default output is listed: asking the sound server
    // is left to the moment someone wants to choose (start-up does not wait for it).
    fill({}, {});
    connect(this, &QComboBox::activated, this, [this] {
        setToolTip(currentData(Qt::ToolTipRole).toString());
        emit chosen(chosenId());
    });
}

void AudioOutputBox::setLister(Lister outputs) {
    outputs_ = outputs ? std::move(outputs) : Lister(&audioOutputs);
}

void AudioOutputBox::refresh() {
    fill(outputs_(), chosenId());
}

void AudioOutputBox::fill(const QList<AudioOutput>& outputs, const QByteArray& keep) {
    const QSignalBlocker quiet(this);
    clear();
    QString defaultName;
    for (const AudioOutput& o : outputs)
        if (o.isDefault)
            defaultName = o.description;
    addItem(defaultName.isEmpty() ? tr("默认输出") : tr("默认输出（%1）").arg(defaultName),
            QByteArray());
    setItemData(0, tr("声音服务器的默认输出"), Qt::ToolTipRole);
    for (const AudioOutput& o : outputs) {
        addItem(o.description, o.id);
        setItemData(count() - 1, QString::fromUtf8(o.id), Qt::ToolTipRole);
    }
    int at = findData(keep);
    if (at < 0) {
        addItem(tr("%1（未连接）").arg(QString::fromUtf8(keep)), keep);
        at = count() - 1;
    }
    setCurrentIndex(at);
    setToolTip(itemData(at, Qt::ToolTipRole).toString());
}

QByteArray AudioOutputBox::chosenId() const {
    return currentIndex() < 0 ? QByteArray() : currentData().toByteArray();
}

QString AudioOutputBox::chosenName() const {
    return chosenId().isEmpty() ? QString() : currentText();
}

void AudioOutputBox::choose(const QByteArray& id) {
    fill(outputs_(), id);
}

void AudioOutputBox::showPopup() {
    refresh();
    QComboBox::showPopup();
}

} // namespace tamberlo
