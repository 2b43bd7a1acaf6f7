#pragma once

// A window with the main window's control kinds, containers and places, for the styling
// tests: status group with progress bar and framed panels, the button row with glyph speed
// buttons, the file-name row, the settings group with combo boxes, spin edits, check boxes,
// labels and a bevel, the hidden controls, and the status bar.

#include "app/controls.h"
#include "style/XPMenu.h"
#include "style/controlsubclass.h"

#include <QImage>
#include <QPixmap>

#include <memory>

enum class GlyphMotif { Disc, Triangle, Bars, Square, BarTriangle };

// A glyph strip of 16 x 16 images on an olive ground: the motif, and when images is 2 a
// greyed copy beside it.
QPixmap makeGlyph(GlyphMotif motif, int images);

struct TestWindow {
    explicit TestWindow(bool activate = true);
    ~TestWindow();
    void showSettings(bool shown);

    TForm *Form1 = nullptr;
    TGroupBox *GroupBox1 = nullptr;
    TProgressBar *ProgressBar1 = nullptr;
    TPanel *Panel1 = nullptr;
    TPanel *LTimeActive = nullptr;
    TPanel *Panel3 = nullptr;
    TPanel *flsize = nullptr;
    TGroupBox *GroupBox2 = nullptr;
    TTrackBar *CVBRQuality = nullptr;
    TCheckBox *COutFile = nullptr;
    TPanel *TheBlackPanel = nullptr;
    TLabel *LTimeActive2 = nullptr;
    TLabel *MaxLabel = nullptr;
    TEdit *EOutFile = nullptr;
    TButton *BOutFile = nullptr;
    TCheckBox *CTimeStamp = nullptr;
    TStatusBar *StatusBar1 = nullptr;
    TButton *Button2 = nullptr;
    TButton *SpeedButton1 = nullptr;
    TSpeedButton *DFBRecordStart = nullptr;
    TSpeedButton *SpeedButton5 = nullptr;
    TSpeedButton *pasue = nullptr;
    TSpeedButton *stop = nullptr;
    TSpeedButton *cont = nullptr;
    TLabel *Label10 = nullptr;
    TLabel *Label1 = nullptr;
    TComboBox *CDevices = nullptr;
    TComboBox *CSampleRate = nullptr;
    TComboBox *CChannels = nullptr;
    TComboBox *CQuality = nullptr;
    TComboBox *CMode = nullptr;
    TComboBox *CBitrate = nullptr;
    TBevel *Bevel5 = nullptr;
    TButton *Button1 = nullptr;
    TSpinEdit *SpinEdit1 = nullptr;
    TCheckBox *CheckBox1 = nullptr;
    TCheckBox *CheckBox2 = nullptr;
    TSpinEdit *SpinEdit2 = nullptr;
    TLabel *Label9 = nullptr;
    TXPMenu *XPMenu1 = nullptr;
};

// A form holding the controls of one painting test; activate() styles and shows it.
struct Stage {
    explicit Stage(int width = 400, int height = 200);
    template <typename T>
    T *add(T *control, int x, int y, int w, int h)
    {
        control->setGeometry(x, y, w, h);
        return control;
    }
    void activate();
    TControlSubClass &record(QWidget *w);
    TColor formColor() const;

    TForm form;
    TXPMenu *menu = nullptr;
};

// The colour of one pixel of an image as an RGB colour value.
TColor pixelAt(const QImage &image, int x, int y);
QImage grabOf(QWidget *widget);
