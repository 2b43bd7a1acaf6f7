#pragma once

// The device list's texts: what each input is called in CDevices, and what its items carry.

#include <QString>
#include <QStringList>

#include <Qt>

// Item data of CDevices: the server's name of the source, and the item's text without the
// mark of a device that went (what the settings file stores).
inline constexpr int kDeviceNameRole = Qt::UserRole;
inline constexpr int kDeviceTextRole = Qt::UserRole + 1;

// Each description whole; a description met before (ignoring letter case, as a stored choice
// is matched) gets " (2)", " (3)" ..., so that every text names one device. Earlier ones keep
// their texts when more are added at the end.
QStringList uniqueDeviceTexts(const QStringList &descriptions);

// The text of a device whose source went while it was listed.
QString goneDeviceText(const QString &text);
