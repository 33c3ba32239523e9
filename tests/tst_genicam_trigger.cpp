// Trigger features of a real GenICam peer, Aravis's fake camera on loopback:
// listed by name through the camera library and set through the settings
// dialog. The fake camera offers a frame trigger (FrameStart) but no line
// trigger.
#include <QCheckBox>
#include <QComboBox>
#include <QtTest>

#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "genicamfakecamera.h"

using namespace genicamtest;

namespace {

QStringList entriesOf(const MVCC_ENUMENTRY_LIST &list)
{
    QStringList names;
    for (unsigned int i = 0; i < list.nSupportedNum; ++i)
        names << QString::fromLatin1(list.chSymbolic[i]);
    names.sort(); // in the order Aravis keeps them, not the camera's description
    return names;
}

} // namespace

class GenicamTriggerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_serial = uniqueSerial();
        const QString reason = unavailableReason(m_serial);
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
        QString why;
        QVERIFY2(m_camera.start(m_serial, why), qPrintable(why));
    }

    void init()
    {
        MV_CC_DEVICE_INFO record;
        QVERIFY(findCamera(m_serial, record));
        QCOMPARE(MV_CC_CreateHandle(&m_handle, &record), MV_OK);
        QCOMPARE(MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0), MV_OK);
    }

    void cleanup()
    {
        MV_CC_CloseDevice(m_handle);
        MV_CC_DestroyHandle(m_handle);
        m_handle = nullptr;
    }

    void entriesAreListedAndSetByName()
    {
        MVCC_ENUMENTRY_LIST list;
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerSelector", &list), MV_OK);
        QCOMPARE(entriesOf(list), QStringList({"AcquisitionStart", "FrameStart"}));
        QCOMPARE(MV_CC_SetEnumValueByString(m_handle, "TriggerSelector", "LineStart"), status(MV_E_RANGE));
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerSource", &list), MV_OK);
        QCOMPARE(entriesOf(list), QStringList({"Line0", "Software"}));
        for (const char *source : {"Software", "Line0"}) {
            QCOMPARE(MV_CC_SetEnumValueByString(m_handle, "TriggerSource", source), MV_OK);
            QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerSource", &list), MV_OK);
            QCOMPARE(QString(list.chCurSymbolic), QString(source));
        }
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "Gain", &list), status(MV_E_TYPE));
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "NoSuchTrigger", &list), status(MV_E_NOTFOUND));
    }

    void frameTriggerIsSetThroughTheDialog()
    {
        ScratchDirectory scratch;
        MainWindow window;
        window.m_handle = m_handle;
        window.m_isOpen = true;
        MessageBoxRecorder boxes;
        {
            settingdialog dialog(&window, &window);
            dialog.show();
            auto *lineTrigger = dialog.findChild<QCheckBox *>("cbLineTrigger");
            auto *frameTrigger = dialog.findChild<QCheckBox *>("cbFrameTrigger");
            auto *source = dialog.findChild<QComboBox *>("cbxFrameTriggerSource");
            QVERIFY(!lineTrigger->isEnabled());
            QVERIFY(lineTrigger->toolTip().startsWith("This camera has no line trigger"));
            QVERIFY(frameTrigger->isEnabled());
            QCOMPARE(dialog.findChild<QComboBox *>("cbxFrameTriggerActivation")->count(), 1);
            QCOMPARE(source->count(), 2);
            source->setFocus();
            const bool below = source->findText("Software") > source->currentIndex();
            QTest::keyClick(source, below ? Qt::Key_Down : Qt::Key_Up);
            QTest::mouseClick(frameTrigger, Qt::LeftButton, Qt::NoModifier,
                              QPoint(6, frameTrigger->height() / 2));
            QCOMPARE(source->currentText(), QString("Software"));
            QVERIFY(frameTrigger->isChecked());
        }
        MVCC_ENUMENTRY_LIST list;
        QCOMPARE(MV_CC_SetEnumValueByString(m_handle, "TriggerSelector", "FrameStart"), MV_OK);
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerMode", &list), MV_OK);
        QCOMPARE(QString(list.chCurSymbolic), QString("On"));
        QCOMPARE(MV_CC_GetEnumEntries(m_handle, "TriggerSource", &list), MV_OK);
        QCOMPARE(QString(list.chCurSymbolic), QString("Software"));
        QVERIFY(boxes.isEmpty());
        window.m_isOpen = false;
        window.m_handle = nullptr;
    }

private:
    FakeCamera m_camera;
    QString m_serial;
    void *m_handle = nullptr;
};

QTEST_MAIN(GenicamTriggerTest)
#include "tst_genicam_trigger.moc"
