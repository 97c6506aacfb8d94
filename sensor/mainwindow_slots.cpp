// The window's slots for the sensor operations: each hands over to the table-driven logic.
#include "app/mainwindow.h"
#include "sensor/acquisition.h"
#include "sensor/mainloop.h"
#include "sensor/registerbuttons.h"
#include "sensor/sharedstate.h"
#include "transport/serial.h"

void MainWindow::main_loop() {
    runMainLoop(*ui, [this](const CycleSample *sample) { keepSample(sample); });
}

void MainWindow::on_scan_button_clicked() {
    requestScan(*ui, *serialPort);
}

void MainWindow::on_connect_button_2_clicked() {
    startAcquisition(*ui, *serialPort);
}

void MainWindow::on_scan_button_2_clicked() {
    stopAcquisition(*ui);
}

// clang-format off
void MainWindow::on_read_device_address_clicked() { requestRead(ScanDevice); }
void MainWindow::on_write_device_address_clicked() { requestWrite(*ui, WriteDeviceAddress); }
void MainWindow::on_read_serial_number_clicked() { requestRead(ReadSerialNumber); }
void MainWindow::on_write_serial_number_clicked() { requestWrite(*ui, WriteSerialNumber); }
void MainWindow::on_read_test_amount_clicked() { requestRead(ReadTestAmount); }
void MainWindow::on_write_test_amount_clicked() { requestWrite(*ui, WriteTestAmount); }
void MainWindow::on_read_baud_rate_clicked() { requestRead(ReadBaudRate); }
void MainWindow::on_write_baud_rate_clicked() { requestWrite(*ui, WriteBaudRate); }
void MainWindow::on_read_communication_mode_clicked() { requestRead(ReadCommunicationMode); }
void MainWindow::on_write_communication_mode_clicked() { requestWrite(*ui, WriteCommunicationMode); }
void MainWindow::on_read_protocol_data_clicked() { requestRead(ReadProtocolType); }
void MainWindow::on_write_protocol_data_clicked() { requestWrite(*ui, WriteProtocolType); }
void MainWindow::on_read_update_time_clicked() { requestRead(ReadUpdateTime); }
void MainWindow::on_write_update_time_clicked() { requestWrite(*ui, WriteUpdateTime); }
void MainWindow::on_read_smoke_offset_clicked() { requestRead(ReadSmokeOffset); }
void MainWindow::on_write_smoke_offset_clicked() { requestWrite(*ui, WriteSmokeOffset); }
void MainWindow::on_read_tem_offset_clicked() { requestRead(ReadTemOffset); }
void MainWindow::on_write_tem_offset_clicked() { requestWrite(*ui, WriteTemOffset); }
void MainWindow::on_read_hum_offset_clicked() { requestRead(ReadHumOffset); }
void MainWindow::on_write_hum_offset_clicked() { requestWrite(*ui, WriteHumOffset); }
void MainWindow::on_read_ad_max_clicked() { requestRead(ReadAdMax); }
void MainWindow::on_write_ad_max_clicked() { requestWrite(*ui, WriteAdMax); }
void MainWindow::on_read_ad_min_clicked() { requestRead(ReadAdMin); }
void MainWindow::on_write_ad_min_clicked() { requestWrite(*ui, WriteAdMin); }
void MainWindow::on_read_range_max_clicked() { requestRead(ReadRangeMax); }
void MainWindow::on_write_range_max_clicked() { requestWrite(*ui, WriteRangeMax); }
void MainWindow::on_read_range_min_clicked() { requestRead(ReadRangeMin); }
void MainWindow::on_write_range_min_clicked() { requestWrite(*ui, WriteRangeMin); }
void MainWindow::on_read_output_change_clicked() { requestRead(ReadOutputChange); }
void MainWindow::on_write_output_change_clicked() { requestWrite(*ui, WriteOutputChange); }
void MainWindow::on_read_smoke_warning_clicked() { requestRead(ReadSmokeWarning); }
void MainWindow::on_write_smoke_warning_clicked() { requestWrite(*ui, WriteSmokeWarning); }

#ifndef SENSOR_WORKBENCH_BASIC
void MainWindow::on_read_smoke_v_max_clicked() { requestRead(ReadSmokeVMax); }
void MainWindow::on_write_smoke_v_max_clicked() { requestWrite(*ui, WriteSmokeVMax); }
void MainWindow::on_read_smoke_v_min_clicked() { requestRead(ReadSmokeVMin); }
void MainWindow::on_write_smoke_v_min_clicked() { requestWrite(*ui, WriteSmokeVMin); }
void MainWindow::on_read_smoke_c_max_clicked() { requestRead(ReadSmokeCMax); }
void MainWindow::on_write_smoke_c_max_clicked() { requestWrite(*ui, WriteSmokeCMax); }
void MainWindow::on_read_smoke_c_min_clicked() { requestRead(ReadSmokeCMin); }
void MainWindow::on_write_smoke_c_min_clicked() { requestWrite(*ui, WriteSmokeCMin); }
#endif
// clang-format on
