#pragma once

// The main window's form written down object by object, in the order setupUi creates them.
// Kept apart from app/mainwindow.ui on purpose: the tests compare the built window with this
// list, not with the form file that built it.

#include <QWidget>
#include <QtCharts/QChartView>

#include "app/charts.h"

namespace form {

enum class Placement {
    None,      // the central widget
    Geometry,  // box = x, y, width, height relative to the parent
    GridCell,  // box = row, column of the grid layout named in container
    BoxItem,   // box.a = item index in the box layout named in container
    LayoutOf,  // the layout installed on the widget named in container
    TabPage,   // box.a = page index of the tab widget named in container
};

enum class Policy {
    ClassDefault,
    PreferredPreferred,
    MaximumPreferred,
};

enum Flag : unsigned {
    kMarginsZero = 1u << 0,
    kDisabled = 1u << 1,
    kScrollButtons = 1u << 2,
    kCentred = 1u << 3,
    // A tool tip that the form's author wrote; any text fitting the field will do.
    kOwnToolTip = 1u << 4,
};

struct Box {
    int a, b, c, d;
};

struct Size {
    int width, height;
};

constexpr Size kDefaultSize{-1, -1};
constexpr int kUnlimited = QWIDGETSIZE_MAX;

// The reduced build greys out the smoke output group and moves two widgets.
#ifdef SENSOR_WORKBENCH_BASIC
constexpr unsigned kSmokeOutputGroupFlags = kDisabled;
constexpr Box kLogPaneBox{10, 20, 331, 71};
constexpr Box kEntryColumnBox{90, 20, 161, 301};
#else
constexpr unsigned kSmokeOutputGroupFlags = 0;
constexpr Box kLogPaneBox{0, 20, 331, 71};
constexpr Box kEntryColumnBox{100, 20, 151, 301};
#endif

struct FormObject {
    const char *name;
    const char *className;
    // Widgets: the parent widget. Layouts installed on a widget: that widget. Empty for tab
    // pages and nested layouts, whose parent follows from the placement.
    const char *parent;
    Placement placement;
    const char *container;
    Box box;
    const char *text;  // text, title or tab title; empty for classes without one
    unsigned flags;
    Size minimum;
    Size maximum;
    Policy policy;
    const char *toolTip;
};

// clang-format off
inline const FormObject kFormObjects[] = {
    {"centralwidget", "QWidget", "MainWindow", Placement::None, "", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_17", "QGridLayout", "centralwidget", Placement::LayoutOf, "centralwidget", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"tabWidget", "QTabWidget", "centralwidget", Placement::GridCell, "gridLayout_17", {0, 0, 0, 0}, "", kScrollButtons, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"tab_7", "QWidget", "", Placement::TabPage, "tabWidget", {0, 0, 0, 0}, "设置页面", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayoutWidget", "QWidget", "tab_7", Placement::Geometry, "", {0, 0, 602, 502}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout", "QGridLayout", "gridLayoutWidget", Placement::LayoutOf, "gridLayoutWidget", {0, 0, 0, 0}, "", kMarginsZero, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"widget", "QWidget", "gridLayoutWidget", Placement::GridCell, "gridLayout", {0, 0, 0, 0}, "", 0, {100, 100}, kDefaultSize, Policy::ClassDefault, ""},
    {"groupBox_2", "QGroupBox", "widget", Placement::Geometry, "", {10, 220, 211, 241}, "传感器信息", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_10", "QLabel", "groupBox_2", Placement::Geometry, "", {10, 170, 90, 19}, " 采集时间：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"layoutWidget_2", "QWidget", "groupBox_2", Placement::Geometry, "", {10, 200, 181, 31}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_10", "QGridLayout", "layoutWidget_2", Placement::LayoutOf, "layoutWidget_2", {0, 0, 0, 0}, "", kMarginsZero, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"scan_button_2", "QPushButton", "layoutWidget_2", Placement::GridCell, "gridLayout_10", {0, 1, 0, 0}, "停止采集", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"connect_button_2", "QPushButton", "layoutWidget_2", Placement::GridCell, "gridLayout_10", {0, 0, 0, 0}, "开始采集", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"layoutWidget", "QWidget", "groupBox_2", Placement::Geometry, "", {90, 160, 101, 40}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_11", "QGridLayout", "layoutWidget", Placement::LayoutOf, "layoutWidget", {0, 0, 0, 0}, "", kMarginsZero, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_time", "QLineEdit", "layoutWidget", Placement::GridCell, "gridLayout_11", {0, 1, 0, 0}, "1", kCentred, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_14", "QLabel", "layoutWidget", Placement::GridCell, "gridLayout_11", {0, 2, 0, 0}, "s", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"layoutWidget1", "QWidget", "groupBox_2", Placement::Geometry, "", {13, 21, 181, 141}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_4", "QGridLayout", "layoutWidget1", Placement::LayoutOf, "layoutWidget1", {0, 0, 0, 0}, "", kMarginsZero, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_6", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {0, 0, 0, 0}, " 当前从机地址：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"device_address", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {0, 1, 0, 0}, "None", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_12", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {1, 0, 0, 0}, " 报警状态位：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"alarm_status", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {1, 1, 0, 0}, "None", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_8", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {2, 0, 0, 0}, " 温度：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"tem_value", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {2, 1, 0, 0}, "None", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_37", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {3, 0, 0, 0}, " 湿度：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"hum_vallue", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {3, 1, 0, 0}, "None", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_52", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {4, 0, 0, 0}, " 烟雾：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"smoke_vallue", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {4, 1, 0, 0}, "0PPM", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_53", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {5, 0, 0, 0}, " 烟雾AD值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"smoke_ad_value", "QLabel", "layoutWidget1", Placement::GridCell, "gridLayout_4", {5, 1, 0, 0}, "0", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"groupBox", "QGroupBox", "widget", Placement::Geometry, "", {10, 10, 211, 201}, "串口设置", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"layoutWidget2", "QWidget", "groupBox", Placement::Geometry, "", {10, 160, 181, 31}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_6", "QGridLayout", "layoutWidget2", Placement::LayoutOf, "layoutWidget2", {0, 0, 0, 0}, "", kMarginsZero, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"connect_button", "QPushButton", "layoutWidget2", Placement::GridCell, "gridLayout_6", {0, 0, 0, 0}, "打开串口", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"scan_button", "QPushButton", "layoutWidget2", Placement::GridCell, "gridLayout_6", {0, 1, 0, 0}, "扫描传感器", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"layoutWidget3", "QWidget", "groupBox", Placement::Geometry, "", {11, 20, 56, 141}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_8", "QGridLayout", "layoutWidget3", Placement::LayoutOf, "layoutWidget3", {0, 0, 0, 0}, "", kMarginsZero, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label", "QLabel", "layoutWidget3", Placement::GridCell, "gridLayout_8", {0, 0, 0, 0}, " 端口号：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_2", "QLabel", "layoutWidget3", Placement::GridCell, "gridLayout_8", {1, 0, 0, 0}, " 波特率：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_3", "QLabel", "layoutWidget3", Placement::GridCell, "gridLayout_8", {2, 0, 0, 0}, " 数据位：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_4", "QLabel", "layoutWidget3", Placement::GridCell, "gridLayout_8", {3, 0, 0, 0}, " 校验位：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_5", "QLabel", "layoutWidget3", Placement::GridCell, "gridLayout_8", {4, 0, 0, 0}, " 停止位：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"layoutWidget4", "QWidget", "groupBox", Placement::Geometry, "", {71, 20, 121, 141}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_9", "QGridLayout", "layoutWidget4", Placement::LayoutOf, "layoutWidget4", {0, 0, 0, 0}, "", kMarginsZero, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"com_port", "QComboBox", "layoutWidget4", Placement::GridCell, "gridLayout_9", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"baud_rate", "QComboBox", "layoutWidget4", Placement::GridCell, "gridLayout_9", {1, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"data_bit", "QComboBox", "layoutWidget4", Placement::GridCell, "gridLayout_9", {2, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"parity_bit", "QComboBox", "layoutWidget4", Placement::GridCell, "gridLayout_9", {3, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"stop_bit", "QComboBox", "layoutWidget4", Placement::GridCell, "gridLayout_9", {4, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"widget_2", "QWidget", "tab_7", Placement::Geometry, "", {230, 10, 359, 461}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"groupBox_3", "QGroupBox", "widget_2", Placement::Geometry, "", {0, 0, 351, 111}, "日志信息", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"textEdit", "QTextEdit", "groupBox_3", Placement::Geometry, "", kLogPaneBox, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_16", "QLabel", "groupBox_3", Placement::Geometry, "", {10, 90, 61, 16}, "已发送：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"lable_send_counter", "QLabel", "groupBox_3", Placement::Geometry, "", {60, 90, 81, 16}, "0 ", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_29", "QLabel", "groupBox_3", Placement::Geometry, "", {160, 90, 61, 16}, "已接收：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"lable_receive_counter_2", "QLabel", "groupBox_3", Placement::Geometry, "", {210, 90, 81, 16}, "0", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"groupBox_4", "QGroupBox", "widget_2", Placement::Geometry, "", {0, 120, 351, 331}, "传感器寄存器操作", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"layoutWidget5", "QWidget", "groupBox_4", Placement::Geometry, "", {10, 22, 81, 301}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_3", "QGridLayout", "layoutWidget5", Placement::LayoutOf, "layoutWidget5", {0, 0, 0, 0}, "", kMarginsZero, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_42", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {9, 0, 0, 0}, " 烟雾偏移值：", 0, {70, 0}, {80, kUnlimited}, Policy::ClassDefault, ""},
    {"label_24", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {6, 0, 0, 0}, " 上传时间：", 0, {70, 0}, {80, kUnlimited}, Policy::ClassDefault, ""},
    {"label_22", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {4, 0, 0, 0}, " 波特率：", 0, {70, 0}, {80, kUnlimited}, Policy::ClassDefault, ""},
    {"label_28", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {8, 0, 0, 0}, " 湿度偏移值：", 0, {70, 0}, {80, kUnlimited}, Policy::ClassDefault, ""},
    {"label_20", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {2, 0, 0, 0}, " 通讯模式：", 0, {70, 0}, {80, kUnlimited}, Policy::ClassDefault, ""},
    {"label_21", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {3, 0, 0, 0}, " 测点总数：", 0, {70, 0}, {80, kUnlimited}, Policy::ClassDefault, ""},
    {"label_19", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {1, 0, 0, 0}, " 设备地址：", 0, {70, 0}, {80, kUnlimited}, Policy::ClassDefault, ""},
    {"label_23", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {5, 0, 0, 0}, " 协议类型：", 0, {70, 0}, {80, kUnlimited}, Policy::MaximumPreferred, ""},
    {"label_18", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {0, 0, 0, 0}, " 型号编码：", 0, {70, 0}, {80, kUnlimited}, Policy::ClassDefault, ""},
    {"label_25", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {7, 0, 0, 0}, " 温度偏移值：", 0, {70, 0}, {80, kUnlimited}, Policy::ClassDefault, ""},
    {"label_50", "QLabel", "layoutWidget5", Placement::GridCell, "gridLayout_3", {10, 0, 0, 0}, " 烟雾报警值：", 0, {70, 0}, {80, kUnlimited}, Policy::ClassDefault, ""},
    {"layoutWidget6", "QWidget", "groupBox_4", Placement::Geometry, "", kEntryColumnBox, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_5", "QGridLayout", "layoutWidget6", Placement::LayoutOf, "layoutWidget6", {0, 0, 0, 0}, "", kMarginsZero, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"lineEdit_serial_number", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, "型号编码"},
    {"read_serial_number", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {0, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_serial_number", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {0, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"lineEdit_device_address", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {1, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, "设备地址"},
    {"read_device_address", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {1, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_device_address", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {1, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"lineEdit_communication_mode", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {2, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, "通讯模式"},
    {"read_communication_mode", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {2, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_communication_mode", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {2, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"lineEdit_test_amount", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {3, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, "测点总数"},
    {"read_test_amount", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {3, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_test_amount", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {3, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"lineEdit_baud_rate", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {4, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, "波特率编码： 1 为 2400; 2 为 4800;3 为\n9600;4 为 19200;5 为 38400;6 为 115200。"},
    {"read_baud_rate", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {4, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_baud_rate", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {4, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"lineEdit_protocol_type", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {5, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, "协议类型"},
    {"read_protocol_data", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {5, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_protocol_data", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {5, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"lineEdit_update_time", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {6, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, "上传时间间隔"},
    {"read_update_time", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {6, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_update_time", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {6, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"lineEdit_tem_offset_value", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {7, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, "传感器偏移值"},
    {"read_tem_offset", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {7, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_tem_offset", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {7, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"lineEdit_hum_offset_value", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {8, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, "传感器偏移值"},
    {"read_hum_offset", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {8, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_hum_offset", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {8, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"lineEdit_smoke_offset", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {9, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, "传感器偏移值"},
    {"read_smoke_offset", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {9, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_smoke_offset", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {9, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"lineEdit_smoke_warning", "QLineEdit", "layoutWidget6", Placement::GridCell, "gridLayout_5", {10, 0, 0, 0}, "", kOwnToolTip, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"read_smoke_warning", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {10, 1, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"write_smoke_warning", "QPushButton", "layoutWidget6", Placement::GridCell, "gridLayout_5", {10, 2, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::PreferredPreferred, ""},
    {"layoutWidget7", "QWidget", "groupBox_4", Placement::Geometry, "", {250, 20, 102, 301}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_7", "QGridLayout", "layoutWidget7", Placement::LayoutOf, "layoutWidget7", {0, 0, 0, 0}, "", kMarginsZero, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_7", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {0, 0, 0, 0}, "范围 0-65535", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"label_27", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {7, 0, 0, 0}, "范围 负1000-1000", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"label_30", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {8, 0, 0, 0}, "范围 负2000-2000", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"label_51", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {10, 0, 0, 0}, "范围 0-5000", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"label_11", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {2, 0, 0, 0}, "范围 1-2", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"label_15", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {4, 0, 0, 0}, "范围 1-6", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"label_26", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {6, 0, 0, 0}, "范围 0-36000", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"label_13", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {3, 0, 0, 0}, "范围 0-250", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"label_49", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {9, 0, 0, 0}, "范围 负1000-1000", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"label_9", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {1, 0, 0, 0}, "范围 1-249", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"label_17", "QLabel", "layoutWidget7", Placement::GridCell, "gridLayout_7", {5, 0, 0, 0}, "范围 1-3", 0, {100, 0}, {100, kUnlimited}, Policy::ClassDefault, ""},
    {"tab_8", "QWidget", "", Placement::TabPage, "tabWidget", {1, 0, 0, 0}, "曲线显示", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"graphicsView", QChartView::staticMetaObject.className(), "tab_8", Placement::Geometry, "", {10, 10, 551, 381}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"wind_speed_buffer", "QLabel", "tab_8", Placement::Geometry, "", {200, 360, 111, 16}, "温度：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"wind_speed_buffer_2", "QLabel", "tab_8", Placement::Geometry, "", {310, 360, 111, 16}, "湿度：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"tab", "QWidget", "", Placement::TabPage, "tabWidget", {2, 0, 0, 0}, "参数设置", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"groupBox_5", "QGroupBox", "tab", Placement::Geometry, "", {10, 190, 561, 131}, "烟雾输出参数设置", kSmokeOutputGroupFlags, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_18", "QGridLayout", "groupBox_5", Placement::LayoutOf, "groupBox_5", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"horizontalLayout_2", "QHBoxLayout", "", Placement::GridCell, "gridLayout_18", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_2", "QGridLayout", "", Placement::BoxItem, "horizontalLayout_2", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_38", "QLabel", "groupBox_5", Placement::GridCell, "gridLayout_2", {0, 0, 0, 0}, "电压PWM最小值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_smoke_v_min", "QLineEdit", "groupBox_5", Placement::GridCell, "gridLayout_2", {0, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_33", "QLabel", "groupBox_5", Placement::GridCell, "gridLayout_2", {1, 0, 0, 0}, "电压PWM最大值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_smoke_v_max", "QLineEdit", "groupBox_5", Placement::GridCell, "gridLayout_2", {1, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_31", "QLabel", "groupBox_5", Placement::GridCell, "gridLayout_2", {2, 0, 0, 0}, "电流PWM最小值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_smoke_c_min", "QLineEdit", "groupBox_5", Placement::GridCell, "gridLayout_2", {2, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_35", "QLabel", "groupBox_5", Placement::GridCell, "gridLayout_2", {3, 0, 0, 0}, "电流PWM最大值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_smoke_c_max", "QLineEdit", "groupBox_5", Placement::GridCell, "gridLayout_2", {3, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_15", "QGridLayout", "", Placement::BoxItem, "horizontalLayout_2", {1, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_smoke_v_min", "QPushButton", "groupBox_5", Placement::GridCell, "gridLayout_15", {0, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_smoke_v_min", "QPushButton", "groupBox_5", Placement::GridCell, "gridLayout_15", {0, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_smoke_v_max", "QPushButton", "groupBox_5", Placement::GridCell, "gridLayout_15", {1, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_smoke_v_max", "QPushButton", "groupBox_5", Placement::GridCell, "gridLayout_15", {1, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_smoke_c_min", "QPushButton", "groupBox_5", Placement::GridCell, "gridLayout_15", {2, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_smoke_c_min", "QPushButton", "groupBox_5", Placement::GridCell, "gridLayout_15", {2, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_smoke_c_max", "QPushButton", "groupBox_5", Placement::GridCell, "gridLayout_15", {3, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_smoke_c_max", "QPushButton", "groupBox_5", Placement::GridCell, "gridLayout_15", {3, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_16", "QGridLayout", "", Placement::BoxItem, "horizontalLayout_2", {2, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_45", "QLabel", "groupBox_5", Placement::GridCell, "gridLayout_16", {0, 0, 0, 0}, "范围 0-10000", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_41", "QLabel", "groupBox_5", Placement::GridCell, "gridLayout_16", {1, 0, 0, 0}, "范围 0-10000", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_47", "QLabel", "groupBox_5", Placement::GridCell, "gridLayout_16", {2, 0, 0, 0}, "范围 0-10000", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_48", "QLabel", "groupBox_5", Placement::GridCell, "gridLayout_16", {3, 0, 0, 0}, "范围 0-10000", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"groupBox_6", "QGroupBox", "tab", Placement::Geometry, "", {10, 330, 561, 131}, "湿度参数设置", kDisabled, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_19", "QGridLayout", "groupBox_6", Placement::LayoutOf, "groupBox_6", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"horizontalLayout", "QHBoxLayout", "", Placement::GridCell, "gridLayout_19", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_14", "QGridLayout", "", Placement::BoxItem, "horizontalLayout", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_hum_v_max", "QLineEdit", "groupBox_6", Placement::GridCell, "gridLayout_14", {1, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_hum_c_min", "QLineEdit", "groupBox_6", Placement::GridCell, "gridLayout_14", {2, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_hum_v_min", "QLineEdit", "groupBox_6", Placement::GridCell, "gridLayout_14", {0, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_34", "QLabel", "groupBox_6", Placement::GridCell, "gridLayout_14", {1, 0, 0, 0}, "电压PWM最大值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_32", "QLabel", "groupBox_6", Placement::GridCell, "gridLayout_14", {2, 0, 0, 0}, "电流PWM最小值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_hum_c_max", "QLineEdit", "groupBox_6", Placement::GridCell, "gridLayout_14", {3, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_39", "QLabel", "groupBox_6", Placement::GridCell, "gridLayout_14", {0, 0, 0, 0}, "电压PWM最小值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_36", "QLabel", "groupBox_6", Placement::GridCell, "gridLayout_14", {3, 0, 0, 0}, "电流PWM最大值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_12", "QGridLayout", "", Placement::BoxItem, "horizontalLayout", {1, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_hum_v_min", "QPushButton", "groupBox_6", Placement::GridCell, "gridLayout_12", {0, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_hum_v_min", "QPushButton", "groupBox_6", Placement::GridCell, "gridLayout_12", {0, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_hum_v_max", "QPushButton", "groupBox_6", Placement::GridCell, "gridLayout_12", {1, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_hum_v_max", "QPushButton", "groupBox_6", Placement::GridCell, "gridLayout_12", {1, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_hum_c_min", "QPushButton", "groupBox_6", Placement::GridCell, "gridLayout_12", {2, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_hum_c_min", "QPushButton", "groupBox_6", Placement::GridCell, "gridLayout_12", {2, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_hum_c_max", "QPushButton", "groupBox_6", Placement::GridCell, "gridLayout_12", {3, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_hum_c_max", "QPushButton", "groupBox_6", Placement::GridCell, "gridLayout_12", {3, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_13", "QGridLayout", "", Placement::BoxItem, "horizontalLayout", {2, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_44", "QLabel", "groupBox_6", Placement::GridCell, "gridLayout_13", {0, 0, 0, 0}, "范围 0-10000", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_40", "QLabel", "groupBox_6", Placement::GridCell, "gridLayout_13", {1, 0, 0, 0}, "范围 0-10000", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_46", "QLabel", "groupBox_6", Placement::GridCell, "gridLayout_13", {2, 0, 0, 0}, "范围 0-10000", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_43", "QLabel", "groupBox_6", Placement::GridCell, "gridLayout_13", {3, 0, 0, 0}, "范围 0-10000", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"groupBox_7", "QGroupBox", "tab", Placement::Geometry, "", {10, 10, 561, 173}, "烟雾参数设置", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_22", "QGridLayout", "groupBox_7", Placement::LayoutOf, "groupBox_7", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_20", "QGridLayout", "", Placement::GridCell, "gridLayout_22", {0, 0, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_55", "QLabel", "groupBox_7", Placement::GridCell, "gridLayout_20", {0, 0, 0, 0}, "AD最小值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_ad_min", "QLineEdit", "groupBox_7", Placement::GridCell, "gridLayout_20", {0, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_56", "QLabel", "groupBox_7", Placement::GridCell, "gridLayout_20", {1, 0, 0, 0}, "AD最大值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_ad_max", "QLineEdit", "groupBox_7", Placement::GridCell, "gridLayout_20", {1, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_57", "QLabel", "groupBox_7", Placement::GridCell, "gridLayout_20", {2, 0, 0, 0}, "RANGE最小值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_range_min", "QLineEdit", "groupBox_7", Placement::GridCell, "gridLayout_20", {2, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_58", "QLabel", "groupBox_7", Placement::GridCell, "gridLayout_20", {3, 0, 0, 0}, "RANGE最大值：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_range_max", "QLineEdit", "groupBox_7", Placement::GridCell, "gridLayout_20", {3, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_63", "QLabel", "groupBox_7", Placement::GridCell, "gridLayout_20", {4, 0, 0, 0}, "信号输出类型：", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"line_edit_output_change", "QLineEdit", "groupBox_7", Placement::GridCell, "gridLayout_20", {4, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_21", "QGridLayout", "", Placement::GridCell, "gridLayout_22", {0, 1, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_ad_min", "QPushButton", "groupBox_7", Placement::GridCell, "gridLayout_21", {0, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_ad_min", "QPushButton", "groupBox_7", Placement::GridCell, "gridLayout_21", {0, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_ad_max", "QPushButton", "groupBox_7", Placement::GridCell, "gridLayout_21", {1, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_ad_max", "QPushButton", "groupBox_7", Placement::GridCell, "gridLayout_21", {1, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_range_min", "QPushButton", "groupBox_7", Placement::GridCell, "gridLayout_21", {2, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_range_min", "QPushButton", "groupBox_7", Placement::GridCell, "gridLayout_21", {2, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_range_max", "QPushButton", "groupBox_7", Placement::GridCell, "gridLayout_21", {3, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_range_max", "QPushButton", "groupBox_7", Placement::GridCell, "gridLayout_21", {3, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"read_output_change", "QPushButton", "groupBox_7", Placement::GridCell, "gridLayout_21", {4, 0, 0, 0}, "读出", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"write_output_change", "QPushButton", "groupBox_7", Placement::GridCell, "gridLayout_21", {4, 1, 0, 0}, "写入", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"gridLayout_23", "QGridLayout", "", Placement::GridCell, "gridLayout_22", {0, 2, 0, 0}, "", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_59", "QLabel", "groupBox_7", Placement::GridCell, "gridLayout_23", {0, 0, 0, 0}, "范围 0-4095", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_61", "QLabel", "groupBox_7", Placement::GridCell, "gridLayout_23", {2, 0, 0, 0}, "范围 0-5000", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_60", "QLabel", "groupBox_7", Placement::GridCell, "gridLayout_23", {1, 0, 0, 0}, "范围 0-4095", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_62", "QLabel", "groupBox_7", Placement::GridCell, "gridLayout_23", {3, 0, 0, 0}, "范围 0-5000", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
    {"label_64", "QLabel", "groupBox_7", Placement::GridCell, "gridLayout_23", {4, 0, 0, 0}, "范围 0-3", 0, kDefaultSize, kDefaultSize, Policy::ClassDefault, ""},
};
// clang-format on

constexpr int kFormObjectCount = int(sizeof kFormObjects / sizeof kFormObjects[0]);

}  // namespace form
