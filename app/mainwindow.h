#pragma once

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}
// The generated form; its class in the .ui file is MainWindow, which is also the
// translation context of every text on it.
using MainWindowForm = Ui::MainWindow;

class PortListWatcher;
class ProfileSession;
class QAction;
class SampleRecorder;
struct CycleSample;

// Whether this is the reduced window, without the smoke output group.
#ifdef SENSOR_WORKBENCH_BASIC
inline constexpr bool kReducedWindow = true;
#else
inline constexpr bool kReducedWindow = false;
#endif

// The main window. Its slots are bound to the form's widgets by name and delegate to the
// sensor operations; the reduced build (SENSOR_WORKBENCH_BASIC) lacks the eight smoke output
// slots, so that group's buttons have nothing to call.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // How the save actions ask for a file name (caption, suggested path, filter); an empty
    // name is a cancel. A file dialog unless replaced, as the tests do.
    using SaveFileChooser = std::function<QString(const QString &caption, const QString &suggested,
                                                  const QString &filter)>;
    void setSaveFileChooser(SaveFileChooser chooser);
    // How an apply asks for the profile to open, alike; a file dialog unless replaced.
    void setOpenFileChooser(SaveFileChooser chooser);

private slots:
    void main_loop();
    void update_port();
    void update_rs485_data();
    void on_connect_button_clicked();
    void on_scan_button_clicked();
    void on_write_serial_number_clicked();
    void on_read_serial_number_clicked();
    void on_write_protocol_data_clicked();
    void on_read_protocol_data_clicked();
    void on_write_baud_rate_clicked();
    void on_read_baud_rate_clicked();
    void on_write_test_amount_clicked();
    void on_read_test_amount_clicked();
    void on_write_communication_mode_clicked();
    void on_read_communication_mode_clicked();
    void on_write_device_address_clicked();
    void on_read_device_address_clicked();
    void on_read_update_time_clicked();
    void on_write_update_time_clicked();
    void on_connect_button_2_clicked();
    void on_scan_button_2_clicked();
    void on_lineEdit_textEdited(const QString &arg1);
    void on_line_time_textChanged(const QString &arg1);
    void on_line_time_cursorPositionChanged(int arg1, int arg2);
    void on_read_tem_offset_clicked();
    void on_write_tem_offset_clicked();
    void on_read_hum_offset_clicked();
    void on_write_hum_offset_clicked();
    void on_read_smoke_offset_clicked();
    void on_write_smoke_offset_clicked();
    void on_read_smoke_warning_clicked();
    void on_write_smoke_warning_clicked();
    void on_read_ad_min_clicked();
    void on_write_output_change_clicked();
    void on_write_ad_min_clicked();
    void on_read_ad_max_clicked();
    void on_write_ad_max_clicked();
    void on_read_range_min_clicked();
    void on_write_range_min_clicked();
    void on_read_range_max_clicked();
    void on_write_range_max_clicked();
    void on_read_output_change_clicked();
#ifndef SENSOR_WORKBENCH_BASIC
    void on_read_smoke_v_min_clicked();
    void on_write_smoke_v_min_clicked();
    void on_read_smoke_v_max_clicked();
    void on_write_smoke_v_max_clicked();
    void on_read_smoke_c_min_clicked();
    void on_write_smoke_c_min_clicked();
    void on_read_smoke_c_max_clicked();
    void on_write_smoke_c_max_clicked();
#endif

private:
    // Keeping what was measured, from the chart's and the log pane's context menus.
    void setUpKeepingActions();
    void saveChart();
    void saveLog();
    void setRecording(bool on);
    void keepSample(const CycleSample *sample);
    void recordingFailed();

    // Profiles, from the context menu of the parameter tab.
    void setUpProfileActions();
    // The register buttons: refused, with a log line, while a profile holds the command slot.
    void readButton(std::uint32_t readCode);
    void writeButton(std::uint32_t writeCode);

    MainWindowForm *ui;
    // Decides when the serial port list can have changed, so update_port does not enumerate
    // every tick.
    PortListWatcher *portList;
    std::unique_ptr<SampleRecorder> recorder;
    SaveFileChooser chooseSaveFile;
    QAction *recordAction = nullptr;
    SaveFileChooser chooseOpenFile;
    std::unique_ptr<ProfileSession> profile;
};
