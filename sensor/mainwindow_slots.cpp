// Placeholder bodies until the sensor operations land.
#include "app/mainwindow.h"

void MainWindow::main_loop() {}
void MainWindow::on_scan_button_clicked() {}
void MainWindow::on_write_serial_number_clicked() {}
void MainWindow::on_read_serial_number_clicked() {}
void MainWindow::on_write_protocol_data_clicked() {}
void MainWindow::on_read_protocol_data_clicked() {}
void MainWindow::on_write_baud_rate_clicked() {}
void MainWindow::on_read_baud_rate_clicked() {}
void MainWindow::on_write_test_amount_clicked() {}
void MainWindow::on_read_test_amount_clicked() {}
void MainWindow::on_write_communication_mode_clicked() {}
void MainWindow::on_read_communication_mode_clicked() {}
void MainWindow::on_write_device_address_clicked() {}
void MainWindow::on_read_device_address_clicked() {}
void MainWindow::on_read_update_time_clicked() {}
void MainWindow::on_write_update_time_clicked() {}
void MainWindow::on_connect_button_2_clicked() {}
void MainWindow::on_scan_button_2_clicked() {}
void MainWindow::on_read_tem_offset_clicked() {}
void MainWindow::on_write_tem_offset_clicked() {}
void MainWindow::on_read_hum_offset_clicked() {}
void MainWindow::on_write_hum_offset_clicked() {}
void MainWindow::on_read_smoke_offset_clicked() {}
void MainWindow::on_write_smoke_offset_clicked() {}
void MainWindow::on_read_smoke_warning_clicked() {}
void MainWindow::on_write_smoke_warning_clicked() {}
void MainWindow::on_read_ad_min_clicked() {}
void MainWindow::on_write_output_change_clicked() {}
void MainWindow::on_write_ad_min_clicked() {}
void MainWindow::on_read_ad_max_clicked() {}
void MainWindow::on_write_ad_max_clicked() {}
void MainWindow::on_read_range_min_clicked() {}
void MainWindow::on_write_range_min_clicked() {}
void MainWindow::on_read_range_max_clicked() {}
void MainWindow::on_write_range_max_clicked() {}
void MainWindow::on_read_output_change_clicked() {}

#ifndef SENSOR_WORKBENCH_BASIC
void MainWindow::on_read_smoke_v_min_clicked() {}
void MainWindow::on_write_smoke_v_min_clicked() {}
void MainWindow::on_read_smoke_v_max_clicked() {}
void MainWindow::on_write_smoke_v_max_clicked() {}
void MainWindow::on_read_smoke_c_min_clicked() {}
void MainWindow::on_write_smoke_c_min_clicked() {}
void MainWindow::on_read_smoke_c_max_clicked() {}
void MainWindow::on_write_smoke_c_max_clicked() {}
#endif
