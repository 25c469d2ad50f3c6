#pragma once

#include <QString>
#include <QTime>

// What a person is shown of presence and chat, in the window and on the command line.

// "Anna is online at 09:05": the time of arrival to the minute.
QString onlineNotice(const QString& name, const QTime& arrival);
// The speaker part of a received chat line: "Anna Says: ".
QString receivedLineSpeaker(const QString& name);
// The speaker part of one's own chat line: "You Said: ".
QString ownLineSpeaker();
