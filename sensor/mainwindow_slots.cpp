// The window's slots for the sensor operations: each hands over to the table-driven logic.
#include "app/mainwindow.h"
#include "sensor/acquisition.h"
#include "sensor/mainloop.h"
#include "sensor/profilesession.h"
#include "sensor/registerbuttons.h"
#include "sensor/sharedstate.h"
#include "transport/serial.h"

void MainWindow::main_loop() {
    runMainLoop(*ui, [this](const PresentedJob &job) {
        keepSample(job.sample);
        profile->jobPresented(job.resultCode);
    });
}

void MainWindow::on_scan_button_clicked() {
    if (!profile->refusesPress())
        requestScan(*ui, *serialPort);
}

void MainWindow::on_connect_button_2_clicked() {
    if (!profile->refusesPress())
        startAcquisition(*ui, *serialPort);
}

void MainWindow::readButton(std::uint32_t readCode) {
    if (!profile->refusesPress())
        requestRead(readCode);
}

void MainWindow::writeButton(std::uint32_t writeCode) {
    if (!profile->refusesPress())
        requestWrite(*ui, writeCode);
}

void MainWindow::on_scan_button_2_clicked() {
    stopAcquisition(*ui);
}

// clang-format off
void MainWindow::on_read_device_address_clicked() { readButton(ScanDevice); }
void MainWindow::on_write_device_address_clicked() { writeButton(WriteDeviceAddress); }
void MainWindow::on_read_serial_number_clicked() { readButton(ReadSerialNumber); }
void MainWindow::on_write_serial_number_clicked() { writeButton(WriteSerialNumber); }
void MainWindow::on_read_test_amount_clicked() { readButton(ReadTestAmount); }
void MainWindow::on_write_test_amount_clicked() { writeButton(WriteTestAmount); }
void MainWindow::on_read_baud_rate_clicked() { readButton(ReadBaudRate); }
void MainWindow::on_write_baud_rate_clicked() { writeButton(WriteBaudRate); }
void MainWindow::on_read_communication_mode_clicked() { readButton(ReadCommunicationMode); }
void MainWindow::on_write_communication_mode_clicked() { writeButton(WriteCommunicationMode); }
void MainWindow::on_read_protocol_data_clicked() { readButton(ReadProtocolType); }
void MainWindow::on_write_protocol_data_clicked() { writeButton(WriteProtocolType); }
void MainWindow::on_read_update_time_clicked() { readButton(ReadUpdateTime); }
void MainWindow::on_write_update_time_clicked() { writeButton(WriteUpdateTime); }
void MainWindow::on_read_smoke_offset_clicked() { readButton(ReadSmokeOffset); }
void MainWindow::on_write_smoke_offset_clicked() { writeButton(WriteSmokeOffset); }
void MainWindow::on_read_tem_offset_clicked() { readButton(ReadTemOffset); }
void MainWindow::on_write_tem_offset_clicked() { writeButton(WriteTemOffset); }
void MainWindow::on_read_hum_offset_clicked() { readButton(ReadHumOffset); }
void MainWindow::on_write_hum_offset_clicked() { writeButton(WriteHumOffset); }
void MainWindow::on_read_ad_max_clicked() { readButton(ReadAdMax); }
void MainWindow::on_write_ad_max_clicked() { writeButton(WriteAdMax); }
void MainWindow::on_read_ad_min_clicked() { readButton(ReadAdMin); }
void MainWindow::on_write_ad_min_clicked() { writeButton(WriteAdMin); }
void MainWindow::on_read_range_max_clicked() { readButton(ReadRangeMax); }
void MainWindow::on_write_range_max_clicked() { writeButton(WriteRangeMax); }
void MainWindow::on_read_range_min_clicked() { readButton(ReadRangeMin); }
void MainWindow::on_write_range_min_clicked() { writeButton(WriteRangeMin); }
void MainWindow::on_read_output_change_clicked() { readButton(ReadOutputChange); }
void MainWindow::on_write_output_change_clicked() { writeButton(WriteOutputChange); }
void MainWindow::on_read_smoke_warning_clicked() { readButton(ReadSmokeWarning); }
void MainWindow::on_write_smoke_warning_clicked() { writeButton(WriteSmokeWarning); }

#ifndef SENSOR_WORKBENCH_BASIC
void MainWindow::on_read_smoke_v_max_clicked() { readButton(ReadSmokeVMax); }
void MainWindow::on_write_smoke_v_max_clicked() { writeButton(WriteSmokeVMax); }
void MainWindow::on_read_smoke_v_min_clicked() { readButton(ReadSmokeVMin); }
void MainWindow::on_write_smoke_v_min_clicked() { writeButton(WriteSmokeVMin); }
void MainWindow::on_read_smoke_c_max_clicked() { readButton(ReadSmokeCMax); }
void MainWindow::on_write_smoke_c_max_clicked() { writeButton(WriteSmokeCMax); }
void MainWindow::on_read_smoke_c_min_clicked() { readButton(ReadSmokeCMin); }
void MainWindow::on_write_smoke_c_min_clicked() { writeButton(WriteSmokeCMin); }
#endif
// clang-format on
