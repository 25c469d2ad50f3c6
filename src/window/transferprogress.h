#pragma once

#include <QtGlobal>

class QLabel;
class QProgressBar;

// Shows done of size in a panel: the bytes, the whole percentage with " %", and the bar.
void showTransferProgress(QLabel& bytes, QLabel& percent, QProgressBar& bar, qint64 done,
                          qint64 size);
