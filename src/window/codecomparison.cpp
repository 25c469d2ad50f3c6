#include "window/codecomparison.h"

#include "window/windowfont.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{

// Large enough to read from across a desk, beside the window's 8-point text.
constexpr qreal kCodePointSize = 20;
// Groups on a line: 7 groups of 5 digits go on two lines.
constexpr int kGroupsPerLine = 4;

QFont codeFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamilies(
        {QStringLiteral("Liberation Mono"), font.family(), QStringLiteral("monospace")});
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(kCodePointSize);
    font.setBold(true);
    return font;
}

QString inLines(const QString& code)
{
    const QStringList groups = code.split(QLatin1Char(' '));
    QStringList lines;
    for (int first = 0; first < groups.size(); first += kGroupsPerLine)
        lines.append(groups.mid(first, kGroupsPerLine).join(QLatin1Char(' ')));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QDialog* newCodeComparison(const QString& text, const QString& code, QWidget* parent)
{
    auto* dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Compare Codes"));
    auto* layout = new QVBoxLayout(dialog);
    auto* words = new QLabel(text, dialog);
    words->setTextFormat(Qt::PlainText);
    words->setWordWrap(true);
    auto* shown = new QLabel(inLines(code), dialog);
    shown->setTextFormat(Qt::PlainText);
    shown->setFont(codeFont());
    shown->setAlignment(Qt::AlignCenter);
    shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
    shown->setAccessibleName(QStringLiteral("Code"));
    shown->setAccessibleDescription(code);
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* match =
        buttons->addButton(QStringLiteral("They Match"), QDialogButtonBox::YesRole);
    QPushButton* differ =
        buttons->addButton(QStringLiteral("They Differ"), QDialogButtonBox::NoRole);
    QPushButton* later =
        buttons->addButton(QStringLiteral("Not Now"), QDialogButtonBox::RejectRole);
    later->setDefault(true);
    QObject::connect(match, &QPushButton::clicked, dialog,
                     [dialog] { dialog->done(int(Comparison::Match)); });
    QObject::connect(differ, &QPushButton::clicked, dialog,
                     [dialog] { dialog->done(int(Comparison::Differ)); });
    QObject::connect(later, &QPushButton::clicked, dialog,
                     [dialog] { dialog->done(int(Comparison::NotNow)); });
    layout->addWidget(words);
    layout->addSpacing(words->fontMetrics().height());
    layout->addWidget(shown);
    layout->addSpacing(words->fontMetrics().height());
    layout->addWidget(buttons);
    return dialog;
}
