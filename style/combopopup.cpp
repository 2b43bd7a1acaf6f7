#include "style/combopopup.h"

#include <QApplication>
#include <QPointer>
#include <QProxyStyle>

namespace {

class TComboPopupStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_ComboBox_Popup)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

QStyle *comboPopupBelowStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        style = new TComboPopupStyle(QApplication::style()->name());
        style->setParent(qApp);
    }
    return style;
}
