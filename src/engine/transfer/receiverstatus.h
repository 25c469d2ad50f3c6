#pragma once

#include <QString>

#include <chrono>

// The receiver's words for what ends a connection, the same on either port.
QString nameUnusableStatus();
QString tooLongStatus();
QString noSaveFolderStatus();
// A copy that only listens for chat lines turns a file away.
QString chatOnlyStatus();
QString cannotSaveStatus(const QString& error);
QString notInAddressBookStatus(const QString& peer);
QString idleStatus(std::chrono::milliseconds idleTimeout);
// what did not come within deadline: "file header", "greeting".
QString deadlineStatus(const QString& what, std::chrono::milliseconds deadline);
QString tooSlowStatus(qint64 minProgressBytes, std::chrono::milliseconds window);
QString gaveWayStatus();
