#pragma once

#include <QString>

// Texts that may come from a peer (names, addresses, file names, chat lines, error
// details) are shown as they are, never read as markup or as a menu's mnemonic.

// A tooltip that shows text exactly: Qt guesses whether a tooltip is rich text, so the
// text is escaped into rich text that reads as the plain original. Empty stays empty.
QString plainToolTip(const QString& text);
// A notification's body with <, > and & escaped: a notification server may read the body
// as markup, with links and images.
QString notificationBody(const QString& text);
// A menu entry that shows text exactly: '&' would mark the next letter as its shortcut.
QString menuText(const QString& text);
