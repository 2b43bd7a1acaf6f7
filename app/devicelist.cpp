#include "app/devicelist.h"

#include "app/Form1.h"
#include "audio/AudioIO.h"

#include <QSet>
#include <QSignalBlocker>
#include <QStandardItemModel>

#include <string>

QStringList uniqueDeviceTexts(const QStringList &descriptions)
{
    QStringList texts;
    QSet<QString> taken;
    for (const QString &description : descriptions) {
        QString text = description;
        for (int n = 2; taken.contains(text.toCaseFolded()); ++n)
            text = QStringLiteral("%1 (%2)").arg(description).arg(n);
        taken.insert(text.toCaseFolded());
        texts << text;
    }
    return texts;
}

QString goneDeviceText(const QString &text)
{
    return text + QStringLiteral("（已断开）");
}

void TForm1::FillDeviceList(UINT count)
{
    struct Entry
    {
        QString name;
        QString description;
        MMRESULT state = MMSYSERR_NOERROR;
    };
    std::vector<Entry> entries;
    QStringList descriptions;
    for (UINT id = 0; id < count; ++id) {
        Entry entry;
        WAVEINCAPSA caps{};
        entry.state = waveInGetDevCapsA(id, &caps, sizeof caps);
        entry.name = QString::fromStdString(waveInGetDeviceName(id));
        entry.description = QString::fromStdString(waveInGetDeviceDescription(id));
        if (entry.description.isEmpty())
            entry.description = entry.name;
        // Keeps list positions equal to device numbers; it cannot be chosen.
        if (entry.description.isEmpty())
            entry.description = QStringLiteral("（设备 %1 不可用）").arg(id);
        descriptions << entry.description;
        entries.push_back(entry);
    }
    const QStringList texts = uniqueDeviceTexts(descriptions);

    const QSignalBlocker quiet(CDevices);
    CDevices->clear();
    auto *model = qobject_cast<QStandardItemModel *>(CDevices->model());
    for (UINT id = 0; id < count; ++id) {
        const Entry &entry = entries[id];
        const bool gone = entry.state == MMSYSERR_NODRIVER;
        CDevices->addItem(gone ? goneDeviceText(texts[id]) : texts[id]);
        CDevices->setItemData(int(id), entry.name, kDeviceNameRole);
        CDevices->setItemData(int(id), texts[id], kDeviceTextRole);
        if (entry.state != MMSYSERR_NOERROR && model)
            model->item(int(id))->setEnabled(false);
    }
}

bool TForm1::DeviceInUse() const
{
    return FCapture != TCapture::Idle || AudioIn1->DeviceOpen();
}

void TForm1::RelistDevices(bool keepIds)
{
    const QString chosen = ChosenDeviceName();
    const int index = CDevices->currentIndex();
    const UINT count = waveInRefreshDevices(keepIds, index < 0 ? WAVE_MAPPER : UINT(index));
    // A server that did not answer leaves the list as it was; a later change tries again.
    if (count == 0)
        return;
    FillDeviceList(count);
    int selected = keepIds ? index : CDevices->findData(chosen, kDeviceNameRole, Qt::MatchExactly);
    if (selected < 0 || selected >= CDevices->count())
        selected = 0;
    const QSignalBlocker quiet(CDevices);
    CDevices->setCurrentIndex(selected);
}

void TForm1::DevicesChanged()
{
    if (FDestroyed)
        return;
    // The session, the pre-roll capture and the monitor hold their device by its list
    // position, and compare positions to see whether the choice changed: while one is
    // open, new inputs are added at the end and gone ones only marked.
    const bool inUse = DeviceInUse();
    RelistDevices(inUse);
    FDeviceListUntidy = inUse;
}

void TForm1::TidyDeviceListWhenFree()
{
    if (!FDeviceListUntidy || DeviceInUse() || FDestroyed)
        return;
    FDeviceListUntidy = false;
    RelistDevices(false);
}

QString TForm1::ChosenDeviceName() const
{
    const int index = CDevices->currentIndex();
    return index < 0 ? QString() : CDevices->itemData(index, kDeviceNameRole).toString();
}

QString TForm1::ChosenDeviceText() const
{
    const int index = CDevices->currentIndex();
    return index < 0 ? QString() : CDevices->itemData(index, kDeviceTextRole).toString();
}
