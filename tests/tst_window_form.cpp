// The main window's form as built: every object of the form against the written-down table
// (tests/support/form_objects.h), creation order, focus chain, combo boxes, the window itself
// and the translation context of its texts. Built for both window variants.

#include <QAbstractButton>
#include <QBoxLayout>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QSerialPortInfo>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QTranslator>
#include <QtCharts/QChartView>
#include <QtTest>

#include <memory>
#include <vector>

#include "app/charts.h"
#include "app/mainwindow.h"
#include "sensor/sharedstate.h"
#include "sensor/uart_thread.h"
#include "support/form_objects.h"
#include "ui_mainwindow.h"

using form::FormObject;
using form::kFormObjects;
using form::Placement;
using form::Policy;

namespace {

const FormObject *rowNamed(const QString &name) {
    for (const FormObject &row : kFormObjects)
        if (name == QLatin1String(row.name))
            return &row;
    return nullptr;
}

// The 25 tab-order pairs setupUi applies, in order.
const std::pair<const char *, const char *> kTabOrder[] = {
    {"write_protocol_data", "com_port"},
    {"com_port", "baud_rate"},
    {"baud_rate", "data_bit"},
    {"data_bit", "parity_bit"},
    {"parity_bit", "stop_bit"},
    {"stop_bit", "connect_button"},
    {"connect_button", "scan_button"},
    {"scan_button", "textEdit"},
    {"textEdit", "lineEdit_serial_number"},
    {"lineEdit_serial_number", "read_serial_number"},
    {"read_serial_number", "write_serial_number"},
    {"write_serial_number", "lineEdit_device_address"},
    {"lineEdit_device_address", "read_device_address"},
    {"read_device_address", "write_device_address"},
    {"write_device_address", "lineEdit_communication_mode"},
    {"lineEdit_communication_mode", "read_communication_mode"},
    {"read_communication_mode", "write_communication_mode"},
    {"write_communication_mode", "lineEdit_test_amount"},
    {"lineEdit_test_amount", "read_test_amount"},
    {"read_test_amount", "write_test_amount"},
    {"write_test_amount", "lineEdit_baud_rate"},
    {"lineEdit_baud_rate", "read_baud_rate"},
    {"read_baud_rate", "write_baud_rate"},
    {"write_baud_rate", "lineEdit_protocol_type"},
    {"lineEdit_protocol_type", "read_protocol_data"},
};

bool isLayoutClass(const char *className) {
    return qstrcmp(className, "QGridLayout") == 0 || qstrcmp(className, "QHBoxLayout") == 0;
}

// A widget of the class as Qt makes it, to compare what the form left at its default.
std::unique_ptr<QWidget> freshWidget(const QString &className) {
    if (className == QLatin1String("QLabel"))
        return std::make_unique<QLabel>();
    if (className == QLatin1String("QPushButton"))
        return std::make_unique<QPushButton>();
    if (className == QLatin1String("QLineEdit"))
        return std::make_unique<QLineEdit>();
    if (className == QLatin1String("QComboBox"))
        return std::make_unique<QComboBox>();
    if (className == QLatin1String("QGroupBox"))
        return std::make_unique<QGroupBox>();
    if (className == QLatin1String("QTabWidget"))
        return std::make_unique<QTabWidget>();
    if (className == QLatin1String("QTextEdit"))
        return std::make_unique<QTextEdit>();
    if (className == QLatin1String(QChartView::staticMetaObject.className()))
        return std::make_unique<QChartView>();
    return std::make_unique<QWidget>();
}

QLayout *newLayout(const QString &className, QWidget *host) {
    if (className == QLatin1String("QHBoxLayout"))
        return new QHBoxLayout(host);
    return new QGridLayout(host);
}

// A layout of the same class placed the same way (on a widget of the host's class, or nested
// in another layout), to compare margins and spacing the form left to the style.
// The host is a child widget, as every host in the form is: windows get wider margins.
struct ReferenceLayout {
    QWidget window;
    QLayout *layout = nullptr;
};

std::unique_ptr<ReferenceLayout> referenceLayoutFor(const FormObject &row) {
    auto reference = std::make_unique<ReferenceLayout>();
    if (row.placement == Placement::LayoutOf) {
        const FormObject *hostRow = rowNamed(QString::fromUtf8(row.container));
        QWidget *host = freshWidget(hostRow ? hostRow->className : "QWidget").release();
        host->setParent(&reference->window);
        reference->layout = newLayout(row.className, host);
    } else {
        auto *host = new QWidget(&reference->window);
        auto *outer = new QGridLayout(host);
        reference->layout = newLayout(row.className, nullptr);
        outer->addLayout(reference->layout, 0, 0);
    }
    return reference;
}

// Whether the table says this widget or one of its parents is disabled.
bool disabledByTable(const FormObject &row) {
    for (const FormObject *current = &row; current;
         current = rowNamed(QString::fromUtf8(current->parent))) {
        if (current->flags & form::kDisabled)
            return true;
    }
    return false;
}

QString textOf(QObject *object, QTabWidget *tabWidget, const FormObject &row) {
    if (row.placement == Placement::TabPage)
        return tabWidget->tabText(tabWidget->indexOf(qobject_cast<QWidget *>(object)));
    if (auto *label = qobject_cast<QLabel *>(object))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        return button->text();
    if (auto *group = qobject_cast<QGroupBox *>(object))
        return group->title();
    if (auto *lineEdit = qobject_cast<QLineEdit *>(object))
        return lineEdit->text();
    if (auto *textEdit = qobject_cast<QTextEdit *>(object))
        return textEdit->toPlainText();
    return QString();
}

// Turns every text of context "MainWindow" into "[text]" and leaves all others alone.
class BracketingTranslator : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (qstrcmp(context, "MainWindow") != 0 || !sourceText || !*sourceText)
            return QString();
        return QLatin1Char('[') + QString::fromUtf8(sourceText) + QLatin1Char(']');
    }
};

}  // namespace

class FormTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void theTableListsEveryNamedObject();
    void object_data();
    void object();
    void siblingsKeepCreationOrder();
    void focusChainFollowsCreationAndTabOrder();
    void tabOrderPair_data();
    void tabOrderPair();
    void comboBox_data();
    void comboBox();
    void tabWidgetShowsTheSettingsPage();
    void windowIsFixedWithoutBars();
    void textsUseTheWindowsTranslationContext();

private:
    template <typename T>
    T *find(const char *name) const {
        return window->findChild<T *>(QString::fromUtf8(name));
    }

    MainWindow *window = nullptr;
};

void FormTest::initTestCase() {
    window = new MainWindow;
    // Everything below describes the form before the first tick: nothing may have run yet.
    QVERIFY(workerThread);
    QVERIFY(!workerThread->isRunning());
    QVERIFY(!workerThread->isFinished());
}

void FormTest::cleanupTestCase() {
    QTest::ignoreMessage(QtDebugMsg, "ThreadFromQThread delete");
    QTest::ignoreMessage(QtDebugMsg, "time delete");
    delete window;
    window = nullptr;
}

void FormTest::theTableListsEveryNamedObject() {
    QSet<QString> expected;
    for (const FormObject &row : kFormObjects)
        expected.insert(QString::fromUtf8(row.name));
    QCOMPARE(expected.size(), 206);

    QSet<QString> found;
    const QList<QObject *> descendants = window->findChildren<QObject *>();
    for (QObject *object : descendants) {
        const QString name = object->objectName();
        // Qt names its own inner parts qt_...; the chart view's scene parts are unnamed.
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
            continue;
        if (!expected.contains(name))
            continue;
        QVERIFY2(!found.contains(name), qPrintable("two objects named " + name));
        found.insert(name);
    }
    QCOMPARE(found, expected);
}

void FormTest::object_data() {
    QTest::addColumn<int>("rowIndex");
    for (int i = 0; i < form::kFormObjectCount; ++i)
        QTest::newRow(kFormObjects[i].name) << i;
}

void FormTest::object() {
    QFETCH(int, rowIndex);
    const FormObject &row = kFormObjects[rowIndex];
    const QString name = QString::fromUtf8(row.name);

    const QList<QObject *> matches = window->findChildren<QObject *>(name);
    QCOMPARE(matches.size(), 1);
    QObject *object = matches.first();
    QCOMPARE(object->metaObject()->className(), row.className);

    auto *tabWidget = find<QTabWidget>("tabWidget");
    QVERIFY(tabWidget);

    if (isLayoutClass(row.className)) {
        auto *layout = qobject_cast<QLayout *>(object);
        QVERIFY(layout);

        // Where it sits: on its widget, or inside its outer layout.
        if (row.placement == Placement::LayoutOf) {
            auto *host = find<QWidget>(row.container);
            QVERIFY(host);
            QCOMPARE(row.parent, row.container);
            QCOMPARE(layout->parent(), host);
            QCOMPARE(host->layout(), layout);
        } else {
            auto *outer = find<QLayout>(row.container);
            QVERIFY(outer);
            QCOMPARE(layout->parent(), outer);
            int index = -1;
            for (int i = 0; i < outer->count(); ++i)
                if (outer->itemAt(i)->layout() == layout)
                    index = i;
            QVERIFY(index >= 0);
            QCOMPARE(outer->itemAt(index)->alignment(), Qt::Alignment());
            if (row.placement == Placement::GridCell) {
                auto *grid = qobject_cast<QGridLayout *>(outer);
                QVERIFY(grid);
                int gridRow, column, rowSpan, columnSpan;
                grid->getItemPosition(index, &gridRow, &column, &rowSpan, &columnSpan);
                QCOMPARE(QList<int>({gridRow, column, rowSpan, columnSpan}),
                         QList<int>({row.box.a, row.box.b, 1, 1}));
            } else {
                QCOMPARE(row.placement, Placement::BoxItem);
                auto *box = qobject_cast<QBoxLayout *>(outer);
                QVERIFY(box);
                QCOMPARE(index, row.box.a);
                QCOMPARE(box->stretch(index), 0);
            }
        }

        const std::unique_ptr<ReferenceLayout> reference = referenceLayoutFor(row);
        if (row.flags & form::kMarginsZero)
            QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
        else
            QCOMPARE(layout->contentsMargins(), reference->layout->contentsMargins());
        if (auto *grid = qobject_cast<QGridLayout *>(layout)) {
            auto *referenceGrid = qobject_cast<QGridLayout *>(reference->layout);
            QCOMPARE(grid->horizontalSpacing(), referenceGrid->horizontalSpacing());
            QCOMPARE(grid->verticalSpacing(), referenceGrid->verticalSpacing());
        } else {
            QCOMPARE(layout->spacing(), reference->layout->spacing());
        }
        QCOMPARE(QString::fromUtf8(row.text), QString());
        return;
    }

    auto *widget = qobject_cast<QWidget *>(object);
    QVERIFY(widget);
    const std::unique_ptr<QWidget> fresh = freshWidget(QString::fromUtf8(row.className));

    // Parent and placement.
    switch (row.placement) {
        case Placement::None:
            QCOMPARE(widget->parentWidget(), window);
            QCOMPARE(window->centralWidget(), widget);
            break;
        case Placement::TabPage: {
            auto *pages = find<QTabWidget>(row.container);
            QVERIFY(pages);
            QCOMPARE(pages->indexOf(widget), row.box.a);
            QCOMPARE(pages->widget(row.box.a), widget);
            break;
        }
        case Placement::Geometry:
            QCOMPARE(widget->geometry(), QRect(row.box.a, row.box.b, row.box.c, row.box.d));
            break;
        case Placement::GridCell: {
            auto *grid = find<QGridLayout>(row.container);
            QVERIFY(grid);
            const int index = grid->indexOf(widget);
            QVERIFY(index >= 0);
            int gridRow, column, rowSpan, columnSpan;
            grid->getItemPosition(index, &gridRow, &column, &rowSpan, &columnSpan);
            QCOMPARE(QList<int>({gridRow, column, rowSpan, columnSpan}),
                     QList<int>({row.box.a, row.box.b, 1, 1}));
            QCOMPARE(grid->itemAt(index)->alignment(), Qt::Alignment());
            break;
        }
        case Placement::BoxItem:
        case Placement::LayoutOf:
            QFAIL("a widget cannot be placed as a layout");
    }
    if (*row.parent) {
        QVERIFY(widget->parentWidget());
        QCOMPARE(widget->parentWidget()->objectName(), QString::fromUtf8(row.parent));
    }

    // Size limits and policy.
    const QSize expectedMinimum =
        row.minimum.width < 0 ? fresh->minimumSize() : QSize(row.minimum.width, row.minimum.height);
    const QSize expectedMaximum =
        row.maximum.width < 0 ? fresh->maximumSize() : QSize(row.maximum.width, row.maximum.height);
    QCOMPARE(widget->minimumSize(), expectedMinimum);
    QCOMPARE(widget->maximumSize(), expectedMaximum);
    const QSizePolicy policy = widget->sizePolicy();
    switch (row.policy) {
        case Policy::ClassDefault:
            QCOMPARE(policy, fresh->sizePolicy());
            break;
        case Policy::PreferredPreferred:
        case Policy::MaximumPreferred:
            QCOMPARE(policy.horizontalPolicy(), row.policy == Policy::MaximumPreferred
                                                    ? QSizePolicy::Maximum
                                                    : QSizePolicy::Preferred);
            QCOMPARE(policy.verticalPolicy(), QSizePolicy::Preferred);
            QCOMPARE(policy.horizontalStretch(), 0);
            QCOMPARE(policy.verticalStretch(), 0);
            QCOMPARE(policy.hasHeightForWidth(), fresh->sizePolicy().hasHeightForWidth());
            break;
    }

    // Enabled: the explicit flag, and the effect of a disabled parent.
    QCOMPARE(widget->testAttribute(Qt::WA_ForceDisabled), bool(row.flags & form::kDisabled));
    QCOMPARE(widget->isEnabled(), !disabledByTable(row));

    // Texts.
    QCOMPARE(textOf(widget, tabWidget, row), QString::fromUtf8(row.text));
    if (row.flags & form::kOwnToolTip) {
        // Ours: it has to name what the field holds and its range.
        QVERIFY(widget->toolTip().contains(QString::fromUtf8("烟雾报警值")));
        QVERIFY(widget->toolTip().contains(QLatin1String("0-5000")));
    } else {
        QCOMPARE(widget->toolTip(), QString::fromUtf8(row.toolTip));
    }
    QCOMPARE(widget->statusTip(), QString());
    QCOMPARE(widget->whatsThis(), QString());
    QCOMPARE(widget->windowTitle(), QString());

    // Class specifics.
    if (auto *lineEdit = qobject_cast<QLineEdit *>(widget)) {
        QCOMPARE(lineEdit->placeholderText(), QString());
        QCOMPARE(lineEdit->alignment(), (row.flags & form::kCentred)
                                            ? Qt::Alignment(Qt::AlignCenter)
                                            : qobject_cast<QLineEdit *>(fresh.get())->alignment());
    } else {
        QVERIFY(!(row.flags & form::kCentred));
    }
    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->alignment(), qobject_cast<QLabel *>(fresh.get())->alignment());
    if (auto *textEdit = qobject_cast<QTextEdit *>(widget))
        QCOMPARE(textEdit->placeholderText(), QString());
    if (auto *pages = qobject_cast<QTabWidget *>(widget))
        QCOMPARE(pages->usesScrollButtons(), bool(row.flags & form::kScrollButtons));
    else
        QVERIFY(!(row.flags & form::kScrollButtons));
}

void FormTest::siblingsKeepCreationOrder() {
    // Children of one parent stay in the order they were made (nothing was raised or
    // re-parented out of turn); that order is also the stacking order of siblings.
    QHash<QObject *, QStringList> expectedByParent;
    for (const FormObject &row : kFormObjects) {
        QObject *object = window->findChild<QObject *>(QString::fromUtf8(row.name));
        QVERIFY2(object, row.name);
        QVERIFY2(object->parent(), row.name);
        expectedByParent[object->parent()] << QString::fromUtf8(row.name);
    }
    QCOMPARE(expectedByParent.size(), 30);

    int groupsCompared = 0;
    for (auto it = expectedByParent.cbegin(); it != expectedByParent.cend(); ++it) {
        // The tab widget's page stack lowers every page it receives and raises the current
        // one; the pages' order is their tab index, checked per object.
        if (it.key()->objectName() == QLatin1String("qt_tabwidget_stackedwidget"))
            continue;
        QStringList actual;
        for (QObject *child : it.key()->children())
            if (rowNamed(child->objectName()))
                actual << child->objectName();
        QCOMPARE(actual, it.value());
        ++groupsCompared;
    }
    QCOMPARE(groupsCompared, 29);
}

void FormTest::focusChainFollowsCreationAndTabOrder() {
    // New widgets join the end of the window's focus chain, so the named widgets stand in it
    // in creation order, except where the tab-order pairs moved one behind another.
    QStringList expected;
    for (const FormObject &row : kFormObjects)
        if (!isLayoutClass(row.className))
            expected << QString::fromUtf8(row.name);
    for (const auto &[first, second] : kTabOrder) {
        const QString moved = QString::fromUtf8(second);
        QVERIFY(expected.removeOne(moved));
        expected.insert(expected.indexOf(QString::fromUtf8(first)) + 1, moved);
    }

    QStringList actual;
    int steps = 0;
    for (QWidget *current = window->nextInFocusChain(); current != window;
         current = current->nextInFocusChain()) {
        QVERIFY2(++steps < 100000, "the focus chain does not come back to the window");
        if (rowNamed(current->objectName()))
            actual << current->objectName();
    }
    QCOMPARE(actual.size(), 206 - 25);
    QCOMPARE(actual, expected);
}

void FormTest::tabOrderPair_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    for (const auto &[first, second] : kTabOrder)
        QTest::addRow("%s -> %s", first, second)
            << QString::fromUtf8(first) << QString::fromUtf8(second);
}

void FormTest::tabOrderPair() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    auto *firstWidget = window->findChild<QWidget *>(first);
    auto *secondWidget = window->findChild<QWidget *>(second);
    QVERIFY(firstWidget);
    QVERIFY(secondWidget);
    QVERIFY(firstWidget->focusPolicy() & Qt::TabFocus);
    QVERIFY(secondWidget->focusPolicy() & Qt::TabFocus);

    // Tab leaves a compound widget (the log pane's viewport and scroll bars) after its parts.
    QWidget *next = firstWidget->nextInFocusChain();
    while (next != firstWidget && firstWidget->isAncestorOf(next))
        next = next->nextInFocusChain();
    QCOMPARE(next->objectName(), second);
}

void FormTest::comboBox_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("selected");
    QTest::newRow("baud_rate") << "baud_rate" << QStringList{"2400",  "4800",  "9600",  "19200",
                                                             "38400", "57600", "115200"}
                               << 2;
    QTest::newRow("data_bit") << "data_bit" << QStringList{"5", "6", "7", "8"} << 3;
    QTest::newRow("parity_bit") << "parity_bit"
                                << QStringList{"None", "Even", "Odd", "Mark", "Space"} << 0;
    QTest::newRow("stop_bit") << "stop_bit" << QStringList{"1", "1.5", "2"} << 0;
}

void FormTest::comboBox() {
    QFETCH(QString, name);
    QFETCH(QStringList, items);
    QFETCH(int, selected);
    auto *box = window->findChild<QComboBox *>(name);
    QVERIFY(box);
    QStringList actual;
    for (int i = 0; i < box->count(); ++i) {
        actual << box->itemText(i);
        QVERIFY(box->itemIcon(i).isNull());
        QVERIFY(!box->itemData(i).isValid());
    }
    QCOMPARE(actual, items);
    QCOMPARE(box->currentIndex(), selected);
    QCOMPARE(box->currentText(), items.at(selected));
    QVERIFY(!box->isEditable());
}

void FormTest::tabWidgetShowsTheSettingsPage() {
    auto *tabWidget = find<QTabWidget>("tabWidget");
    QVERIFY(tabWidget);
    QCOMPARE(tabWidget->count(), 3);
    QCOMPARE(tabWidget->currentIndex(), 0);
    QCOMPARE(tabWidget->currentWidget(), find<QWidget>("tab_7"));

    // The port selector holds nothing but ports the system has.
    auto *comPort = find<QComboBox>("com_port");
    QVERIFY(comPort);
    QStringList present;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        present << info.portName() << info.systemLocation();
    for (int i = 0; i < comPort->count(); ++i)
        QVERIFY2(present.contains(comPort->itemText(i)), qPrintable(comPort->itemText(i)));
}

void FormTest::windowIsFixedWithoutBars() {
    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window->windowTitle(), QStringLiteral("KORV47D1"));
    QCOMPARE(window->size(), QSize(620, 515));
    QCOMPARE(window->minimumSize(), QSize(620, 515));
    QCOMPARE(window->maximumSize(), QSize(620, 515));
    QVERIFY(!window->menuWidget());
    QVERIFY(!window->findChild<QMenuBar *>());
    QVERIFY(!window->findChild<QStatusBar *>());
    QVERIFY(window->findChildren<QToolBar *>().isEmpty());
    QVERIFY(!window->windowIcon().isNull());
}

void FormTest::textsUseTheWindowsTranslationContext() {
    // With a translation for context "MainWindow" installed, the same form built again must
    // show every one of its texts translated.
    BracketingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QMainWindow host;
    MainWindowForm translatedForm;
    translatedForm.setupUi(&host);
    QCoreApplication::removeTranslator(&translator);

    auto bracketed = [](const char *text) {
        return QLatin1Char('[') + QString::fromUtf8(text) + QLatin1Char(']');
    };
    QCOMPARE(host.windowTitle(), bracketed("KORV47D1"));
    auto *tabWidget = host.findChild<QTabWidget *>("tabWidget");
    QVERIFY(tabWidget);
    int texts = 0;
    for (const FormObject &row : kFormObjects) {
        QObject *object = host.findChild<QObject *>(QString::fromUtf8(row.name));
        QVERIFY2(object, row.name);
        if (*row.text) {
            QCOMPARE(textOf(object, tabWidget, row), bracketed(row.text));
            ++texts;
        }
        if (*row.toolTip)
            QCOMPARE(qobject_cast<QWidget *>(object)->toolTip(), bracketed(row.toolTip));
    }
    QCOMPARE(texts, 136);
    QCOMPARE(translatedForm.baud_rate->itemText(2), bracketed("9600"));
    QCOMPARE(translatedForm.parity_bit->itemText(4), bracketed("Space"));
    QVERIFY(translatedForm.lineEdit_smoke_warning->toolTip().startsWith(QLatin1Char('[')));
}

QTEST_MAIN(FormTest)
#include "tst_window_form.moc"
