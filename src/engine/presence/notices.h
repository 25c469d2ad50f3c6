#pragma once

#include <QList>
#include <QString>
#include <QTime>

// What a person is shown of presence and chat, in the window and on the command line.
// Names are shown as peers' text is, on one line (text/peertext.h).

// "Anna is online at 09:05": the time of arrival to the minute.
QString onlineNotice(const QString& name, const QTime& arrival);
// The speaker part of a received chat line: "Anna Says: ".
QString receivedLineSpeaker(const QString& name);
// The speaker part of one's own chat line: "You Said: ".
QString ownLineSpeaker();

// One line of the chat as it is shown: the speaker part, then the text.
struct ShownLine {
    QString speaker;
    QString text;
};
// A chat message as the lines to show. Anyone can send any text, so what could reorder
// or hide text is left out, and each line break starts a line of its own whose speaker
// part, "    | ", sets it off so that it cannot pass for another speaker's "X Says: ".
QList<ShownLine> shownChatLines(const QString& speaker, const QString& text);

// "12 chat lines from Anna were not shown: too many at once".
QString droppedChatNotice(const QString& name, int count);
