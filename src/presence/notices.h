#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

// What a person is shown of presence and chat, in the window and on the command line.

// "Anna is online at 09:05": the time of arrival to the minute.
QString onlineNotice(const QString& name, const QTime& arrival);
// The speaker part of a received chat line: "Anna Says: ".
QString receivedLineSpeaker(const QString& name);
// The speaker part of one's own chat line: "You Said: ".
QString ownLineSpeaker();

// The lines of a chat message as they may be shown. Anyone can send any text, so what
// could reorder or hide text (direction overrides and isolates, zero-width and other
// invisible marks, controls) is left out, and each line break starts a line of its own.
QStringList chatMessageLines(const QString& text);
// What stands before each line of a message after its first: set off so that it cannot be
// mistaken for another speaker's "X Says: ".
QString continuedLineSpeaker();
