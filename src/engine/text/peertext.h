#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Text as a peer sent it: UTF-8 when the bytes are valid UTF-8, otherwise the Windows
// 8-bit text (Windows-1252) that older peers send. What we send is always UTF-8.
QString textFromPeer(const QByteArray& bytes);

// Whether a character shows nothing of its own or changes how the others show: direction
// overrides and isolates, zero-width marks, line and paragraph separators, controls. Text
// from peers holding them could pass itself off as other text ("evil<RLO>txt.exe" shows
// as "evilexe.txt"), so they are left out wherever such text is shown or used as a name.
bool isInvisibleCharacter(char32_t c);
QString withoutInvisibleCharacters(const QString& text);

// Text from a peer as the lines it holds, cut at every line break (LF, CR, CRLF, U+2028,
// U+2029), each without invisible characters.
QStringList shownLines(const QString& text);
// Text from a peer on one line: its lines joined by " | ". Wherever it is printed, it can
// then neither start a line of its own, nor add a field to a tab-separated line, nor move
// the terminal's cursor.
QString shownOnOneLine(const QString& text);
