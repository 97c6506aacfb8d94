// MainWindow's slot table and what the window connected to it: the slots in meta-object order,
// each button's clicked signal bound to its slot by name (or to nothing), and for every slot
// exactly the connections it should have. Built for both window variants; the reduced one
// lacks the eight smoke output slots.

#include <QAbstractButton>
#include <QLineEdit>
#include <QMetaMethod>
#include <QSerialPort>
#include <QtTest>

#include <vector>

#include "app/mainwindow.h"
#include "sensor/sharedstate.h"
#include "transport/mytimer.h"
#include "transport/serial.h"

namespace {

enum class Source {
    None,
    Tick,                   // the tick timer's handleTimeout()
    Clicked,                // clicked() of the named button
    TextChanged,            // textChanged() of the named line edit
    CursorPositionChanged,  // cursorPositionChanged() of the named line edit
};

struct SlotRow {
    const char *signature;
    const char *parameterNames;  // comma-separated
    Source source;
    const char *sender;  // object name in the form, for the sources of a form widget
};

#ifdef SENSOR_WORKBENCH_BASIC
constexpr bool kSmokeOutputSlots = false;
#else
constexpr bool kSmokeOutputSlots = true;
#endif

// clang-format off
const SlotRow kSlots[] = {
    {"main_loop()", "", Source::Tick, ""},
    {"update_port()", "", Source::Tick, ""},
    {"update_rs485_data()", "", Source::None, ""},
    {"on_connect_button_clicked()", "", Source::Clicked, "connect_button"},
    {"on_scan_button_clicked()", "", Source::Clicked, "scan_button"},
    {"on_write_serial_number_clicked()", "", Source::Clicked, "write_serial_number"},
    {"on_read_serial_number_clicked()", "", Source::Clicked, "read_serial_number"},
    {"on_write_protocol_data_clicked()", "", Source::Clicked, "write_protocol_data"},
    {"on_read_protocol_data_clicked()", "", Source::Clicked, "read_protocol_data"},
    {"on_write_baud_rate_clicked()", "", Source::Clicked, "write_baud_rate"},
    {"on_read_baud_rate_clicked()", "", Source::Clicked, "read_baud_rate"},
    {"on_write_test_amount_clicked()", "", Source::Clicked, "write_test_amount"},
    {"on_read_test_amount_clicked()", "", Source::Clicked, "read_test_amount"},
    {"on_write_communication_mode_clicked()", "", Source::Clicked, "write_communication_mode"},
    {"on_read_communication_mode_clicked()", "", Source::Clicked, "read_communication_mode"},
    {"on_write_device_address_clicked()", "", Source::Clicked, "write_device_address"},
    {"on_read_device_address_clicked()", "", Source::Clicked, "read_device_address"},
    {"on_read_update_time_clicked()", "", Source::Clicked, "read_update_time"},
    {"on_write_update_time_clicked()", "", Source::Clicked, "write_update_time"},
    {"on_connect_button_2_clicked()", "", Source::Clicked, "connect_button_2"},
    {"on_scan_button_2_clicked()", "", Source::Clicked, "scan_button_2"},
    {"on_lineEdit_textEdited(QString)", "arg1", Source::None, ""},
    {"on_line_time_textChanged(QString)", "arg1", Source::TextChanged, "line_time"},
    {"on_line_time_cursorPositionChanged(int,int)", "arg1,arg2", Source::CursorPositionChanged, "line_time"},
    {"on_read_tem_offset_clicked()", "", Source::Clicked, "read_tem_offset"},
    {"on_write_tem_offset_clicked()", "", Source::Clicked, "write_tem_offset"},
    {"on_read_hum_offset_clicked()", "", Source::Clicked, "read_hum_offset"},
    {"on_write_hum_offset_clicked()", "", Source::Clicked, "write_hum_offset"},
    {"on_read_smoke_offset_clicked()", "", Source::Clicked, "read_smoke_offset"},
    {"on_write_smoke_offset_clicked()", "", Source::Clicked, "write_smoke_offset"},
    {"on_read_smoke_warning_clicked()", "", Source::Clicked, "read_smoke_warning"},
    {"on_write_smoke_warning_clicked()", "", Source::Clicked, "write_smoke_warning"},
    {"on_read_ad_min_clicked()", "", Source::Clicked, "read_ad_min"},
    {"on_write_output_change_clicked()", "", Source::Clicked, "write_output_change"},
    {"on_write_ad_min_clicked()", "", Source::Clicked, "write_ad_min"},
    {"on_read_ad_max_clicked()", "", Source::Clicked, "read_ad_max"},
    {"on_write_ad_max_clicked()", "", Source::Clicked, "write_ad_max"},
    {"on_read_range_min_clicked()", "", Source::Clicked, "read_range_min"},
    {"on_write_range_min_clicked()", "", Source::Clicked, "write_range_min"},
    {"on_read_range_max_clicked()", "", Source::Clicked, "read_range_max"},
    {"on_write_range_max_clicked()", "", Source::Clicked, "write_range_max"},
    {"on_read_output_change_clicked()", "", Source::Clicked, "read_output_change"},
    // The smoke output group's slots; the reduced build has none of them.
    {"on_read_smoke_v_min_clicked()", "", Source::Clicked, "read_smoke_v_min"},
    {"on_write_smoke_v_min_clicked()", "", Source::Clicked, "write_smoke_v_min"},
    {"on_read_smoke_v_max_clicked()", "", Source::Clicked, "read_smoke_v_max"},
    {"on_write_smoke_v_max_clicked()", "", Source::Clicked, "write_smoke_v_max"},
    {"on_read_smoke_c_min_clicked()", "", Source::Clicked, "read_smoke_c_min"},
    {"on_write_smoke_c_min_clicked()", "", Source::Clicked, "write_smoke_c_min"},
    {"on_read_smoke_c_max_clicked()", "", Source::Clicked, "read_smoke_c_max"},
    {"on_write_smoke_c_max_clicked()", "", Source::Clicked, "write_smoke_c_max"},
};
// clang-format on

constexpr int kAllSlots = int(sizeof kSlots / sizeof kSlots[0]);
constexpr int kFirstSmokeOutputSlot = 42;
constexpr int kSlotCount = kSmokeOutputSlots ? kAllSlots : kFirstSmokeOutputSlot;

// The humidity group's buttons, which never had slots.
const char *const kButtonsWithoutSlot[] = {
    "read_hum_v_min", "write_hum_v_min", "read_hum_v_max", "write_hum_v_max",
    "read_hum_c_min", "write_hum_c_min", "read_hum_c_max", "write_hum_c_max",
};

// QObject keeps its connection queries protected; a class derived from it may name them.
struct ConnectionQuery : QObject {
    static int receiverCount(const QObject *sender, const QMetaMethod &signal) {
        const QByteArray signature = QByteArray::number(QSIGNAL_CODE) + signal.methodSignature();
        return (sender->*(&ConnectionQuery::receivers))(signature.constData());
    }
};

QMetaMethod signalOf(Source source) {
    switch (source) {
        case Source::Tick:
            return QMetaMethod::fromSignal(&MyTimer::handleTimeout);
        case Source::Clicked:
            return QMetaMethod::fromSignal(&QAbstractButton::clicked);
        case Source::TextChanged:
            return QMetaMethod::fromSignal(&QLineEdit::textChanged);
        case Source::CursorPositionChanged:
            return QMetaMethod::fromSignal(&QLineEdit::cursorPositionChanged);
        case Source::None:
            break;
    }
    return QMetaMethod();
}

}  // namespace

class SlotsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void slotTableHasNoOtherMethods();
    void slot_data();
    void slot();
    void button_data();
    void button();
    void noObjectIsNamedLineEdit();
    // Last: it takes the connections apart to prove there are no others.
    void slotIsConnectedExactlyAsListed_data();
    void slotIsConnectedExactlyAsListed();

private:
    // Every object that could have been wired to the window: its tree and the bus objects.
    std::vector<QObject *> possibleSenders() const;

    MainWindow *window = nullptr;
};

void SlotsTest::initTestCase() {
    window = new MainWindow;
    QVERIFY(tickTimer);
    QVERIFY(serialPort);
}

void SlotsTest::cleanupTestCase() {
    QTest::ignoreMessage(QtDebugMsg, "ThreadFromQThread delete");
    QTest::ignoreMessage(QtDebugMsg, "time delete");
    delete window;
    window = nullptr;
}

std::vector<QObject *> SlotsTest::possibleSenders() const {
    std::vector<QObject *> senders{window, tickTimer, serialPort, serialPort->port,
                                   QCoreApplication::instance()};
    const QList<QObject *> descendants = window->findChildren<QObject *>();
    senders.insert(senders.end(), descendants.begin(), descendants.end());
    return senders;
}

void SlotsTest::slotTableHasNoOtherMethods() {
    const QMetaObject &meta = MainWindow::staticMetaObject;
    QCOMPARE(meta.className(), "MainWindow");
    QCOMPARE(meta.superClass(), &QMainWindow::staticMetaObject);
    QCOMPARE(meta.methodCount() - meta.methodOffset(), kSlotCount);
    QCOMPARE(meta.constructorCount(), 0);
    QCOMPARE(window->metaObject(), &meta);
}

void SlotsTest::slot_data() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < kSlotCount; ++i)
        QTest::addRow("%d %s", i, kSlots[i].signature) << i;
}

void SlotsTest::slot() {
    QFETCH(int, index);
    const SlotRow &row = kSlots[index];
    const QMetaObject &meta = MainWindow::staticMetaObject;
    const QMetaMethod method = meta.method(meta.methodOffset() + index);
    QCOMPARE(method.methodSignature(), QByteArray(row.signature));
    QCOMPARE(method.methodType(), QMetaMethod::Slot);
    QCOMPARE(method.access(), QMetaMethod::Private);
    QCOMPARE(method.returnType(), int(QMetaType::Void));
    const QList<QByteArray> parameterNames =
        *row.parameterNames ? QByteArray(row.parameterNames).split(',') : QList<QByteArray>();
    QCOMPARE(method.parameterNames(), parameterNames);
}

void SlotsTest::button_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("hasSlot");
    for (int i = 0; i < kAllSlots; ++i)
        if (kSlots[i].source == Source::Clicked)
            QTest::newRow(kSlots[i].sender) << kSlots[i].sender << (i < kSlotCount);
    for (const char *name : kButtonsWithoutSlot)
        QTest::newRow(name) << name << false;
}

void SlotsTest::button() {
    QFETCH(QString, name);
    QFETCH(bool, hasSlot);
    auto *button = window->findChild<QAbstractButton *>(name);
    QVERIFY(button);
    const QMetaMethod clicked = QMetaMethod::fromSignal(&QAbstractButton::clicked);
    QCOMPARE(ConnectionQuery::receiverCount(button, clicked), hasSlot ? 1 : 0);
    // No other button signal is bound either (Qt's own QObject and QWidget signals aside).
    const QMetaObject *meta = button->metaObject();
    for (int i = QWidget::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() == QMetaMethod::Signal && method.name() != clicked.name())
            QVERIFY2(ConnectionQuery::receiverCount(button, method) == 0,
                     method.methodSignature().constData());
    }
}

void SlotsTest::noObjectIsNamedLineEdit() {
    // So on_lineEdit_textEdited has nothing to bind to by name.
    QVERIFY(window->findChildren<QObject *>(QStringLiteral("lineEdit")).isEmpty());
    QVERIFY(window->findChild<QLineEdit *>(QStringLiteral("line_time")));
}

void SlotsTest::slotIsConnectedExactlyAsListed_data() {
    slot_data();
}

void SlotsTest::slotIsConnectedExactlyAsListed() {
    QFETCH(int, index);
    const SlotRow &row = kSlots[index];
    const QMetaObject &meta = MainWindow::staticMetaObject;
    const QMetaMethod method = meta.method(meta.methodOffset() + index);
    QCOMPARE(method.methodSignature(), QByteArray(row.signature));

    // The listed connection exists: taking it away succeeds ...
    if (row.source != Source::None) {
        QObject *sender = row.source == Source::Tick
                              ? static_cast<QObject *>(tickTimer)
                              : window->findChild<QObject *>(QString::fromUtf8(row.sender));
        QVERIFY(sender);
        QVERIFY(QObject::disconnect(sender, signalOf(row.source), window, method));
    }
    // ... and after that nothing at all is connected to the slot.
    for (QObject *sender : possibleSenders())
        QVERIFY2(!QObject::disconnect(sender, QMetaMethod(), window, method),
                 qPrintable(sender->objectName() + " " + sender->metaObject()->className()));
}

QTEST_MAIN(SlotsTest)
#include "tst_window_slots.moc"
