#include "panel/Lamps.h"
#include "widgets/Lamp.h"

#include <QEvent>
#include <QMap>
#include <QTest>
#include <QWidget>

using namespace tamberlo;

namespace {

// Records the names of lamps in the order they are hidden.
class HideLog : public QObject {
public:
    QStringList hidden;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide)
            hidden << watched->objectName();
        return false;
    }
};

} // namespace

class TestLamps : public QObject {
    Q_OBJECT
private slots:
    void criDigClrHidesCommandLampsInOrder();
    void criDigClrToleratesMissingLamps();
    void lampColours_data();
    void lampColours();
    void findByName();
};

void TestLamps::criDigClrHidesCommandLampsInOrder() {
    QWidget window;
    for (const LampColour& entry : LampColours)
        (new Lamp(&window))->setObjectName(lampName(entry.lamp));
    window.show();
    const Lamps lamps = Lamps::find(window);
    HideLog log;
    for (Lamp* l : window.findChildren<Lamp*>())
        l->installEventFilter(&log);

    lamps.CriDigClr();
    QCOMPARE(log.hidden, (QStringList{"Bottmp(1)", "Bottmp(3)", "Bottmp(4)", "Lift(0)", "Lift(1)",
                                      "Lift(2)", "Lift(3)", "Lift(4)", "Lift(5)", "Lift(6)",
                                      "Right(0)", "Right(1)", "Right(2)", "Right(3)", "Right(4)"}));
    QVERIFY(lamps.Bottmp[0]->isVisible());

    // Showing one lamp and clearing again leaves Bottmp(0) lit throughout.
    lamps.show({LampGroup::Lift, 2});
    QVERIFY(lamps.Lift[2]->isVisible());
    lamps.CriDigClr();
    QVERIFY(!lamps.Lift[2]->isVisible());
    QVERIFY(lamps.Bottmp[0]->isVisible());
}

void TestLamps::criDigClrToleratesMissingLamps() {
    QWidget window;
    Lamps lamps;
    lamps.Lift[1] = new Lamp(&window);
    lamps.show({LampGroup::Lift, 1});
    lamps.show({LampGroup::Bottmp, 2}); // no such lamp
    lamps.show({LampGroup::Right, 9});
    QVERIFY(!lamps.Lift[1]->isHidden());
    lamps.CriDigClr();
    QVERIFY(lamps.Lift[1]->isHidden());
    QCOMPARE(lamps.at({LampGroup::Bottmp, 2}), nullptr);
    QCOMPARE(lamps.at({LampGroup::Lift, 7}), nullptr);
}

void TestLamps::lampColours_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("Bottmp(0)") << "Bottmp(0)" << QColor(0xFF, 0x00, 0xFF);
    for (const char* n : {"Bottmp(1)", "Bottmp(3)", "Bottmp(4)"})
        QTest::newRow(n) << n << QColor(0xFF, 0xFF, 0x00);
    QTest::newRow("Lift(0)") << "Lift(0)" << QColor(0x00, 0xFF, 0x00);
    QTest::newRow("Lift(1)") << "Lift(1)" << QColor(0x00, 0x00, 0x00);
    QTest::newRow("Lift(2)") << "Lift(2)" << QColor(0xFF, 0x00, 0x00);
    for (const char* n : {"Lift(3)", "Lift(4)", "Lift(5)", "Lift(6)"})
        QTest::newRow(n) << n << QColor(0x00, 0x00, 0xFF);
    for (const char* n : {"Right(0)", "Right(1)", "Right(2)", "Right(3)", "Right(4)"})
        QTest::newRow(n) << n << QColor(0x00, 0xC0, 0x00);
}

void TestLamps::lampColours() {
    QFETCH(QString, name);
    QFETCH(QColor, colour);
    QWidget window;
    for (const LampColour& entry : LampColours)
        (new Lamp(&window))->setObjectName(lampName(entry.lamp));
    const Lamps lamps = Lamps::find(window);
    lamps.applyColours();
    Lamp* lamp = window.findChild<Lamp*>(name);
    QVERIFY(lamp);
    QCOMPARE(lamp->fill(), colour);
}

void TestLamps::findByName() {
    QWidget window;
    for (const char* name : {"Bottmp(0)", "Bottmp(2)", "Lift(6)", "Right(4)"})
        (new Lamp(&window))->setObjectName(name);
    const Lamps lamps = Lamps::find(window);
    QCOMPARE(lamps.Bottmp[0]->objectName(), QStringLiteral("Bottmp(0)"));
    QCOMPARE(lamps.Bottmp[2], nullptr); // there is no element 2, whatever the window holds
    QCOMPARE(lamps.Lift[6]->objectName(), QStringLiteral("Lift(6)"));
    QCOMPARE(lamps.Right[4]->objectName(), QStringLiteral("Right(4)"));
    QCOMPARE(lamps.Lift[0], nullptr);
    QVERIFY(!lampColour({LampGroup::Bottmp, 2}).isValid());
}

QTEST_MAIN(TestLamps)
#include "tst_Lamps.moc"
