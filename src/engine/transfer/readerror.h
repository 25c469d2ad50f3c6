#pragma once

#include <QFileDevice>
#include <QString>

// Why reading a file that is being sent gave fewer bytes than asked for: the system's
// error, or that the file has become shorter since its size was measured.
QString shortReadText(const QFileDevice& file);
