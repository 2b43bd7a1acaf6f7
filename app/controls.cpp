#include "app/controls.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QStyleOptionProgressBar>
#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

#include <algorithm>
#include <climits>
#include <cmath>

int controlTag(const QObject *control)
{
    return control ? control->property("Tag").toInt() : 0;
}

void setControlTag(QObject *control, int tag)
{
    control->setProperty("Tag", tag);
}

TForm::TForm(QWidget *parent) : QWidget(parent) {}

TLabel::TLabel(const QString &caption, QWidget *parent) : QLabel(caption, parent) {}

TPanel::TPanel(const QString &caption, QWidget *parent) : QLabel(caption, parent)
{
    setAlignment(Qt::AlignCenter);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAutoFillBackground(true);
}

void TPanel::setColor(const QColor &color)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
}

QColor TPanel::color() const
{
    return palette().color(QPalette::Window);
}

TBevel::TBevel(QWidget *parent) : QFrame(parent)
{
    // A raised line along the top edge; the rest of the frame is empty.
    setFrameStyle(QFrame::NoFrame);
}

void TBevel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(0, 0, width() - 1, 0);
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(0, 1, width() - 1, 1);
}

TGroupBox::TGroupBox(const QString &caption, QWidget *parent) : QGroupBox(caption, parent) {}

TButton::TButton(const QString &caption, QWidget *parent) : QPushButton(caption, parent)
{
    setAutoDefault(false);
}

TBitBtn::TBitBtn(const QString &caption, QWidget *parent) : TButton(caption, parent) {}

void TBitBtn::setGlyph(const QPixmap &strip, int numGlyphs)
{
    FGlyph = strip;
    FNumGlyphs = std::max(1, numGlyphs);
    const int w = strip.isNull() ? 0 : strip.width() / FNumGlyphs;
    setIcon(strip.isNull() ? QIcon() : QIcon(strip.copy(0, 0, w, strip.height())));
    setIconSize(QSize(w, strip.height()));
}

TUpDown::TUpDown(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

void TUpDown::setPosition(int value)
{
    value = std::clamp(value, std::min(Min, Max), std::max(Min, Max));
    if (value == FPosition)
        return;
    FPosition = value;
    emit changed(value);
}

void TUpDown::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const int half = height() / 2;
    QStyleOptionButton opt;
    opt.initFrom(this);
    opt.rect = QRect(0, 0, width(), half);
    style()->drawControl(QStyle::CE_PushButtonBevel, &opt, &p, this);
    opt.rect = QRect(0, height() - half, width(), half);
    style()->drawControl(QStyle::CE_PushButtonBevel, &opt, &p, this);
    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = QRect(0, 0, width(), half);
    style()->drawPrimitive(QStyle::PE_IndicatorArrowUp, &arrow, &p, this);
    arrow.rect = QRect(0, height() - half, width(), half);
    style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &arrow, &p, this);
}

void TUpDown::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    setPosition(FPosition + (event->position().y() < height() / 2 ? 1 : -1));
}

THotKey::THotKey(QWidget *parent) : QKeySequenceEdit(parent)
{
    setContentsMargins(2, 2, 2, 2);
    if (auto *line = findChild<QLineEdit *>())
        line->setFrame(false);
}

TSpeedButton::TSpeedButton(const QString &caption, QWidget *parent) : QToolButton(parent)
{
    setText(caption);
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setIconSize(QSize(16, 16));
}

void TSpeedButton::setGlyph(const QPixmap &strip, int numGlyphs, const QPixmap &hiDpiStrip)
{
    FGlyph = strip;
    FHiDpiGlyph = hiDpiStrip;
    FNumGlyphs = qBound(1, numGlyphs, 4);
    refreshIcon();
}

QPixmap TSpeedButton::glyphImage(const QPixmap &strip, int index) const
{
    if (strip.isNull())
        return {};
    const int w = strip.width() / FNumGlyphs;
    if (index < FNumGlyphs)
        return strip.copy(index * w, 0, w, strip.height());
    QPixmap first = strip.copy(0, 0, w, strip.height());
    if (index == 1) {
        QImage img = first.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb p = img.pixel(x, y);
                const int g = (qGray(p) + 2 * 192) / 3;
                img.setPixel(x, y, qRgba(g, g, g, qAlpha(p)));
            }
        img.setDevicePixelRatio(strip.devicePixelRatio());
        return QPixmap::fromImage(img);
    }
    return first;
}

void TSpeedButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        refreshIcon();
    QToolButton::changeEvent(event);
}

void TSpeedButton::refreshIcon()
{
    if (FGlyph.isNull()) {
        setIcon(QIcon());
        return;
    }
    QIcon icon;
    for (const QPixmap *strip : {&FGlyph, &FHiDpiGlyph}) {
        if (strip->isNull())
            continue;
        icon.addPixmap(glyphImage(*strip, 0), QIcon::Normal);
        icon.addPixmap(glyphImage(*strip, 1), QIcon::Disabled);
    }
    setIcon(icon);
}

TCheckBox::TCheckBox(const QString &caption, QWidget *parent) : QCheckBox(caption, parent) {}

TComboBox::TComboBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(false);
}

TEdit::TEdit(const QString &text, QWidget *parent) : QLineEdit(text, parent) {}

void TEdit::setCtl3D(bool on)
{
    Ctl3D = on;
    applyBorder();
}

void TEdit::setBorderStyle(TBorderStyle style)
{
    BorderStyle = style;
    applyBorder();
}

void TEdit::applyBorder()
{
    setFrame(Ctl3D && BorderStyle == bsSingle);
    update();
}

void TEdit::paintEvent(QPaintEvent *event)
{
    QLineEdit::paintEvent(event);
    if (Ctl3D || BorderStyle != bsSingle)
        return;
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

TSpinEdit::TSpinEdit(QWidget *parent) : QSpinBox(parent)
{
    setRange(INT_MIN, INT_MAX);
    setSingleStep(1);
    setKeyboardTracking(true);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
}

int TSpinEdit::Value() const
{
    bool ok = false;
    const int v = lineEdit()->text().trimmed().toInt(&ok);
    return ok ? v : 0;
}

void TSpinEdit::setValue(int value)
{
    QSpinBox::setValue(value);
}

void TSpinEdit::keyPressEvent(QKeyEvent *event)
{
    const QString text = event->text();
    const bool control = text.isEmpty() || text.at(0).category() == QChar::Other_Control;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const QString decimal = QLocale().decimalPoint();
    const bool allowed = !enter
        && (control || (text.size() == 1
                        && (text.at(0).isDigit() || text == QLatin1String("+") || text == QLatin1String("-")
                            || text == decimal)));
    if (!allowed) {
        QApplication::beep();
        event->accept();
        return;
    }
    QSpinBox::keyPressEvent(event);
}

QValidator::State TSpinEdit::validate(QString &, int &) const
{
    // Accept whatever the key filter let through; Value() reads it as a whole number.
    return QValidator::Acceptable;
}

int TSpinEdit::valueFromText(const QString &text) const
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? v : 0;
}

QString TSpinEdit::textFromValue(int value) const
{
    return QString::number(value);
}

TTrackBar::TTrackBar(QWidget *parent) : QSlider(Qt::Horizontal, parent) {}

const QColor TProgressBar::kMarkColor{200, 0, 0};

TProgressBar::TProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setTextVisible(false);
}

void TProgressBar::setMark(double fraction)
{
    const double mark = fraction >= 0 ? std::min(fraction, 1.0) : -1.0;
    if (mark == FMark)
        return;
    FMark = mark;
    update();
}

void TProgressBar::paintEvent(QPaintEvent *event)
{
    QProgressBar::paintEvent(event);
    if (FMark < 0)
        return;
    // Where the style puts the chunk, so that a level at the mark fills the bar up to it.
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    const QRect groove = style()->subElementRect(QStyle::SE_ProgressBarContents, &option, this);
    const int x = groove.left() + int(std::lround(FMark * groove.width())) - kMarkWidth / 2;
    QPainter p(this);
    p.fillRect(QRect(std::clamp(x, groove.left(), groove.right() - kMarkWidth + 1), groove.top(), kMarkWidth,
                     groove.height()),
               kMarkColor);
}

TStatusBar::TStatusBar(QWidget *parent) : QWidget(parent) {}

void TStatusBar::addPanel(int width, const QString &text)
{
    FPanels.push_back({width, text});
    update();
}

QString TStatusBar::panelText(int index) const
{
    return index >= 0 && index < panelCount() ? FPanels[size_t(index)].text : QString();
}

void TStatusBar::setPanelText(int index, const QString &text)
{
    if (index < 0 || index >= panelCount() || FPanels[size_t(index)].text == text)
        return;
    FPanels[size_t(index)].text = text;
    update();
    emit panelTextChanged(index, text);
}

void TStatusBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Button));
    int x = 0;
    for (int i = 0; i < panelCount(); ++i) {
        const bool last = i == panelCount() - 1;
        const int w = last ? width() - x : FPanels[size_t(i)].width;
        const QRect r(x, 2, w - 2, height() - 2);
        qDrawShadePanel(&p, r, palette(), true, 1);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r.adjusted(3, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, FPanels[size_t(i)].text);
        x += w;
    }
}
