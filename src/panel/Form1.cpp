#include "panel/Form1.h"

#include "audio/QtAudioPlayer.h"
#include "link/PortResolver.h"
#include "link/QtSerialPort.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "panel/AudioSource.h"
#include "panel/ChipCommands.h"
#include "panel/Lamps.h"
#include "panel/LevelDisplay.h"
#include "ui_Form1.h"
#include "widgets/AudioOutputBox.h"
#include "widgets/PortControl.h"
#include "widgets/PortToolTips.h"
#include "widgets/QtFileDialog.h"
#include "widgets/QtMessageBoxes.h"

#include <QCloseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QSvgRenderer>

// The window's artwork is compiled into the static panel library; it has to be
// registered by hand, or the linker drops it.
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace tamberlo {

Form1::Form1(QWidget* parent) : Form1(Platform{}, parent) {}

Form1::Form1(Platform platform, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::Form1>()) {
    initResources();
    ui->setupUi(this);
    nameControls();

    port_ = platform.port;
    if (!port_) {
        ownPort_ = std::make_unique<QtSerialPort>();
        port_ = ownPort_.get();
    }
    player_ = platform.player;
    if (!player_) {
        ownPlayer_ = std::make_unique<QtAudioPlayer>();
        player_ = ownPlayer_.get();
    }
    boxes_ = platform.boxes;
    if (!boxes_) {
        ownBoxes_ = std::make_unique<QtMessageBoxes>(this);
        boxes_ = ownBoxes_.get();
    }
    dialog_ = platform.dialog;
    if (!dialog_) {
        ownDialog_ = std::make_unique<QtFileDialog>(this);
        dialog_ = ownDialog_.get();
    }
    port_->setObjectName(QStringLiteral("MSComm1"));
    player_->setObjectName(QStringLiteral("MMControl1"));

    receiver_ = std::make_unique<Receiver>(*port_);
    transmitter_ = std::make_unique<Transmitter>(*port_, *receiver_);
    portControl_ = std::make_unique<PortControl>(*port_, *transmitter_, *boxes_);
    levelDisplay_ = std::make_unique<LevelDisplay>(LevelBars{ui->VolicDisPlay_0, ui->VolicDisPlay_1,
                                                             ui->VolicDisPlay_2, ui->VolicDisPlay_3,
                                                             ui->VolicDisPlay_4});
    audio_ = std::make_unique<AudioSource>(*player_, *dialog_, *boxes_,
                                           AudioSource::Widgets{ui->DisFileNanmeText,
                                                                ui->MusicFileLenText,
                                                                ui->RecTimeText, ui->PlayPoint});

    Lamps lamps = Lamps::find(*this);
    lamps.applyColours();

    ChipCommands::Widgets widgets;
    widgets.Play_Text = ui->Play_Text;
    widgets.Rec_Text = ui->Rec_Text;
    widgets.CurrentRow = ui->CurrentRow;
    widgets.St_Play_Text = ui->St_Play_Text;
    widgets.St_Play_Text1 = ui->St_Play_Text1;
    widgets.St_Rec_Text = ui->St_Rec_Text;
    widgets.St_Rec_Text1 = ui->St_Rec_Text1;
    widgets.SetEraseText = ui->SetEraseText;
    widgets.SetEraseText1 = ui->SetEraseText1;
    widgets.sound_in = ui->sound_in;
    widgets.SoundMon = ui->SoundMon;
    widgets.SPKon = ui->SPKon;
    widgets.lamps = lamps;
    chip_ = std::make_unique<ChipCommands>(
        *transmitter_, *receiver_, *audio_, *boxes_, widgets,
        [this](std::uint8_t step) { levelDisplay_->SoundDip(step); });
    audio_->setStopCommand([this] { chip_->sendStop(); },
                           [this] { return chip_->stopHandOverLeadMs(); });

    voiclePtrTimer_.setObjectName(QStringLiteral("VoiclePtrTimer"));
    voiclePtrTimer_.setInterval(0);

    ui->Seril_StDig->setFill(PortControl::lampColor(false));
    route();
    startUp();
}

Form1::~Form1() {
    shutDown();
}

// Object names are the control names; array elements carry their index in brackets.
// Controls without a caption of their own are known to accessibility by that name too.
void Form1::nameControls() {
    // The form file cannot hold brackets in a name: "Lift_0" there is "Lift(0)" here.
    static const QRegularExpression element(
        QStringLiteral("^(VolicDisPlay|Lift|Right|Bottmp)_(\\d+)$"));
    const QList<QWidget*> all = findChildren<QWidget*>();
    for (QWidget* w : all)
        if (const QRegularExpressionMatch m = element.match(w->objectName()); m.hasMatch())
            w->setObjectName(QStringLiteral("%1(%2)").arg(m.captured(1), m.captured(2)));

    for (QWidget* w : all) {
        const bool captionless = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                                 qobject_cast<QCheckBox*>(w) || qobject_cast<QSlider*>(w) ||
                                 qobject_cast<Lamp*>(w) || qobject_cast<LevelBar*>(w) ||
                                 w == ui->Picture1;
        // A combo box's line edit is part of the combo box, not a control of its own.
        if (captionless && !qobject_cast<QComboBox*>(w->parentWidget()))
            w->setAccessibleName(w->objectName());
    }

    // The two bold buttons use 10.5 points, a size the form file cannot hold.
    for (QPushButton* b : {ui->Command16, ui->open_file}) {
        QFont f = b->font();
        f.setPointSizeF(10.5);
        f.setBold(true);
        b->setFont(f);
    }
}

// The routing table: every control event with a handler is connected here, and only
// those. Labels, frames, text boxes, combo boxes, check boxes, lamps and the picture
// have none.
void Form1::route() {
    connect(ui->Command16, &QPushButton::clicked, this, &Form1::portToggle);
    connect(portControl_.get(), &PortControl::toggled, ui->Bottmp_0, &QWidget::hide);
    connect(portControl_.get(), &PortControl::openChanged, this, &Form1::showPortState);

    ChipCommands* c = chip_.get();
    connect(ui->play, &QPushButton::clicked, c, &ChipCommands::play);
    connect(ui->stop, &QPushButton::clicked, c, &ChipCommands::stop);
    connect(ui->rec, &QPushButton::clicked, c, &ChipCommands::rec);
    connect(ui->fwd, &QPushButton::clicked, c, &ChipCommands::fwd);
    connect(ui->erase, &QPushButton::clicked, c, &ChipCommands::erase);
    connect(ui->erase_all, &QPushButton::clicked, c, &ChipCommands::erase_all);
    connect(ui->CurrentRowComm, &QPushButton::clicked, c, &ChipCommands::CurrentRowComm);
    connect(ui->devid_rst, &QPushButton::clicked, c, &ChipCommands::devid_rst);
    connect(ui->devid_pu, &QPushButton::clicked, c, &ChipCommands::devid_pu);
    connect(ui->devid_id, &QPushButton::clicked, c, &ChipCommands::devid_id);
    connect(ui->rd_play_addr, &QPushButton::clicked, c, &ChipCommands::rd_play_addr);
    connect(ui->rd_rec_addr, &QPushButton::clicked, c, &ChipCommands::rd_rec_addr);
    connect(ui->set_play_addr, &QPushButton::clicked, c, &ChipCommands::set_play_addr);
    connect(ui->set_rec_addr, &QPushButton::clicked, c, &ChipCommands::set_rec_addr);
    connect(ui->SetEraseAddrComm, &QPushButton::clicked, c, &ChipCommands::SetEraseAddrComm);
    connect(ui->si_ok, &QPushButton::clicked, c, &ChipCommands::si_ok);
    connect(ui->VoilceVal, &QPushButton::clicked, c, &ChipCommands::VoilceVal);

    AudioSource* a = audio_.get();
    connect(ui->open_file, &QPushButton::clicked, a, &AudioSource::openFile);
    connect(ui->AudioOutputBox, &AudioOutputBox::chosen, this, &Form1::chooseOutput);
    // PlayPoint's value change and the player's status event are connected by the audio
    // source itself, the serial notification by the receiver, Timer1's tick by the
    // transmitter.

    // The tool tips name the device each port number stands for at the moment they are
    // looked at: when the list opens or the mouse rests on the box.
    new PortToolTips(ui->Combo1);
}

void Form1::startUp() {
    ui->Play_Text->clear();
    ui->Rec_Text->clear();
    ui->St_Play_Text->setText(QStringLiteral("00 10"));
    ui->St_Play_Text1->setText(QStringLiteral("00 20"));
    ui->St_Rec_Text->setText(QStringLiteral("00 10"));
    ui->St_Rec_Text1->setText(QStringLiteral("00 20"));
    ui->SetEraseText->setText(QStringLiteral("00 10"));
    ui->SetEraseText1->setText(QStringLiteral("00 20"));
    ui->CurrentRow->clear();
    ui->Bottmp_0->setVisible(false);
    chip_->widgets().lamps.CriDigClr();
    chip_->setVolLevel(4); // and the level display shows all five bars
    // VoiclePtrTimer is enabled but has no interval, so it never ticks: nothing to start.
}

void Form1::shutDown() {
    if (shutDownDone_)
        return;
    shutDownDone_ = true;
    // Nothing is sent to the chip; the port is released with its adapter.
    player_->command(PlayerCommand::Close);
}

void Form1::closeEvent(QCloseEvent* event) {
    shutDown();
    event->accept();
}

void Form1::paintEvent(QPaintEvent*) {
    static QSvgRenderer background(QStringLiteral(":/images/background.svg"));
    QPainter p(this);
    background.render(&p, QRectF(0, 0, 130, 135));
}

void Form1::portToggle() {
    portControl_->toggle(ui->Combo1->currentText());
}

void Form1::showPortState(bool open) {
    ui->Command16->setText(PortControl::caption(open));
    ui->Seril_StDig->setFill(PortControl::lampColor(open));
}

AudioOutputBox& Form1::outputBox() {
    return *ui->AudioOutputBox;
}

// The output the file plays on from the next "Play"; the no-output box names it.
void Form1::chooseOutput(const QByteArray& id) {
    player_->setOutputDevice(id);
    audio_->setOutputName(ui->AudioOutputBox->chosenName());
}

} // namespace tamberlo
