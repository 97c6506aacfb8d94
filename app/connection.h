#pragma once

#include <QStringList>

#include <cstdint>

#include "app/mainwindow.h"

class Serial;

// How long a read waits for its reply at a baud rate: 5 / (baud / 115200) + 10 ms, truncated.
std::uint8_t replyWaitForBaudRate(int baudRate);
constexpr std::uint8_t kReplyWaitWhenClosed = 100;

// Opens the port named in the form at the form's baud rate, always 8-N-1.
void openFromForm(MainWindowForm &ui, Serial &serial);
// The caption and log line of a close; the caller stops acquisition in between.
void beginClosing(MainWindowForm &ui);
void finishClosing(Serial &serial);
// The device went away under an open port: the operator has to close and reopen it.
void reportReleasedPort(MainWindowForm &ui);

// Rebuilds the port selector with these names; the first entry becomes the selection.
void showPortNames(MainWindowForm &ui, const QStringList &names);
