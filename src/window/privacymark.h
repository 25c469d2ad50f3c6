#pragma once

#include <QLabel>

// The small padlock beside a transfer's remote address: closed when the transfer is
// private, open when it goes in the clear, and nothing while there is no transfer. Its
// tooltip and accessible description say in words whose key it was, and whether a person
// compared it.
class PrivacyMark : public QLabel
{
    Q_OBJECT

public:
    explicit PrivacyMark(QWidget* parent = nullptr);

    // Private; name is whose key the peer showed, empty for a stranger, outside the address
    // book, whose key nothing vouches for; compared, whether a person compared that key.
    void showPrivate(const QString& name, bool compared);
    void showPlain();
    void clear();

    // "Private: Anna's key, compared", "Private: Anna's key, not yet compared",
    // "Private: a stranger" or "Not private".
    static QString privateText(const QString& name, bool compared);
    static QString plainText();
    // The padlock, closed or open, as wide and high as side pixels.
    static QPixmap padlock(bool closed, int side, qreal pixelRatio);

private:
    void show(bool closed, const QString& text);
};
