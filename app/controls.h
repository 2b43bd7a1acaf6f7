#pragma once

// The window's control kinds. Each kind is a class of its own so that code that treats
// kinds differently (the flat styling above all) can tell them apart by class, as it would
// tell a panel from a label. Every control carries an integer Tag in the dynamic property
// "Tag" (0 when unset).

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QKeySequenceEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QWidget>

int controlTag(const QObject *control);
void setControlTag(QObject *control, int tag);

// The form base class: a top-level window.
class TForm : public QWidget
{
    Q_OBJECT
public:
    explicit TForm(QWidget *parent = nullptr);
};

class TLabel : public QLabel
{
    Q_OBJECT
public:
    explicit TLabel(const QString &caption, QWidget *parent);
};

// A framed text field that may also hold other controls.
class TPanel : public QLabel
{
    Q_OBJECT
public:
    enum TBevelCut { bvNone = 0, bvLowered = 1, bvRaised = 2, bvSpace = 3 };
    explicit TPanel(const QString &caption, QWidget *parent);

    TBevelCut BevelOuter = bvNone;
    TBevelCut BevelInner = bvLowered;
    int BevelWidth = 1;
    int BorderWidth = 0;
    bool Ctl3D = false;
    void setColor(const QColor &color);
    QColor color() const;
};

// A raised line along the top edge (a light line over a shadow line).
class TBevel : public QFrame
{
    Q_OBJECT
public:
    explicit TBevel(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};

class TGroupBox : public QGroupBox
{
    Q_OBJECT
public:
    TGroupBox(const QString &caption, QWidget *parent);
    bool Ctl3D = true;
};

// A push button.
class TButton : public QPushButton
{
    Q_OBJECT
public:
    TButton(const QString &caption, QWidget *parent);
};

// A push button with a glyph strip of NumGlyphs images side by side beside its caption;
// Layout, Spacing and Margin place them as on a speed button.
class TBitBtn : public TButton
{
    Q_OBJECT
public:
    TBitBtn(const QString &caption, QWidget *parent);

    void setGlyph(const QPixmap &strip, int numGlyphs);
    const QPixmap &Glyph() const { return FGlyph; }
    int NumGlyphs() const { return FNumGlyphs; }

    int Layout = 0;
    int Spacing = 4;
    int Margin = -1;

private:
    QPixmap FGlyph;
    int FNumGlyphs = 1;
};

// Two small arrow buttons stacked on each other that step Position between Min and Max;
// the upper half steps up. It follows the pointer even with no button held, so that the
// half under the pointer can be shown hot.
class TUpDown : public QWidget
{
    Q_OBJECT
public:
    explicit TUpDown(QWidget *parent);
    int Min = 0;
    int Max = 100;
    int Position() const { return FPosition; }
    void setPosition(int value);

signals:
    void changed(int position);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    int FPosition = 0;
};

// A field that takes a key combination. It keeps a two-pixel ring around its input line
// where its border is drawn.
class THotKey : public QKeySequenceEdit
{
    Q_OBJECT
public:
    explicit THotKey(QWidget *parent);
};

// A button that never takes the focus, with a glyph strip of NumGlyphs images side by
// side (up, disabled, pressed, latched) drawn beside its caption.
class TSpeedButton : public QToolButton
{
    Q_OBJECT
public:
    enum TButtonLayout { blGlyphLeft = 0, blGlyphRight = 1, blGlyphTop = 2, blGlyphBottom = 3 };
    TSpeedButton(const QString &caption, QWidget *parent);

    // `hiDpiStrip`, when given, is the same strip drawn at twice the size with a device pixel
    // ratio of 2; screens scaled above 1 draw from it.
    void setGlyph(const QPixmap &strip, int numGlyphs, const QPixmap &hiDpiStrip = QPixmap());
    const QPixmap &Glyph() const { return FGlyph; }
    // The strip to draw at `pixelRatio` device pixels per logical pixel.
    const QPixmap &Glyph(qreal pixelRatio) const
    {
        return pixelRatio > 1 && !FHiDpiGlyph.isNull() ? FHiDpiGlyph : FGlyph;
    }
    int NumGlyphs() const { return FNumGlyphs; }
    // The image for the button's state: the strip's own disabled image where it has one,
    // otherwise a greyed copy of the first.
    QPixmap glyphImage(int index) const { return glyphImage(FGlyph, index); }

    bool Down = false;
    bool Flat = false;
    bool Transparent = false;
    TButtonLayout Layout = blGlyphLeft;
    int Spacing = 4;
    int Margin = -1;

protected:
    void changeEvent(QEvent *event) override;

private:
    void refreshIcon();
    QPixmap glyphImage(const QPixmap &strip, int index) const;
    QPixmap FGlyph;
    QPixmap FHiDpiGlyph;
    int FNumGlyphs = 1;
};

class TCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    TCheckBox(const QString &caption, QWidget *parent);
    bool Ctl3D = true;
};

// A pick-only drop-down list.
class TComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit TComboBox(QWidget *parent);
    bool Ctl3D = true;
};

class TEdit : public QLineEdit
{
    Q_OBJECT
public:
    TEdit(const QString &text, QWidget *parent);
    bool Ctl3D = true;
    enum TBorderStyle { bsNone = 0, bsSingle = 1 };
    TBorderStyle BorderStyle = bsSingle;
    // Change the border and show it: a sunken frame with Ctl3D, a flat one-pixel line
    // without, none at all with bsNone.
    void setCtl3D(bool on);
    void setBorderStyle(TBorderStyle style);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void applyBorder();
};

// A numeric edit with up and down buttons and no bounds. Keys other than digits, '+', '-',
// the decimal separator and control keys are refused with a beep; so is Enter.
class TSpinEdit : public QSpinBox
{
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget *parent);
    // The text read as a whole number; text that does not read as one counts as 0.
    int Value() const;
    void setValue(int value);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    QValidator::State validate(QString &text, int &pos) const override;
    int valueFromText(const QString &text) const override;
    // Plain decimal, as Value() reads it back: the locale's form puts group separators into
    // the lowest value (-2,147,483,648), which would then read as 0.
    QString textFromValue(int value) const override;
};

class TTrackBar : public QSlider
{
    Q_OBJECT
public:
    explicit TTrackBar(QWidget *parent);
};

// A progress bar that can carry a mark across it: a line at a fraction of its length,
// measured as the bar's own position is.
class TProgressBar : public QProgressBar
{
    Q_OBJECT
public:
    explicit TProgressBar(QWidget *parent);
    // 0..1 along the bar (clamped); below 0 or not a number: no mark.
    void setMark(double fraction);
    double mark() const { return FMark; }
    static constexpr int kMarkWidth = 2;
    static const QColor kMarkColor;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double FMark = -1;
};

// A status bar of panels; the last panel runs to the right edge.
class TStatusBar : public QWidget
{
    Q_OBJECT
public:
    explicit TStatusBar(QWidget *parent);
    void addPanel(int width, const QString &text);
    int panelCount() const { return int(FPanels.size()); }
    QString panelText(int index) const;
    void setPanelText(int index, const QString &text);

signals:
    void panelTextChanged(int index, const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Panel { int width; QString text; };
    std::vector<Panel> FPanels;
};
