#pragma once

#include <QString>

#include <cstdint>
#include <optional>

#include "app/mainwindow.h"

// A read button: posts the register's read code (the device address reads by scanning).
void requestRead(std::uint32_t readCode);
// A write button: posts the value typed beside it, or logs the range message and posts
// nothing when it is no whole decimal number within the register's bounds.
void requestWrite(MainWindowForm &ui, std::uint32_t writeCode);

// The 16-bit pattern to send for a typed value (two's complement below 0), or nothing when the
// text is not a base-10 integer in [minimum, maximum]. Blanks around it and a sign are fine.
std::optional<std::uint16_t> acceptedWriteValue(const QString &text, int minimum, int maximum);
