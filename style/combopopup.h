#pragma once

// The style a styled combo box of ours runs under: its application style, but with the
// list dropping down below the field instead of opening over it as a menu, so the field
// and its open-state button stay in view.

class QStyle;

// One shared instance, released with the application.
QStyle *comboPopupBelowStyle();
