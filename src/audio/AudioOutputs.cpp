#include "audio/AudioOutputs.h"

#include "audio/PulseOutput.h"

#include <QCoreApplication>

namespace tamberlo {

QList<AudioOutput> audioOutputs() {
    // The sound server's sinks, the ids its streams take.
    return pulseOutputs(nullptr).value_or(QList<AudioOutput>());
}

QByteArray findAudioOutput(const QString& nameOrNumber) {
    const QList<AudioOutput> list = audioOutputs();
    bool isNumber = false;
    const int number = nameOrNumber.toInt(&isNumber);
    if (isNumber)
        return number >= 1 && number <= list.size() ? list[number - 1].id : QByteArray();
    for (const AudioOutput& output : list) {
        if (output.id == nameOrNumber.toUtf8() ||
            output.description.compare(nameOrNumber, Qt::CaseInsensitive) == 0)
            return output.id;
    }
    return {};
}

bool audioOutputReady(const QByteArray& id, QString* why) {
    QString server;
    const QList<AudioOutput> list = pulseOutputs(&server).value_or(QList<AudioOutput>());
    const auto say = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    if (list.isEmpty()) {
        if (!server.isEmpty())
            qInfo("audio: no sound server: %s", qPrintable(server));
        return say(QCoreApplication::translate("tamberlo::AudioOutputs",
                                               "没有可用的声音输出（没有声卡或声音服务器）"));
    }
    if (id.isEmpty())
        return true;
    for (const AudioOutput& output : list) {
        if (output.id == id)
            return true;
    }
    return say(QCoreApplication::translate("tamberlo::AudioOutputs", "声音输出 %1 不存在")
                   .arg(QString::fromUtf8(id)));
}

} // namespace tamberlo
