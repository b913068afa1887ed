#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "app/about_dialog.h"
#include "app/settings_dialog.h"
#include "modal_helpers.h"
#include "tests/temp_dir.h"

using quillon::SettingsDialog;
using quillon::testing::WhenModal;

namespace {

// Runs the dialog with the given working values; act plays the user.
int RunDialog(SettingsDialog& dialog, std::function<void(SettingsDialog*)> act) {
    WhenModal<SettingsDialog>(std::move(act));
    return dialog.DoModal();
}

SettingsDialog* Prepared(SettingsDialog& dialog, int port, int rate, std::uint32_t address) {
    dialog.m_comPort = port;
    dialog.m_baudRate = rate;
    dialog.m_startAddress = address;
    dialog.m_bootFolder = "/srv/boot/";
    return &dialog;
}

void ClickOk(SettingsDialog* dialog) {
    dialog->findChild<QPushButton*>("okButton")->click();
}

}  // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void portChoiceComesBackOnOkOnly();
    void portOutsideTheListGivesNoSelection_data();
    void portOutsideTheListGivesNoSelection();
    void ratesKeepTableOrder_data();
    void ratesKeepTableOrder();
    void hiddenValuesPassThroughUnchanged();
    void startAddressTextIsParsedAsHex_data();
    void startAddressTextIsParsedAsHex();
    void portTooltipsNameTheDevices();
    void browsingAppendsOneSeparator();
    void aboutShowsNameVersionAndBuild();
    void enterPressesTheFocusedButton_data();
    void enterPressesTheFocusedButton();
    void labelsShowTheirTextsWhole_data();
    void labelsShowTheirTextsWhole();
};

void SettingsDialogTest::portChoiceComesBackOnOkOnly() {
    SettingsDialog accepted;
    Prepared(accepted, 3, 115200, 0x800001A0);
    QString opened;
    int result = RunDialog(accepted, [&](SettingsDialog* d) {
        auto* ports = d->findChild<QComboBox*>("portList");
        opened = ports->currentText();
        ports->setCurrentIndex(4);
        ClickOk(d);
    });
    QCOMPARE(opened, QStringLiteral("COM3"));
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(accepted.m_comPort, 5);

    SettingsDialog cancelled;
    Prepared(cancelled, 3, 115200, 0x800001A0);
    result = RunDialog(cancelled, [](SettingsDialog* d) {
        d->findChild<QComboBox*>("portList")->setCurrentIndex(4);
        d->findChild<QPushButton*>("cancelButton")->click();
    });
    QCOMPARE(result, int(QDialog::Rejected));
}

void SettingsDialogTest::portOutsideTheListGivesNoSelection_data() {
    QTest::addColumn<int>("port");
    QTest::newRow("zero") << 0;
    QTest::newRow("nine") << 9;
    QTest::newRow("negative") << -1;
}

void SettingsDialogTest::portOutsideTheListGivesNoSelection() {
    QFETCH(int, port);
    SettingsDialog dialog;
    Prepared(dialog, port, 115200, 0);
    int selected = 99;
    QStringList items;
    RunDialog(dialog, [&](SettingsDialog* d) {
        auto* ports = d->findChild<QComboBox*>("portList");
        selected = ports->currentIndex();
        for (int i = 0; i < ports->count(); ++i) {
            items << ports->itemText(i);
        }
        ClickOk(d);
    });
    QCOMPARE(selected, -1);
    QCOMPARE(items, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
    QCOMPARE(dialog.m_comPort, 0);
}

void SettingsDialogTest::ratesKeepTableOrder_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("position");
    QTest::newRow("115200") << 115200 << 5;
    QTest::newRow("921600") << 921600 << 8;
    QTest::newRow("9600") << 9600 << 0;
    QTest::newRow("none of the nine") << 12345 << -1;
}

void SettingsDialogTest::ratesKeepTableOrder() {
    QFETCH(int, rate);
    QFETCH(int, position);
    SettingsDialog dialog;
    Prepared(dialog, 1, rate, 0);
    QStringList items;
    int selected = 99;
    RunDialog(dialog, [&](SettingsDialog* d) {
        auto* rates = d->findChild<QComboBox*>("rateList");
        selected = rates->currentIndex();
        for (int i = 0; i < rates->count(); ++i) {
            items << rates->itemText(i);
        }
        ClickOk(d);
    });
    // Numeric order, which text order ("115200" before "14400") would break.
    QCOMPARE(items, QStringList({"9600", "14400", "19200", "38400", "57600", "115200", "230400",
                                 "460800", "921600"}));
    QCOMPARE(selected, position);
    // A rate the list does not hold comes back as it went in.
    QCOMPARE(dialog.m_baudRate, rate);
}

void SettingsDialogTest::hiddenValuesPassThroughUnchanged() {
    SettingsDialog dialog;
    Prepared(dialog, 2, 115200, 0x800001A0);
    QString addressText, folderText;
    bool hidden = false;
    RunDialog(dialog, [&](SettingsDialog* d) {
        auto* address = d->findChild<QLineEdit*>("startAddressEdit");
        auto* folder = d->findChild<QLineEdit*>("bootFolderEdit");
        addressText = address->text();
        folderText = folder->text();
        hidden = address->isHidden() && folder->isHidden() &&
                 d->findChild<QComboBox*>("rateList")->isHidden() &&
                 d->findChild<QPushButton*>("browseButton")->isHidden();
        ClickOk(d);
    });
    QVERIFY(hidden);
    QCOMPARE(addressText, QStringLiteral("800001a0"));
    QCOMPARE(folderText, QStringLiteral("/srv/boot/"));
    QCOMPARE(dialog.m_startAddress, 0x800001A0u);
    QCOMPARE(dialog.m_bootFolder, std::string("/srv/boot/"));
    QCOMPARE(dialog.m_baudRate, 115200);

    SettingsDialog zero;
    Prepared(zero, 2, 115200, 0);
    RunDialog(zero, [&](SettingsDialog* d) {
        addressText = d->findChild<QLineEdit*>("startAddressEdit")->text();
        ClickOk(d);
    });
    QCOMPARE(addressText, QStringLiteral("0"));
    QCOMPARE(zero.m_startAddress, 0u);
}

void SettingsDialogTest::startAddressTextIsParsedAsHex_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("address");
    const uint before = 0x12345678;
    QTest::newRow("plain") << "800001A0" << 0x800001A0u;
    QTest::newRow("blanks and prefix") << "  0x1f" << 0x1Fu;
    QTest::newRow("stops at a non-digit") << "1fg2" << 0x1Fu;
    QTest::newRow("longest") << "ffffffff" << 0xFFFFFFFFu;
    QTest::newRow("no number keeps the value") << "zz" << before;
    QTest::newRow("empty keeps the value") << "" << before;
}

void SettingsDialogTest::startAddressTextIsParsedAsHex() {
    QFETCH(QString, text);
    QFETCH(uint, address);
    SettingsDialog dialog;
    Prepared(dialog, 1, 115200, 0x12345678);
    RunDialog(dialog, [&](SettingsDialog* d) {
        d->findChild<QLineEdit*>("startAddressEdit")->setText(text);
        ClickOk(d);
    });
    QCOMPARE(dialog.m_startAddress, std::uint32_t(address));
}

void SettingsDialogTest::portTooltipsNameTheDevices() {
    SettingsDialog dialog;
    Prepared(dialog, 1, 115200, 0);
    dialog.SetPorts({{1, "/dev/pts/7"}, {8, "/dev/ttyUSB0"}});
    QStringList tips;
    RunDialog(dialog, [&](SettingsDialog* d) {
        auto* ports = d->findChild<QComboBox*>("portList");
        for (int i = 0; i < ports->count(); ++i) {
            tips << ports->itemData(i, Qt::ToolTipRole).toString();
        }
        ClickOk(d);
    });
    QCOMPARE(tips, QStringList({"/dev/pts/7", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3",
                                "/dev/ttyS4", "/dev/ttyS5", "/dev/ttyS6", "/dev/ttyUSB0"}));
}

void SettingsDialogTest::browsingAppendsOneSeparator() {
    quillon::testing::TempDir temp;
    const QString chosen = QString::fromStdString(temp / "boot");
    QDir().mkpath(chosen);
    SettingsDialog dialog;
    Prepared(dialog, 1, 115200, 0);
    QString shown;
    RunDialog(dialog, [&](SettingsDialog* d) {
        WhenModal<QFileDialog>([&](QFileDialog* browser) {
            browser->setDirectory(chosen);
            browser->selectFile(chosen);
            QMetaObject::invokeMethod(browser, "accept");
        });
        d->OnBrowse();
        shown = d->findChild<QLineEdit*>("bootFolderEdit")->text();
        WhenModal<QFileDialog>([](QFileDialog* browser) { browser->reject(); });
        d->OnBrowse();  // cancelled: the folder stays
        ClickOk(d);
    });
    QCOMPARE(shown, chosen + "/");
    QCOMPARE(dialog.m_bootFolder, chosen.toStdString() + "/");
}

void SettingsDialogTest::aboutShowsNameVersionAndBuild() {
    quillon::AboutDialog about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About "));
    QCOMPARE(about.findChild<QLabel*>("nameLabel")->text(),
             QStringLiteral("Quillon version 1.0.0"));
    QVERIFY(about.findChild<QLabel*>("buildLabel")->text().contains("1.0.0"));
    WhenModal<quillon::AboutDialog>(
        [](quillon::AboutDialog* d) { d->findChild<QPushButton*>("okButton")->click(); });
    QCOMPARE(about.exec(), int(QDialog::Accepted));
}

void SettingsDialogTest::enterPressesTheFocusedButton_data() {
    QTest::addColumn<bool>("about");
    QTest::addColumn<int>("tabs");
    QTest::addColumn<QString>("focused");
    QTest::addColumn<int>("result");
    const int ok = QDialog::Accepted, cancel = QDialog::Rejected;
    QTest::newRow("OK, focused at the start") << false << 0 << "okButton" << ok;
    QTest::newRow("Tab to Cancel") << false << 1 << "cancelButton" << cancel;
    QTest::newRow("Tab to the port list: the default, OK") << false << 2 << "portList" << ok;
    QTest::newRow("About: OK") << true << 0 << "okButton" << ok;
}

void SettingsDialogTest::enterPressesTheFocusedButton() {
    QFETCH(bool, about);
    QFETCH(int, tabs);
    QFETCH(QString, focused);
    QFETCH(int, result);
    QString seen;
    WhenModal<QDialog>([&](QDialog* d) {
        // Keys go where the focus is, and a window only has one once active.
        d->activateWindow();
        (void)QTest::qWaitForWindowActive(d);
        for (int i = 0; i < tabs; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QWidget* target = QApplication::focusWidget();
        seen = target ? target->objectName() : QString();
        QTest::keyClick(target ? target : d, Qt::Key_Return);
    });
    SettingsDialog settings;
    Prepared(settings, 3, 115200, 0);
    quillon::AboutDialog aboutBox;
    const int ended = about ? aboutBox.exec() : settings.DoModal();
    QCOMPARE(seen, focused);
    QCOMPARE(ended, result);
}

void SettingsDialogTest::labelsShowTheirTextsWhole_data() {
    QTest::addColumn<int>("pointSize");  // 0: the font as it is
    QTest::newRow("the font as it is") << 0;
    QTest::newRow("a larger font") << 15;
}

void SettingsDialogTest::labelsShowTheirTextsWhole() {
    QFETCH(int, pointSize);
    quillon::testing::ApplicationFont font(pointSize);
    // Each label shows its text whole and lies inside its box, left of the
    // control that follows it on its line, if any.
    auto check = [](QDialog& dialog, const char* labelName, const char* nextName) {
        dialog.show();
        auto* label = dialog.findChild<QLabel*>(labelName);
        QVERIFY2(label->width() >= label->sizeHint().width(), labelName);
        QVERIFY2(dialog.rect().contains(label->geometry()), labelName);
        if (nextName != nullptr) {
            const QRect next = dialog.findChild<QWidget*>(nextName)->geometry();
            QVERIFY2(label->geometry().right() < next.left(), labelName);
            QVERIFY2(dialog.rect().contains(next), nextName);
        }
        dialog.hide();
    };
    quillon::AboutDialog about;
    check(about, "nameLabel", nullptr);
    check(about, "buildLabel", "okButton");
    SettingsDialog settings;
    check(settings, "portLabel", "portList");
    QVERIFY(settings.findChild<QPushButton*>("okButton")->geometry().right() <
            settings.findChild<QPushButton*>("cancelButton")->x());
}

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
