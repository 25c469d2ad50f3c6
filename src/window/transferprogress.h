#pragma once

#include <QtGlobal>

class QLabel;
class QProgressBar;

// Shows done of size in a panel: the bytes, the whole percentage with " %", and the bar.
void showTransferProgress(QLabel& bytes, QLabel& percent, QProgressBar& bar, qint64 done,
                          qint64 size);
// Sets the value bar shows, to be painted with the window's next paint. A progress bar
// otherwise paints itself at once whenever what it shows changes: a burst of small files,
// each shown whole and then cleared, would paint the window hundreds of times in one turn.
void setBarValue(QProgressBar& bar, int value);
