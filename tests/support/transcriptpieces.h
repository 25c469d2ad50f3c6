#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

// The transcript as (text, colour) pieces, in document order.
struct Piece {
    QString text;
    QColor colour;
    bool operator==(const Piece& other) const
    {
        return text == other.text && colour == other.colour;
    }
};

// Shows a piece in a failed comparison.
inline char* toString(const Piece& piece)
{
    return QTest::toString(QStringLiteral("\"%1\" in %2").arg(piece.text, piece.colour.name()));
}

inline QList<Piece> piecesOf(const QTextDocument& document)
{
    QList<Piece> pieces;
    for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            pieces.append({fragment.text(), fragment.charFormat().foreground().color()});
        }
    }
    return pieces;
}

inline const QColor kBlue(0, 0, 255);
inline const QColor kBlack(0, 0, 0);
