#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class Form1;
}

namespace tamberlo {

class AudioOutputBox;
class AudioPlayer;
class AudioSource;
class ChipCommands;
class FileDialog;
class LevelDisplay;
class MessageBoxes;
class PortControl;
class Receiver;
class SerialPort;
class Transmitter;

// The panel's one window: its controls come from Form1.ui; it owns every subsystem for
// the whole run and routes each control event to its handler.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // The platform edges. Any left null is made here from its Qt adapter.
    struct Platform {
        SerialPort* port = nullptr;
        AudioPlayer* player = nullptr;
        MessageBoxes* boxes = nullptr;
        FileDialog* dialog = nullptr;
    };

    explicit Form1(QWidget* parent = nullptr);
    explicit Form1(Platform platform, QWidget* parent = nullptr);
    ~Form1() override;

    Transmitter& transmitter() { return *transmitter_; }
    Receiver& receiver() { return *receiver_; }
    ChipCommands& chip() { return *chip_; }
    AudioSource& audio() { return *audio_; }
    PortControl& portControl() { return *portControl_; }
    SerialPort& port() { return *port_; }
    AudioPlayer& player() { return *player_; }
    QTimer& VoiclePtrTimer() { return voiclePtrTimer_; }
    // The sound output the file plays on (its list can be given another source).
    AudioOutputBox& outputBox();

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void nameControls();
    void route();
    void startUp();
    void shutDown();
    void portToggle();
    void showPortState(bool open);
    void chooseOutput(const QByteArray& id);

    std::unique_ptr<Ui::Form1> ui;

    // Adapters made here when the caller gave none; declared before their users.
    std::unique_ptr<SerialPort> ownPort_;
    std::unique_ptr<AudioPlayer> ownPlayer_;
    std::unique_ptr<MessageBoxes> ownBoxes_;
    std::unique_ptr<FileDialog> ownDialog_;
    SerialPort* port_ = nullptr;
    AudioPlayer* player_ = nullptr;
    MessageBoxes* boxes_ = nullptr;
    FileDialog* dialog_ = nullptr;

    std::unique_ptr<Receiver> receiver_;
    std::unique_ptr<Transmitter> transmitter_;
    std::unique_ptr<PortControl> portControl_;
    std::unique_ptr<LevelDisplay> levelDisplay_;
    std::unique_ptr<AudioSource> audio_;
    std::unique_ptr<ChipCommands> chip_;

    // Enabled at start-up but never given an interval: it never ticks, and the level
    // display stays the static painting of the volume step.
    QTimer voiclePtrTimer_;
    bool shutDownDone_ = false;
};

} // namespace tamberlo
