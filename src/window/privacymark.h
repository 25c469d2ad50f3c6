#pragma once

#include <QLabel>

// The small padlock beside a transfer's remote address: closed when the transfer is
// private and the person's key was checked, open when it goes in the clear, and nothing
// while there is no transfer. Its tooltip and accessible description say the same in words.
class PrivacyMark : public QLabel
{
    Q_OBJECT

public:
    explicit PrivacyMark(QWidget* parent = nullptr);

    // Private; name is whose key was checked, empty for a stranger, outside the address
    // book, whose key nothing vouches for.
    void showPrivate(const QString& name);
    void showPlain();
    void clear();

    // "Private: Anna's key checked", "Private: key not checked" or "Not private".
    static QString privateText(const QString& name);
    static QString plainText();
    // The padlock, closed or open, as wide and high as side pixels.
    static QPixmap padlock(bool closed, int side, qreal pixelRatio);

private:
    void show(bool closed, const QString& text);
};
