#include "app/boxtext.h"

#include <QApplication>
#include <QFontMetrics>
#include <QScreen>
#include <QTextBoundaryFinder>
#include <QWidget>

#include <algorithm>

namespace {

// Replaces each piece [from, to) that `split` finds and that is wider than `maxWidth`.
template<typename Split>
QString elidePieces(const QString &text, const QFontMetrics &metrics, int maxWidth, Split split)
{
    QString out;
    qsizetype done = 0;
    split([&](qsizetype from, qsizetype to) {
        const QString piece = text.mid(from, to - from);
        if (metrics.horizontalAdvance(piece) <= maxWidth)
            return;
        out += QStringView(text).mid(done, from - done);
        out += metrics.elidedText(piece, Qt::ElideMiddle, maxWidth);
        done = to;
    });
    out += QStringView(text).mid(done);
    return out;
}

} // namespace

QString elideWideNames(const QString &text, const QFontMetrics &metrics, int maxWidth)
{
    // Names first, whole, so that a long one with spaces does not fill the box line by line.
    const QString named = elidePieces(text, metrics, maxWidth, [&](auto piece) {
        for (qsizetype open = text.indexOf(u'“'); open >= 0; open = text.indexOf(u'“', open + 1)) {
            const qsizetype close = text.indexOf(u'”', open + 1);
            if (close < 0)
                return;
            piece(open + 1, close);
            open = close;
        }
    });
    // Then what the box cannot break where Qt's line breaking finds no place to.
    return elidePieces(named, metrics, maxWidth, [&](auto piece) {
        QTextBoundaryFinder lines(QTextBoundaryFinder::Line, named);
        qsizetype from = 0;
        while (lines.toNextBoundary() >= 0) {
            piece(from, lines.position());
            from = lines.position();
        }
    });
}

int boxNameWidth(int screenWidth)
{
    return std::clamp(screenWidth / 2, 100, 500);
}

QString fitBoxText(const QString &text, const QWidget *parent)
{
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return text;
    return elideWideNames(text, QFontMetrics(QApplication::font("QMessageBox")),
                          boxNameWidth(screen->availableGeometry().width()));
}
